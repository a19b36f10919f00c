#include "crypto/lzfse/DeclaredSize.h"

#include "crypto/lzfse/Format.h"

namespace wm::lzfse {

namespace {

// The most output one byte of LZVN payload can give: a two-byte match instruction
// copies up to 271 bytes.
constexpr std::uint64_t maxLZVNExpansion = 136;

// The most output an LZFSE block with `matches` triples can give; a decoder refuses
// blocks with more than maxMatchesPerBlock of them.
bool fitsTriples(std::uint64_t rawSize, std::uint64_t matches) {
    return matches <= maxMatchesPerBlock && rawSize <= matches * (maxLiteralRun + maxMatchRun);
}

}  // namespace

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
            if (rawSize > payload * maxLZVNExpansion) return std::nullopt;
            blockSize = 12 + payload;
            break;
        }
        case lzfseV1Magic: {
            if (!has(v1HeaderSize)) return std::nullopt;
            rawSize = load32(block + 4);
            const std::uint64_t matches = load32(block + 16);
            if (!fitsTriples(rawSize, matches)) return std::nullopt;
            blockSize = v1HeaderSize + std::uint64_t{load32(block + 20)} + load32(block + 24);
            break;
        }
        case lzfseV2Magic: {
            if (!has(v2FixedHeaderSize)) return std::nullopt;
            rawSize = load32(block + 4);
            const std::uint64_t p0 = load64(block + 8), p1 = load64(block + 16), p2 = load64(block + 24);
            const std::uint64_t headerSize = p2 & 0xFFFFFFFF;
            const std::uint64_t matches = (p0 >> 40) & 0xFFFFF;
            if (headerSize < v2FixedHeaderSize) return std::nullopt;
            if (!fitsTriples(rawSize, matches)) return std::nullopt;
            blockSize = headerSize + ((p0 >> 20) & 0xFFFFF) + ((p1 >> 40) & 0xFFFFF);
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
