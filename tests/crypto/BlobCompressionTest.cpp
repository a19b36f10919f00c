#include <gtest/gtest.h>

#include <tuple>

#include "CryptoTestSupport.h"
#include "crypto/BlobCompression.h"
#include "lzfse/LZFSETestData.h"

namespace wm {
namespace {

using testing::frame;

TEST(BlobCompression, RoundTripsAndNeverGrowsBeyondTheHeader) {
    const Bytes repetitive = lzfse::repetitiveBytes(100000), noisy = lzfse::randomBytes(5000, 12345);
    for (const Bytes& plaintext : {Bytes{}, Bytes{42}, repetitive, noisy}) {
        Bytes frame = BlobCompression::encode(plaintext);
        EXPECT_LE(frame.size(), plaintext.size() + BlobCompression::headerSize);
        EXPECT_EQ(BlobCompression::decodeHeader(frame).length, plaintext.size());
        EXPECT_EQ(BlobCompression::decode(frame), plaintext);
    }
    // Noise is stored; repeats are compressed.
    EXPECT_EQ(BlobCompression::encode(noisy)[0], 0);
    EXPECT_LT(BlobCompression::encode(repetitive).size(), repetitive.size() / 10);
}

TEST(BlobCompression, RefusesWhatItCannotDecodeExactly) {
    Bytes body{1, 2, 3, 4};
    EXPECT_EQ(BlobCompression::decode(frame(0, 4, body)), body);
    // A compressed stream whose frame states another length than the stream makes.
    const Bytes stream = lzfseEncode(Bytes(4096, 'a'));
    const std::tuple<const char*, Bytes, BlobCompression::Error::Kind> cases[] = {
        {"empty", {}, BlobCompression::Error::Kind::couldNotDecompress},
        {"header cut short", {0, 4, 0, 0}, BlobCompression::Error::Kind::couldNotDecompress},
        {"method 2", frame(2, 4, body), BlobCompression::Error::Kind::unknownMethod},
        {"stored, length says more", frame(0, 5, body), BlobCompression::Error::Kind::couldNotDecompress},
        {"stored, length says less", frame(0, 3, body), BlobCompression::Error::Kind::couldNotDecompress},
        {"stored, above 1 GiB", frame(0, (1ULL << 30) + 1, body), BlobCompression::Error::Kind::couldNotDecompress},
        {"lzfse, not a stream", frame(1, 4, body), BlobCompression::Error::Kind::couldNotDecompress},
        {"lzfse, empty body", frame(1, 4, {}), BlobCompression::Error::Kind::couldNotDecompress},
        {"lzfse, above 1 GiB", frame(1, ~0ULL, body), BlobCompression::Error::Kind::couldNotDecompress},
        {"lzfse, length one short", frame(1, 4095, stream), BlobCompression::Error::Kind::couldNotDecompress},
        {"lzfse, length one over", frame(1, 4097, stream), BlobCompression::Error::Kind::couldNotDecompress},
    };
    for (const auto& [name, bytes, expected] : cases)
        EXPECT_EQ(testing::thrown<BlobCompression::Error>([&] { BlobCompression::decode(bytes); }).kind, expected)
            << name;
}

}  // namespace
}  // namespace wm
