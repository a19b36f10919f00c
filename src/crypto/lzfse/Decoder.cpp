#include "crypto/lzfse/Decoder.h"

#include <algorithm>
#include <cstring>

#include "crypto/lzfse/DeclaredSize.h"
#include "crypto/lzfse/LZFSE.h"

namespace wm::lzfse {

namespace {

// Room the fast copy paths may write past the end of a triple or instruction.
constexpr std::size_t copySlack = Decoder::slack;
// Bytes after the decoded literals that wide literal copies may read.
constexpr std::size_t literalSlack = 64;

inline std::uint64_t lowMask(unsigned n) { return (std::uint64_t{1} << n) - 1; }

inline void copy8(std::uint8_t* d, const std::uint8_t* s) { std::memcpy(d, s, 8); }
inline void copy16(std::uint8_t* d, const std::uint8_t* s) { std::memcpy(d, s, 16); }

// Exact byte-by-byte back-copy; overlapping sources repeat the pattern.
inline void copyMatchExact(std::uint8_t* d, std::size_t dist, std::size_t length) {
    const std::uint8_t* s = d - dist;
    for (std::size_t i = 0; i < length; ++i) d[i] = s[i];
}

// Back-copy that may write up to 15 bytes past d + length.
inline void copyMatchWide(std::uint8_t* d, std::size_t dist, std::size_t length) {
    std::uint8_t* end = d + length;
    if (dist >= 16) {
        const std::uint8_t* s = d - dist;
        do {
            copy16(d, s);
            d += 16;
            s += 16;
        } while (d < end);
        return;
    }
    // A match closer than the copy width repeats a pattern of period dist; any multiple
    // of dist is a period too, once the bytes it reaches back to have been written.
    std::size_t period = dist;
    while (period < 8) period += dist;
    std::size_t head = period - dist;
    if (head > length) head = length;
    const std::uint8_t* s = d - dist;
    for (std::size_t i = 0; i < head; ++i) d[i] = s[i];
    d += head;
    s = d - period;
    while (d < end) {
        copy8(d, s);
        d += 8;
        s += 8;
    }
}

enum class Op : std::uint8_t {
    smallDist,
    mediumDist,
    largeDist,
    prevDist,
    smallLit,
    largeLit,
    smallMatch,
    largeMatch,
    endOfStream,
    nop,
    invalid
};

constexpr std::array<Op, 256> lzvnOpcodes = [] {
    std::array<Op, 256> ops{};
    for (int b = 0; b < 256; ++b) {
        Op op;
        if (b == 0x06)
            op = Op::endOfStream;
        else if (b == 0x0E || b == 0x16)
            op = Op::nop;
        else if (b == 0xE0)
            op = Op::largeLit;
        else if (b >= 0xE1 && b <= 0xEF)
            op = Op::smallLit;
        else if (b == 0xF0)
            op = Op::largeMatch;
        else if (b >= 0xF1)
            op = Op::smallMatch;
        else if (b >= 0xA0 && b <= 0xBF)
            op = Op::mediumDist;
        else if ((b >= 0x70 && b <= 0x7F) || (b >= 0xD0 && b <= 0xDF))
            op = Op::invalid;
        else if ((b & 7) == 7)
            op = Op::largeDist;
        else if ((b & 7) == 6)
            op = (b >> 6) != 0 ? Op::prevDist : Op::invalid;
        else
            op = Op::smallDist;
        ops[static_cast<std::size_t>(b)] = op;
    }
    return ops;
}();

std::uint16_t read16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

}  // namespace

struct Decoder::LZFSEHeader {
    std::size_t headerSize = 0;
    std::uint32_t rawSize = 0;
    std::uint32_t numLiterals = 0;
    std::uint32_t numMatches = 0;
    std::uint32_t litPayloadSize = 0;
    std::uint32_t lmdPayloadSize = 0;
    int litBits = 0;
    int lmdBits = 0;
    std::uint32_t litState[4] = {};
    std::uint32_t lState = 0, mState = 0, dState = 0;
    std::uint16_t lFreq[lSymbols] = {};
    std::uint16_t mFreq[mSymbols] = {};
    std::uint16_t dFreq[dSymbols] = {};
    std::uint16_t litFreq[literalSymbols] = {};
};

struct Decoder::Scratch {
    std::array<std::uint8_t, maxLiteralsPerBlock + literalSlack> literals{};
    std::array<LiteralDecodeEntry, literalStates> literalTable{};
    std::array<ValueDecodeEntry, lStates> lTable{};
    std::array<ValueDecodeEntry, mStates> mTable{};
    std::array<ValueDecodeEntry, dStates> dTable{};
};

Decoder::Decoder(ByteView input, Bytes& output, std::size_t limit) : input_(input), output_(output), limit_(limit) {}

Decoder::~Decoder() = default;

void Decoder::fail(const char* reason) const { throw LZFSEError::malformed(in_, reason); }

void Decoder::failTruncated() const { throw LZFSEError::truncated(in_); }

void Decoder::failOverflow(std::uint64_t wanted) const { throw LZFSEError::sizeMismatch(limit_, wanted); }

std::size_t Decoder::makeRoom(std::uint32_t rawSize, std::uint64_t bound) {
    if (rawSize > limit_ - pos_) failOverflow(std::uint64_t{pos_} + rawSize);
    const auto room = static_cast<std::size_t>(std::min<std::uint64_t>(rawSize, bound));
    const std::size_t wanted = pos_ + room + copySlack;
    if (output_.size() < wanted) output_.resize(wanted);
    out_ = output_.data();
    capacity_ = output_.size();
    return room;
}

std::size_t Decoder::run() {
    for (;;) {
        if (remainingInput() < 4) failTruncated();
        const std::uint32_t magic = load32(input_.data() + in_);
        switch (magic) {
        case endOfStreamMagic:
            in_ += 4;
            if (in_ != input_.size()) fail("bytes after the end-of-stream marker");
            output_.resize(pos_);
            return pos_;
        case uncompressedMagic: decodeUncompressed(); break;
        case lzvnMagic: decodeLZVN(); break;
        case lzfseV1Magic: decodeLZFSE(false); break;
        case lzfseV2Magic: decodeLZFSE(true); break;
        default: throw LZFSEError::unknownMagic(in_, magic);
        }
    }
}

void Decoder::decodeUncompressed() {
    if (remainingInput() < 8) failTruncated();
    const std::uint32_t rawSize = load32(input_.data() + in_ + 4);
    if (rawSize > remainingInput() - 8) failTruncated();
    makeRoom(rawSize, rawSize);  // its bytes are in the input
    if (rawSize != 0) std::memcpy(out_ + pos_, input_.data() + in_ + 8, rawSize);
    pos_ += rawSize;
    in_ += 8 + std::size_t{rawSize};
}

void Decoder::decodeLZVN() {
    if (remainingInput() < 12) failTruncated();
    const std::uint8_t* block = input_.data() + in_;
    const std::uint32_t rawSize = load32(block + 4);
    const std::uint32_t payloadSize = load32(block + 8);
    if (payloadSize > remainingInput() - 12) failTruncated();
    if (rawSize == 0) fail("LZVN block with no content");
    const std::size_t room = makeRoom(rawSize, lzvnOutputBound(payloadSize));

    const std::uint8_t* ip = block + 12;
    const std::uint8_t* const ipEnd = ip + payloadSize;
    std::uint8_t* const out = out_;
    std::size_t pos = pos_;
    const std::size_t limit = pos_ + room;
    std::size_t prevDist = 0;

    for (;;) {
        const std::size_t avail = static_cast<std::size_t>(ipEnd - ip);
        if (avail == 0) fail("LZVN payload without end-of-stream instruction");
        const std::uint8_t op = ip[0];
        std::size_t fixed = 1, lits = 0, match = 0, dist = prevDist;
        bool setsDistance = false;
        switch (lzvnOpcodes[op]) {
        case Op::smallDist:
            fixed = 2;
            if (avail < fixed) fail("LZVN instruction runs past the payload");
            lits = op >> 6;
            match = ((op >> 3) & 7) + 3;
            dist = (std::size_t{op & 7u} << 8) | ip[1];
            setsDistance = true;
            break;
        case Op::mediumDist: {
            fixed = 3;
            if (avail < fixed) fail("LZVN instruction runs past the payload");
            const std::uint16_t w = read16(ip + 1);
            lits = (op >> 3) & 3;
            match = ((std::size_t{op & 7u} << 2) | (w & 3u)) + 3;
            dist = w >> 2;
            setsDistance = true;
            break;
        }
        case Op::largeDist:
            fixed = 3;
            if (avail < fixed) fail("LZVN instruction runs past the payload");
            lits = op >> 6;
            match = ((op >> 3) & 7) + 3;
            dist = read16(ip + 1);
            setsDistance = true;
            break;
        case Op::prevDist:
            lits = op >> 6;
            match = ((op >> 3) & 7) + 3;
            break;
        case Op::smallLit: lits = op & 15; break;
        case Op::largeLit:
            fixed = 2;
            if (avail < fixed) fail("LZVN instruction runs past the payload");
            lits = std::size_t{ip[1]} + 16;
            break;
        case Op::smallMatch: match = op & 15; break;
        case Op::largeMatch:
            fixed = 2;
            if (avail < fixed) fail("LZVN instruction runs past the payload");
            match = std::size_t{ip[1]} + 16;
            break;
        case Op::nop: ++ip; continue;
        case Op::endOfStream:
            if (avail != 8)
                fail(avail < 8 ? "truncated LZVN end-of-stream instruction"
                               : "bytes after the LZVN end-of-stream instruction");
            if (pos != pos_ + rawSize) fail("LZVN block shorter than its declared size");
            pos_ = pos;
            in_ += 12 + std::size_t{payloadSize};
            return;
        case Op::invalid: fail("invalid LZVN opcode");
        }
        if (lits > avail - fixed) fail("LZVN literals run past the payload");
        if (lits + match > limit - pos) fail("LZVN block longer than its declared size");
        ip += fixed;
        if (lits != 0) {
            std::memcpy(out + pos, ip, lits);
            ip += lits;
            pos += lits;
        }
        if (match != 0) {
            if (dist == 0) fail("LZVN match without a distance");
            if (dist > pos) fail("LZVN match reaches before the start of the output");
            if (capacity_ - pos >= match + copySlack)
                copyMatchWide(out + pos, dist, match);
            else
                copyMatchExact(out + pos, dist, match);
            pos += match;
        }
        if (setsDistance) prevDist = dist;
    }
}

void Decoder::readV1Header(LZFSEHeader& h) {
    if (remainingInput() < v1HeaderSize) failTruncated();
    const std::uint8_t* p = input_.data() + in_;
    h.headerSize = v1HeaderSize;
    h.rawSize = load32(p + 4);
    h.numLiterals = load32(p + 12);
    h.numMatches = load32(p + 16);
    h.litPayloadSize = load32(p + 20);
    h.lmdPayloadSize = load32(p + 24);
    const auto litBits = static_cast<std::int32_t>(load32(p + 28));
    const auto lmdBits = static_cast<std::int32_t>(load32(p + 40));
    if (litBits < -7 || litBits > 0 || lmdBits < -7 || lmdBits > 0) fail("bit adjustment out of range");
    h.litBits = litBits;
    h.lmdBits = lmdBits;
    for (int i = 0; i < 4; ++i) h.litState[i] = read16(p + 32 + 2 * i);
    h.lState = read16(p + 44);
    h.mState = read16(p + 46);
    h.dState = read16(p + 48);
    for (int i = 0; i < lSymbols; ++i) h.lFreq[i] = read16(p + 50 + 2 * i);
    for (int i = 0; i < mSymbols; ++i) h.mFreq[i] = read16(p + 90 + 2 * i);
    for (int i = 0; i < dSymbols; ++i) h.dFreq[i] = read16(p + 130 + 2 * i);
    for (int i = 0; i < literalSymbols; ++i) h.litFreq[i] = read16(p + 258 + 2 * i);
}

void Decoder::readV2Header(LZFSEHeader& h) {
    if (remainingInput() < v2FixedHeaderSize) failTruncated();
    const std::uint8_t* p = input_.data() + in_;
    h.rawSize = load32(p + 4);
    const std::uint64_t p0 = load64(p + 8), p1 = load64(p + 16), p2 = load64(p + 24);
    h.numLiterals = static_cast<std::uint32_t>(p0 & 0xFFFFF);
    h.litPayloadSize = static_cast<std::uint32_t>((p0 >> 20) & 0xFFFFF);
    h.numMatches = static_cast<std::uint32_t>((p0 >> 40) & 0xFFFFF);
    h.litBits = static_cast<int>((p0 >> 60) & 7) - 7;
    for (int i = 0; i < 4; ++i) h.litState[i] = static_cast<std::uint32_t>((p1 >> (10 * i)) & 0x3FF);
    h.lmdPayloadSize = static_cast<std::uint32_t>((p1 >> 40) & 0xFFFFF);
    h.lmdBits = static_cast<int>((p1 >> 60) & 7) - 7;
    const std::uint32_t headerSize = static_cast<std::uint32_t>(p2 & 0xFFFFFFFF);
    h.lState = static_cast<std::uint32_t>((p2 >> 32) & 0x3FF);
    h.mState = static_cast<std::uint32_t>((p2 >> 42) & 0x3FF);
    h.dState = static_cast<std::uint32_t>((p2 >> 52) & 0x3FF);
    if (headerSize < v2FixedHeaderSize) fail("header size below its fixed part");
    if (headerSize > remainingInput()) failTruncated();
    h.headerSize = headerSize;
    if (headerSize == v2FixedHeaderSize) return;  // tables omitted: every frequency is 0

    // The frequencies follow as one forward bit string of prefix codes.
    const std::uint8_t* table = p + v2FixedHeaderSize;
    const std::size_t tableBytes = headerSize - v2FixedHeaderSize;
    const std::uint64_t tableBits = std::uint64_t{tableBytes} * 8;
    std::uint64_t bit = 0;
    auto peek = [&](std::uint64_t at) {
        // Up to 14 bits from bit position `at`; bits past the table read as 0.
        std::uint32_t v = 0;
        const std::size_t byte = static_cast<std::size_t>(at >> 3);
        for (std::size_t i = 0; i < 3 && byte + i < tableBytes; ++i) v |= std::uint32_t{table[byte + i]} << (8 * i);
        return (v >> (at & 7)) & 0x3FFF;
    };
    std::uint16_t* targets[4] = {h.lFreq, h.mFreq, h.dFreq, h.litFreq};
    const int counts[4] = {lSymbols, mSymbols, dSymbols, literalSymbols};
    for (int t = 0; t < 4; ++t) {
        for (int i = 0; i < counts[t]; ++i) {
            const std::uint32_t c = peek(bit);
            unsigned length;
            std::uint32_t value;
            if ((c & 1) == 0) {
                length = 2;
                value = (c >> 1) & 1;
            } else if ((c & 3) == 1) {
                length = 3;
                value = 2 + ((c >> 2) & 1);
            } else if ((c & 7) == 3) {
                length = 5;
                value = 4 + ((c >> 3) & 3);
            } else if ((c & 15) == 7) {
                length = 8;
                value = 8 + ((c >> 4) & 15);
            } else {
                length = 14;
                value = 24 + ((c >> 4) & 0x3FF);
            }
            if (bit + length > tableBits) fail("frequency table runs past the header");
            bit += length;
            targets[t][i] = static_cast<std::uint16_t>(value);
        }
    }
    if ((bit + 7) / 8 != tableBytes) fail("header longer than its frequency tables");
}

void Decoder::decodeLZFSE(bool v2) {
    LZFSEHeader h;
    if (v2)
        readV2Header(h);
    else
        readV1Header(h);

    if (h.numLiterals > maxLiteralsPerBlock) fail("too many literals in a block");
    if (h.numLiterals % 4 != 0) fail("literal count not a multiple of 4");
    if (h.numMatches > maxMatchesPerBlock) fail("too many matches in a block");
    for (std::uint32_t s : h.litState)
        if (s >= literalStates) fail("literal state out of range");
    if (h.lState >= lStates || h.mState >= mStates || h.dState >= dStates) fail("L, M or D state out of range");

    const std::uint64_t blockSize = std::uint64_t{h.headerSize} + h.litPayloadSize + h.lmdPayloadSize;
    if (blockSize > remainingInput()) failTruncated();
    // The bit readers may load one byte past a payload; a valid stream always has at
    // least the end-of-stream marker there.
    if (blockSize + 4 > remainingInput()) failTruncated();
    const std::size_t room = makeRoom(h.rawSize, lzfseOutputBound(h.numLiterals, h.numMatches, h.lmdPayloadSize));

    auto sumOf = [](const std::uint16_t* f, int n) {
        std::uint32_t s = 0;
        for (int i = 0; i < n; ++i) s += f[i];
        return s;
    };
    const std::uint32_t litSum = sumOf(h.litFreq, literalSymbols);
    const std::uint32_t lSum = sumOf(h.lFreq, lSymbols), mSum = sumOf(h.mFreq, mSymbols),
                        dSum = sumOf(h.dFreq, dSymbols);
    if (litSum > literalStates || lSum > lStates || mSum > mStates || dSum > dStates)
        fail("frequency table sums to more than its state count");

    if (!scratch_) scratch_ = std::make_unique<Scratch>();
    Scratch& s = *scratch_;
    if (h.numLiterals != 0 && !buildLiteralDecodeTable(h.litFreq, s.literalTable.data()))
        fail("incomplete literal frequency table");
    if (h.numMatches != 0 &&
        (!buildValueDecodeTable(h.lFreq, lSymbols, lStates, lExtraBits.data(), lBase.data(), s.lTable.data()) ||
         !buildValueDecodeTable(h.mFreq, mSymbols, mStates, mExtraBits.data(), mBase.data(), s.mTable.data()) ||
         !buildValueDecodeTable(h.dFreq, dSymbols, dStates, dExtraBits.data(), dBase.data(), s.dTable.data())))
        fail("incomplete L, M or D frequency table");

    const std::uint8_t* block = input_.data() + in_;
    const std::uint8_t* litPayload = block + h.headerSize;
    const std::uint8_t* lmdPayload = litPayload + h.litPayloadSize;
    decodeLiterals(h, litPayload);
    executeTriples(h, lmdPayload, room);
    in_ += static_cast<std::size_t>(blockSize);
}

namespace {

// Start position (in bits) of a backward bit stream, after checking its padding.
// Returns -1 when the header's bit adjustment does not fit the payload.
std::int64_t streamBits(const std::uint8_t* payload, std::uint32_t size, int bitAdjust) {
    const std::int64_t total = std::int64_t{size} * 8 + bitAdjust;
    if (total < 0) return -1;
    if (bitAdjust < 0 && (payload[size - 1] >> (8 + bitAdjust)) != 0) return -1;
    return total;
}

}  // namespace

// Literal payload reads load the 8 bytes ending one byte above the current bit position.
// The payload always starts at least 32 bytes into the block (after the header) and a
// byte of input follows it, so those loads stay inside the input.
void Decoder::decodeLiterals(const LZFSEHeader& h, const std::uint8_t* payload) {
    std::int64_t bitPos = streamBits(payload, h.litPayloadSize, h.litBits);
    if (bitPos < 0) fail("literal payload padding invalid");
    if (h.numLiterals == 0) return;
    const LiteralDecodeEntry* table = scratch_->literalTable.data();
    std::uint8_t* lits = scratch_->literals.data();
    std::uint32_t s0 = h.litState[0], s1 = h.litState[1], s2 = h.litState[2], s3 = h.litState[3];
    for (std::uint32_t i = 0; i < h.numLiterals; i += 4) {
        const std::uint64_t w = load64(payload + (bitPos >> 3) - 7);
        const unsigned top = 56 + static_cast<unsigned>(bitPos & 7);
        unsigned off = top;
        auto step = [&](std::uint32_t& state, std::uint8_t* dst) {
            const LiteralDecodeEntry e = table[state];
            *dst = e.symbol;
            off -= e.nbits;
            state = e.base + static_cast<std::uint32_t>((w >> off) & lowMask(e.nbits));
        };
        step(s0, lits + i);
        step(s1, lits + i + 1);
        step(s2, lits + i + 2);
        step(s3, lits + i + 3);
        bitPos -= top - off;
        if (bitPos < 0) fail("literal payload exhausted");
    }
}

void Decoder::executeTriples(const LZFSEHeader& h, const std::uint8_t* payload, std::size_t room) {
    std::int64_t bitPos = streamBits(payload, h.lmdPayloadSize, h.lmdBits);
    if (bitPos < 0) fail("match payload padding invalid");
    const ValueDecodeEntry* lTable = scratch_->lTable.data();
    const ValueDecodeEntry* mTable = scratch_->mTable.data();
    const ValueDecodeEntry* dTable = scratch_->dTable.data();
    const std::uint8_t* lits = scratch_->literals.data();
    std::uint32_t litLeft = h.numLiterals;
    std::uint32_t lState = h.lState, mState = h.mState, dState = h.dState;
    std::uint8_t* const out = out_;
    std::size_t pos = pos_;
    const std::size_t limit = pos_ + room;
    // A wide copy needs slack in the output buffer; it may spill over the block's end
    // into bytes later blocks overwrite.
    const std::size_t fastLimit = capacity_ >= copySlack ? capacity_ - copySlack : 0;
    std::size_t dist = 0;  // 0: no distance yet in this block

    for (std::uint32_t t = 0; t < h.numMatches; ++t) {
        const std::uint64_t w = load64(payload + (bitPos >> 3) - 7);
        const unsigned top = 56 + static_cast<unsigned>(bitPos & 7);
        unsigned off = top;
        auto value = [&](const ValueDecodeEntry* table, std::uint32_t& state) {
            const ValueDecodeEntry e = table[state];
            off -= e.totalBits;
            const std::uint32_t bits = static_cast<std::uint32_t>((w >> off) & lowMask(e.totalBits));
            state = e.base + (bits >> e.extraBits);
            return e.valueBase + (bits & static_cast<std::uint32_t>(lowMask(e.extraBits)));
        };
        const std::uint32_t L = value(lTable, lState);
        const std::uint32_t M = value(mTable, mState);
        const std::uint32_t D = value(dTable, dState);
        bitPos -= top - off;
        if (bitPos < 0) fail("match payload exhausted");

        if (L > litLeft) fail("triples use more literals than the block holds");
        if (D != 0) dist = D;
        if (dist == 0) fail("first triple of a block repeats a distance");
        if (std::size_t{L} + M > limit - pos) fail("block longer than its declared size");
        if (dist > pos + L) fail("match reaches before the start of the output");

        if (pos + L + M <= fastLimit) {
            std::uint8_t* d = out + pos;
            const std::uint8_t* s = lits;
            for (std::uint32_t i = 0; i < L; i += 16) copy16(d + i, s + i);
            pos += L;
            if (M != 0) copyMatchWide(out + pos, dist, M);
            pos += M;
        } else {
            if (L != 0) std::memcpy(out + pos, lits, L);
            pos += L;
            copyMatchExact(out + pos, dist, M);
            pos += M;
        }
        lits += L;
        litLeft -= L;
    }
    if (pos != pos_ + h.rawSize) fail("block shorter than its declared size");
    pos_ = pos;
}

}  // namespace wm::lzfse
