#include <gtest/gtest.h>

#include "CryptoTestSupport.h"
#include "lzfse/LZFSETestData.h"
#include "crypto/BlobCompression.h"

namespace wm {
namespace {

using testing::frame;

BlobCompression::Error::Kind decodeErrorOf(ByteView f) {
    return testing::thrown<BlobCompression::Error>([&] { BlobCompression::decode(f); }).kind;
}

TEST(BlobCompression, HeaderIsMethodThenLittleEndianLength) {
    auto header = BlobCompression::encodeHeader(BlobCompression::Method::lzfse, 0x0102030405060708ULL);
    EXPECT_EQ(Bytes(header.begin(), header.end()), (Bytes{1, 8, 7, 6, 5, 4, 3, 2, 1}));
    auto decoded = BlobCompression::decodeHeader(header);
    EXPECT_EQ(decoded.method, 1);
    EXPECT_EQ(decoded.length, 0x0102030405060708ULL);
}

TEST(BlobCompression, RoundTripsAndNeverGrowsBeyondTheHeader) {
    const Bytes repetitive = lzfse::repetitiveBytes(100000), noisy = lzfse::randomBytes(5000, 12345);
    for (const Bytes& plaintext : {Bytes{}, Bytes{42}, repetitive, noisy}) {
        Bytes frame = BlobCompression::encode(plaintext);
        EXPECT_LE(frame.size(), plaintext.size() + BlobCompression::headerSize);
        EXPECT_EQ(BlobCompression::decodeHeader(frame).length, plaintext.size());
        EXPECT_EQ(BlobCompression::decode(frame), plaintext);
    }
    // Noise never compresses: it is stored.
    EXPECT_EQ(BlobCompression::encode(noisy)[0], 0);
    if (BlobCompression::compressionAvailable()) {
        Bytes frame = BlobCompression::encode(repetitive);
        EXPECT_EQ(frame[0], 1);
        EXPECT_LT(frame.size(), repetitive.size() / 10);
    }
}

TEST(BlobCompression, RefusesWhatItCannotDecodeExactly) {
    Bytes body{1, 2, 3, 4};
    EXPECT_EQ(BlobCompression::decode(frame(0, 4, body)), body);
    struct Case {
        const char* name;
        Bytes frame;
        BlobCompression::Error::Kind expected;
    };
    const Case cases[] = {
        {"empty", {}, BlobCompression::Error::Kind::couldNotDecompress},
        {"header cut short", {0, 4, 0, 0}, BlobCompression::Error::Kind::couldNotDecompress},
        {"method 2", frame(2, 4, body), BlobCompression::Error::Kind::unknownMethod},
        {"method 255", frame(255, 4, body), BlobCompression::Error::Kind::unknownMethod},
        {"stored, length says more", frame(0, 5, body), BlobCompression::Error::Kind::couldNotDecompress},
        {"stored, length says less", frame(0, 3, body), BlobCompression::Error::Kind::couldNotDecompress},
        {"stored, above 1 GiB", frame(0, (1ULL << 30) + 1, body), BlobCompression::Error::Kind::couldNotDecompress},
        {"lzfse, not a stream", frame(1, 4, body), BlobCompression::Error::Kind::couldNotDecompress},
        {"lzfse, empty body", frame(1, 4, {}), BlobCompression::Error::Kind::couldNotDecompress},
        {"lzfse, above 1 GiB", frame(1, ~0ULL, body), BlobCompression::Error::Kind::couldNotDecompress},
    };
    for (const Case& c : cases) EXPECT_EQ(decodeErrorOf(c.frame), c.expected) << c.name;
}

TEST(BlobCompression, CompressedStreamWithWrongStatedLength) {
    if (!BlobCompression::compressionAvailable()) GTEST_SKIP() << "LZFSE codec not built in";
    Bytes plaintext(4096, 'a');
    Bytes frame = BlobCompression::encode(plaintext);
    ASSERT_EQ(frame[0], 1);
    for (std::uint64_t lie : {4095ULL, 4097ULL, 0ULL}) {
        Bytes lying = frame;
        auto header = BlobCompression::encodeHeader(BlobCompression::Method::lzfse, lie);
        std::copy(header.begin(), header.end(), lying.begin());
        EXPECT_EQ(decodeErrorOf(lying), BlobCompression::Error::Kind::couldNotDecompress) << lie;
    }
}

}  // namespace
}  // namespace wm
