// The LZVN writer on inputs larger than the encoder gives it, so that every distance
// form (small, medium, large, previous) and every literal split appears.
#include "LZFSETestData.h"
#include "crypto/lzfse/Format.h"
#include "crypto/lzfse/LZVNWriter.h"
#include "crypto/lzfse/Parser.h"

namespace wm::lzfse {
namespace {

TEST(LZVNWriter, EveryDistanceAndLiteralFormRoundTrips) {
    std::mt19937 rng(17);
    // Copies of earlier stretches at distances from 1 to beyond the LZVN limit, each
    // distance twice in a row, with literal gaps of every length from 0 to 300 between.
    const std::size_t distances[] = {1, 2, 7, 100, 1535, 1536, 16383, 16384, 40000, 65535, 65536, 69000};
    Bytes input = randomBytes(200, 17);
    for (int round = 0; round < 600; ++round) {
        const std::size_t gap = static_cast<std::size_t>(round % 301);
        for (std::size_t i = 0; i < gap; ++i) input.push_back(static_cast<std::uint8_t>(rng()));
        const std::size_t d = std::min(distances[(round / 2) % std::size(distances)], input.size());
        const std::size_t length = 3 + rng() % 40 + (round % 5 == 0 ? 300 : 0);
        for (std::size_t i = 0; i < length; ++i) input.push_back(input[input.size() - d]);
    }
    Bytes payload, stream;
    LZVNWriter writer(input, payload);
    parse(input, ParserSettings{65535, 16, 64, false}, writer);
    for (std::uint64_t field : {std::uint64_t(lzvnMagic), input.size(), payload.size()}) appendLE(stream, field, 4);
    stream.insert(stream.end(), payload.begin(), payload.end());
    appendLE(stream, endOfStreamMagic, 4);
    EXPECT_LT(stream.size(), input.size());
    EXPECT_EQ(lzfseDecode(stream, input.size()), input);
}

}  // namespace
}  // namespace wm::lzfse
