// Walking a stream's block headers for the size it declares: a stream whose headers cannot
// be trusted gives nothing, never a walk that does not end or a size its blocks could not
// produce. What honest streams of every block kind declare is checked with the vectors
// (LZFSEVectorsTest) and the encoder's round trips (LZFSERoundTripTest).
#include "LZFSETestData.h"
#include "crypto/lzfse/DeclaredSize.h"
#include "crypto/lzfse/Decoder.h"
#include "crypto/lzfse/Format.h"

namespace wm::lzfse {
namespace {

// A v2 header with the given fields and no tables, followed by `payload` zero bytes of
// triple payload.
Bytes v2Block(std::uint32_t rawSize, std::uint64_t matches, std::uint64_t headerSize, std::uint64_t payload,
              std::uint64_t literals = 0) {
    Bytes b;
    appendLE(b, lzfseV2Magic, 4);
    appendLE(b, rawSize, 4);
    appendLE(b, matches << 40 | literals, 8);
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
        {"v2 more output than its triples give", withEnd(v2Block(2360, 1, 32, 2))},
        {"v2 more output than its literals and triples give", withEnd(v2Block(2360 + 4, 1, 32, 2, 4))},
        // Matches beyond 15 bytes spend payload bits: 1 KiB of headers cannot declare 1 GiB.
        {"v2 more output than 10,000 bare triples and their literals give",
         withEnd(v2Block(190'001, 10'000, 32, 0, 40'000))},
        {"v2 longer match than its payload bits give", withEnd(v2Block(16, 1, 32, 0))},
        {"v2 more triples than a block holds", withEnd(v2Block(1, 10001, 32, 0))},
        {"v2 more literals than a block holds", withEnd(v2Block(1, 1, 32, 0, 40'004))},
        {"LZVN more output than its payload gives", hex("6276786effffffff080000000000000000000000"
                                                        "62767824")},
    };
    for (const auto& [name, stream] : cases) EXPECT_EQ(declaredSize(stream), std::nullopt) << name;
    // The most each may declare: a match of 2,359 bytes takes 11 bits of payload, one of
    // 15 none; literals add their count.
    EXPECT_EQ(declaredSize(withEnd(v2Block(2359, 1, 32, 2))), 2359u);
    EXPECT_EQ(declaredSize(withEnd(v2Block(2359 + 4, 1, 32, 2, 4))), 2363u);
    EXPECT_EQ(declaredSize(withEnd(v2Block(15, 1, 32, 0))), 15u);
    EXPECT_EQ(declaredSize(withEnd(v2Block(150'000 + 40'000, 10'000, 32, 0, 40'000))), 190'000u);
}

// The decoder makes room for a block only as far as its payload could fill it: a header that
// claims 26 MB from 10,000 triples and no payload costs what those triples can give, and an
// output reserved by the caller is not grown.
TEST(LZFSEDeclaredSize, TheDecoderMakesRoomOnlyForWhatABlockCanGive) {
    const Bytes stream = withEnd(v2Block(26'000'000, 10'000, 32, 0));
    Bytes out;
    EXPECT_THROW(Decoder(stream, out, 26'000'000).run(), LZFSEError);
    EXPECT_LE(out.size(), lzfseOutputBound(0, 10'000, 0) + Decoder::slack);

    const Bytes honest = lzfseEncode(textBytes(100'000, 5));
    out.resize(100'000 + Decoder::slack);
    const std::uint8_t* const reserved = out.data();
    EXPECT_EQ(Decoder(honest, out, 100'000).run(), 100'000u);
    EXPECT_EQ(out.data(), reserved);
    EXPECT_EQ(out, textBytes(100'000, 5));
}

}  // namespace
}  // namespace wm::lzfse
