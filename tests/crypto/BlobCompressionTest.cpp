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

// The stated length is the stream's own or nothing: a frame that states another length is
// refused before anything is told of it or room is made for it, whatever it states, and an
// honest frame tells what it decodes to.
TEST(BlobCompression, StatedLengthIsTheStreamsOwnBeforeRoomIsMade) {
    std::vector<std::uint64_t> told;
    const auto decode = [&](const Bytes& frame) {
        told.clear();
        Bytes out;
        BlobCompression::decodeBody(BlobCompression::decodeHeader(frame), ByteView(frame).subspan(9), out,
                                    [&](std::uint64_t length) { told.push_back(length); });
        return out;
    };
    const Bytes raw = lzfse::hex(
        "6276782d0b000000"
        "656c6576656e2062797465"
        "62767824");  // 11 bytes
    const std::pair<const char*, Bytes> refused[] = {
        {"one byte over a raw block", frame(1, 12, raw)},
        {"1 GiB over an LZVN block", frame(1, BlobCompression::maximumLength, lzfseEncode(Bytes(4000, 'b')))},
        {"headers that cannot be walked", frame(1, 11, Bytes(raw.begin(), raw.end() - 1))},
    };
    for (const auto& [name, bytes] : refused) {
        EXPECT_EQ(testing::thrown<BlobCompression::Error>([&] { decode(bytes); }).kind,
                  BlobCompression::Error::Kind::couldNotDecompress)
            << name;
        EXPECT_EQ(told, std::vector<std::uint64_t>{}) << name;
    }
    for (const Bytes& plain : {lzfse::textBytes(300'000, 3), lzfse::repetitiveBytes(70'000), Bytes(5, 'x')}) {
        EXPECT_EQ(decode(BlobCompression::encode(plain)), plain);
        EXPECT_EQ(told, std::vector<std::uint64_t>{plain.size()});
    }
}

}  // namespace
}  // namespace wm
