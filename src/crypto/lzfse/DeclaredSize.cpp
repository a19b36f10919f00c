#include "crypto/lzfse/DeclaredSize.h"

#include <algorithm>

#include "crypto/lzfse/Format.h"

namespace wm::lzfse {

namespace {

// The most output one byte of LZVN payload can give: a two-byte match instruction
// copies up to 271 bytes.
constexpr std::uint64_t maxLZVNExpansion = 136;
// Match lengths up to 15 have symbols of their own, with no extra bits; a longer match
// spends extra bits, at most 2,344 bytes beyond 15 for 11 bits (symbol 19), so each bit
// of the triple payload adds at most 214 bytes.
constexpr std::uint64_t matchRunWithoutExtraBits = 15;
constexpr std::uint64_t matchRunPerPayloadBit = 214;
static_assert(matchRunWithoutExtraBits + 11 * matchRunPerPayloadBit >= maxMatchRun);

// A block's literals are at most its literal count, and a decoder refuses blocks with more
// literals or triples than a block may hold.
bool fits(std::uint64_t rawSize, std::uint64_t literals, std::uint64_t matches, std::uint64_t matchPayloadSize) {
    return literals <= maxLiteralsPerBlock && matches <= maxMatchesPerBlock &&
           rawSize <= lzfseOutputBound(literals, matches, matchPayloadSize);
}

}  // namespace

std::uint64_t lzvnOutputBound(std::uint64_t payloadSize) { return payloadSize * maxLZVNExpansion; }

std::uint64_t lzfseOutputBound(std::uint64_t literals, std::uint64_t matches, std::uint64_t matchPayloadSize) {
    // Every field is below 2^32, so none of this overflows.
    const std::uint64_t matched = std::min(
        matches * maxMatchRun, matches * matchRunWithoutExtraBits + matchPayloadSize * 8 * matchRunPerPayloadBit);
    return literals + matched;
}

std::optional<std::uint64_t> declaredSize(ByteView stream) {
    const std::uint64_t size = stream.size();
    std::uint64_t total = 0;
    std::uint64_t at = 0;
    auto has = [&](std::uint64_t bytes) { return bytes <= size - at; };
    while (has(4)) {
        const std::uint8_t* block = stream.data() + at;
        const std::uint32_t magic = load32(block);
        if (magic == endOfStreamMagic) return total;
        std::uint64_t blockSize = 0;
        std::uint64_t rawSize = 0;
        switch (magic) {
        case uncompressedMagic:
            if (!has(8)) return std::nullopt;
            rawSize = load32(block + 4);
            blockSize = 8 + rawSize;
            break;
        case lzvnMagic: {
            if (!has(12)) return std::nullopt;
            rawSize = load32(block + 4);
            const std::uint64_t payload = load32(block + 8);
            if (rawSize > lzvnOutputBound(payload)) return std::nullopt;
            blockSize = 12 + payload;
            break;
        }
        case lzfseV1Magic: {
            if (!has(v1HeaderSize)) return std::nullopt;
            rawSize = load32(block + 4);
            const std::uint64_t literalPayload = load32(block + 20), matchPayload = load32(block + 24);
            if (!fits(rawSize, load32(block + 12), load32(block + 16), matchPayload)) return std::nullopt;
            blockSize = v1HeaderSize + literalPayload + matchPayload;
            break;
        }
        case lzfseV2Magic: {
            if (!has(v2FixedHeaderSize)) return std::nullopt;
            rawSize = load32(block + 4);
            const std::uint64_t p0 = load64(block + 8), p1 = load64(block + 16), p2 = load64(block + 24);
            const std::uint64_t headerSize = p2 & 0xFFFFFFFF;
            const std::uint64_t literalPayload = (p0 >> 20) & 0xFFFFF, matchPayload = (p1 >> 40) & 0xFFFFF;
            if (headerSize < v2FixedHeaderSize) return std::nullopt;
            if (!fits(rawSize, p0 & 0xFFFFF, (p0 >> 40) & 0xFFFFF, matchPayload)) return std::nullopt;
            blockSize = headerSize + literalPayload + matchPayload;
            break;
        }
        default: return std::nullopt;
        }
        if (!has(blockSize)) return std::nullopt;
        at += blockSize;
        total += rawSize;
    }
    return std::nullopt;
}

}  // namespace wm::lzfse
