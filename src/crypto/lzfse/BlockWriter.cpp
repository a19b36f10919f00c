#include "crypto/lzfse/BlockWriter.h"

#include <algorithm>
#include <array>
#include <bit>

#include "crypto/lzfse/BitWriter.h"
#include "crypto/lzfse/FSE.h"
#include "crypto/lzfse/Format.h"

namespace wm::lzfse {

namespace {

inline unsigned lSymbol(std::uint32_t v) {
    if (v < 16) return v;
    return v < 20 ? 16 : v < 28 ? 17 : v < 60 ? 18 : 19;
}

inline unsigned mSymbol(std::uint32_t v) {
    if (v < 16) return v;
    return v < 24 ? 16 : v < 56 ? 17 : v < 312 ? 18 : 19;
}

// Symbol s = 4e + j covers the values from 2^(e+2) - 4 + j * 2^e on.
inline unsigned dSymbol(std::uint32_t v) {
    const std::uint32_t u = v + 4;
    const unsigned e = static_cast<unsigned>(std::bit_width(u)) - 3;
    const unsigned j = (u - (1u << (e + 2))) >> e;
    return 4 * e + j;
}

// Prefix code of one frequency in a v2 header: {length, code value}.
inline std::pair<unsigned, std::uint32_t> frequencyCode(std::uint32_t v) {
    switch (v) {
    case 0: return {2, 0};
    case 1: return {2, 2};
    case 2: return {3, 1};
    case 3: return {3, 5};
    default: break;
    }
    if (v < 8) return {5, 3 + ((v - 4) << 3)};
    if (v < 24) return {8, 7 + ((v - 8) << 4)};
    return {14, 15 + ((v - 24) << 4)};
}

void append32(Bytes& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

void append64(Bytes& out, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

}  // namespace

BlockWriter::BlockWriter(ByteView input, std::size_t start, Bytes& out)
    : input_(input), out_(out), blockStart_(start), position_(start) {
    literals_.reserve(maxLiteralsPerBlock + 4);
    triples_.reserve(maxMatchesPerBlock);
}

void BlockWriter::sequence(std::size_t literalStart, std::size_t literalLength, std::size_t matchLength,
                           std::uint32_t distance) {
    while (literalLength > maxLiteralRun) {
        addTriple(literalStart, maxLiteralRun, 0, 0);
        literalStart += maxLiteralRun;
        literalLength -= maxLiteralRun;
    }
    std::uint32_t chunk = static_cast<std::uint32_t>(std::min<std::size_t>(matchLength, maxMatchRun));
    addTriple(literalStart, static_cast<std::uint32_t>(literalLength), chunk, distance);
    matchLength -= chunk;
    while (matchLength > 0) {
        chunk = static_cast<std::uint32_t>(std::min<std::size_t>(matchLength, maxMatchRun));
        addTriple(position_, 0, chunk, distance);
        matchLength -= chunk;
    }
}

void BlockWriter::finish(std::size_t literalStart, std::size_t literalLength) {
    while (literalLength > 0) {
        const auto chunk = static_cast<std::uint32_t>(std::min<std::size_t>(literalLength, maxLiteralRun));
        addTriple(literalStart, chunk, 0, 0);
        literalStart += chunk;
        literalLength -= chunk;
    }
    flushBlock();
}

void BlockWriter::addTriple(std::size_t literalStart, std::uint32_t literals, std::uint32_t match,
                            std::uint32_t distance) {
    if (triples_.size() == maxMatchesPerBlock || literals_.size() + literals > maxLiteralsPerBlock) flushBlock();
    const bool first = triples_.empty();
    std::uint32_t coded;
    if (match == 0) {
        // A literal-only triple still needs a valid distance: repeat the last one, or
        // give 1 at the start of a block (the output then holds at least one byte).
        coded = first ? 1 : 0;
        if (first) lastDistance_ = 1;
    } else {
        coded = (!first && distance == lastDistance_) ? 0 : distance;
        lastDistance_ = distance;
    }
    literals_.insert(literals_.end(), input_.begin() + static_cast<std::ptrdiff_t>(literalStart),
                     input_.begin() + static_cast<std::ptrdiff_t>(literalStart + literals));
    triples_.push_back({static_cast<std::uint16_t>(literals), static_cast<std::uint16_t>(match), coded});
    position_ += std::size_t{literals} + match;
}

void BlockWriter::writeUncompressed(std::size_t from, std::size_t to) {
    append32(out_, uncompressedMagic);
    append32(out_, static_cast<std::uint32_t>(to - from));
    out_.insert(out_.end(), input_.begin() + static_cast<std::ptrdiff_t>(from),
                input_.begin() + static_cast<std::ptrdiff_t>(to));
}

void BlockWriter::flushBlock() {
    if (triples_.empty()) return;
    const std::size_t rawSize = position_ - blockStart_;
    const std::size_t outStart = out_.size();

    // Literals are padded with zeros to whole groups of four.
    while (literals_.size() % 4 != 0) literals_.push_back(0);
    const std::size_t numLiterals = literals_.size();
    const std::size_t numMatches = triples_.size();

    std::array<std::uint32_t, literalSymbols> litCounts{};
    std::array<std::uint32_t, lSymbols> lCounts{};
    std::array<std::uint32_t, mSymbols> mCounts{};
    std::array<std::uint32_t, dSymbols> dCounts{};
    for (std::uint8_t b : literals_) ++litCounts[b];
    for (const Triple& t : triples_) {
        ++lCounts[lSymbol(t.literals)];
        ++mCounts[mSymbol(t.match)];
        ++dCounts[dSymbol(t.distance)];
    }
    std::array<std::uint16_t, literalSymbols> litFreq{};
    std::array<std::uint16_t, lSymbols> lFreq{};
    std::array<std::uint16_t, mSymbols> mFreq{};
    std::array<std::uint16_t, dSymbols> dFreq{};
    normalizeFrequencies(litCounts.data(), literalSymbols, literalStates, litFreq.data());
    normalizeFrequencies(lCounts.data(), lSymbols, lStates, lFreq.data());
    normalizeFrequencies(mCounts.data(), mSymbols, mStates, mFreq.data());
    normalizeFrequencies(dCounts.data(), dSymbols, dStates, dFreq.data());
    std::array<EncodeSymbol, literalSymbols> litTable;
    std::array<EncodeSymbol, lSymbols> lTable;
    std::array<EncodeSymbol, mSymbols> mTable;
    std::array<EncodeSymbol, dSymbols> dTable;
    buildEncodeTable(litFreq.data(), literalSymbols, literalStates, litTable.data());
    buildEncodeTable(lFreq.data(), lSymbols, lStates, lTable.data());
    buildEncodeTable(mFreq.data(), mSymbols, mStates, mTable.data());
    buildEncodeTable(dFreq.data(), dSymbols, dStates, dTable.data());

    // Literal payload: groups from last to first, each from its fourth literal down.
    Bytes literalPayload(numLiterals * 10 / 8 + 16);
    std::uint32_t litState[4] = {0, 0, 0, 0};
    BitWriter litWriter(literalPayload.data());
    for (std::size_t g = numLiterals; g > 0; g -= 4) {
        for (int j = 3; j >= 0; --j) {
            std::uint32_t bits;
            const unsigned n =
                encodeStep(litTable[literals_[g - 4 + static_cast<std::size_t>(j)]], literalStates, litState[j], bits);
            litWriter.put(bits, n);
        }
        litWriter.flush();
    }
    int litBits = 0;
    const std::size_t litPayloadSize = litWriter.finish(litBits);

    // Triples from last to first: D, then M, then L, each its extra bits before its state bits.
    Bytes lmdPayload(8 + numMatches * 54 / 8 + 16, 0);
    std::uint32_t lState = 0, mState = 0, dState = 0;
    BitWriter lmdWriter(lmdPayload.data() + 8);
    for (std::size_t i = numMatches; i-- > 0;) {
        const Triple& t = triples_[i];
        std::uint32_t bits;
        const unsigned ds = dSymbol(t.distance);
        lmdWriter.put(t.distance - dBase[ds], dExtraBits[ds]);
        unsigned n = encodeStep(dTable[ds], dStates, dState, bits);
        lmdWriter.put(bits, n);
        const unsigned ms = mSymbol(t.match);
        lmdWriter.put(t.match - mBase[ms], mExtraBits[ms]);
        n = encodeStep(mTable[ms], mStates, mState, bits);
        lmdWriter.put(bits, n);
        const unsigned ls = lSymbol(t.literals);
        lmdWriter.put(t.literals - lBase[ls], lExtraBits[ls]);
        n = encodeStep(lTable[ls], lStates, lState, bits);
        lmdWriter.put(bits, n);
        lmdWriter.flush();
    }
    int lmdBits = 0;
    const std::size_t lmdPayloadSize = 8 + lmdWriter.finish(lmdBits);

    // Frequency tables as prefix codes, in the order L, M, D, literals.
    std::array<std::uint8_t, 700> tableBytes{};
    BitWriter tableWriter(tableBytes.data());
    auto putTable = [&](const std::uint16_t* freq, int count) {
        for (int i = 0; i < count; ++i) {
            const auto [length, code] = frequencyCode(freq[i]);
            tableWriter.put(code, length);
            tableWriter.flush();
        }
    };
    putTable(lFreq.data(), lSymbols);
    putTable(mFreq.data(), mSymbols);
    putTable(dFreq.data(), dSymbols);
    putTable(litFreq.data(), literalSymbols);
    int unusedBits = 0;
    const std::size_t tableSize = tableWriter.finish(unusedBits);
    const std::size_t headerSize = v2FixedHeaderSize + tableSize;

    append32(out_, lzfseV2Magic);
    append32(out_, static_cast<std::uint32_t>(rawSize));
    append64(out_, std::uint64_t{numLiterals} | std::uint64_t{litPayloadSize} << 20 | std::uint64_t{numMatches} << 40 |
                       std::uint64_t(litBits + 7) << 60);
    append64(out_, std::uint64_t{litState[0]} | std::uint64_t{litState[1]} << 10 | std::uint64_t{litState[2]} << 20 |
                       std::uint64_t{litState[3]} << 30 | std::uint64_t{lmdPayloadSize} << 40 |
                       std::uint64_t(lmdBits + 7) << 60);
    append64(out_, std::uint64_t{headerSize} | std::uint64_t{lState} << 32 | std::uint64_t{mState} << 42 |
                       std::uint64_t{dState} << 52);
    out_.insert(out_.end(), tableBytes.begin(), tableBytes.begin() + static_cast<std::ptrdiff_t>(tableSize));
    out_.insert(out_.end(), literalPayload.begin(),
                literalPayload.begin() + static_cast<std::ptrdiff_t>(litPayloadSize));
    out_.insert(out_.end(), lmdPayload.begin(), lmdPayload.begin() + static_cast<std::ptrdiff_t>(lmdPayloadSize));

    if (out_.size() - outStart >= 8 + rawSize) {
        out_.resize(outStart);
        writeUncompressed(blockStart_, position_);
    }

    literals_.clear();
    triples_.clear();
    blockStart_ = position_;
    lastDistance_ = 0;
}

}  // namespace wm::lzfse
