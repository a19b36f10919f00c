// Walking a stream's block headers for the size it declares: a stream whose headers cannot
// be trusted gives nothing, never a walk that does not end or a size its blocks could not
// produce. What honest streams of every block kind declare is checked with the vectors
// (LZFSEVectorsTest) and the encoder's round trips (LZFSERoundTripTest).
#include "LZFSETestData.h"
#include "crypto/lzfse/DeclaredSize.h"
#include "crypto/lzfse/Format.h"

namespace wm::lzfse {
namespace {

// A v2 header with the given fields and no tables, followed by `payload` zero bytes.
Bytes v2Block(std::uint32_t rawSize, std::uint64_t matches, std::uint64_t headerSize, std::uint64_t payload) {
    Bytes b;
    appendLE(b, lzfseV2Magic, 4);
    appendLE(b, rawSize, 4);
    appendLE(b, matches << 40, 8);
    appendLE(b, payload << 40, 8);
    appendLE(b, headerSize, 8);
    b.resize(b.size() + (headerSize > 32 ? headerSize - 32 : 0) + payload);
    return b;
}

Bytes withEnd(Bytes b) {
    appendLE(b, endOfStreamMagic, 4);
    return b;
}

TEST(LZFSEDeclaredSize, UntrustworthyHeadersGiveNothing) {
    const std::pair<const char*, Bytes> cases[] = {
        {"empty", {}},
        {"no end marker", hex("6276782d03000000616263")},
        {"unknown magic", hex("6276783300000000")},
        {"raw block past the end", hex("6276782d0900000061626362767824")},
        {"header cut short", hex("6276786e17000000")},
        // A header size below its fixed part would leave the walk where it is, forever.
        {"v2 header that does not move on", withEnd(v2Block(0, 0, 0, 0))},
        {"v2 header of 31 bytes", withEnd(v2Block(0, 0, 31, 0))},
        {"v2 payload past the end", v2Block(10, 1, 32, 100)},
        {"v2 more output than its triples give", withEnd(v2Block(2675, 1, 32, 0))},
        {"v2 more triples than a block holds", withEnd(v2Block(1, 10001, 32, 0))},
        {"LZVN more output than its payload gives", hex("6276786effffffff080000000000000000000000"
                                                        "62767824")},
    };
    for (const auto& [name, stream] : cases) EXPECT_EQ(declaredSize(stream), std::nullopt) << name;
    EXPECT_EQ(declaredSize(withEnd(v2Block(2674, 1, 32, 0))), 2674u);
}

}  // namespace
}  // namespace wm::lzfse
