#include <sys/mman.h>

#include <gtest/gtest.h>

#include <functional>
#include <thread>
#include <vector>

#include "CryptoTestSupport.h"
#include "crypto/BlobCipher.h"
#include "crypto/BlobCompression.h"
#include "lzfse/LZFSETestData.h"

namespace wm {
namespace {

using Sealing = BlobCipher::Sealing;
using testing::fixedKeys;

template <class F>
BlobCipherError::Kind cipherErrorOf(F&& f) {
    return testing::thrown<BlobCipherError>(f).kind;
}

class BlobCipherModes : public ::testing::TestWithParam<Sealing> {
protected:
    BlobCipher cipher{fixedKeys(), GetParam()};
};

TEST_P(BlobCipherModes, EveryFlippedBitFailsAuthentication) {
    Bytes plaintext = lzfse::randomBytes(100, 7);
    BlobID id = cipher.identity(plaintext);
    Bytes sealed = cipher.seal(plaintext, id, BlobType::data);
    // Format 1 stores zeros where the nonce goes and never reads them.
    std::size_t first = GetParam() == Sealing::fixedNonce ? BlobCipher::nonceSize : 0;
    for (std::size_t i = first; i < sealed.size(); ++i) {
        for (int bit = 0; bit < 8; ++bit) {
            Bytes damaged = sealed;
            damaged[i] ^= static_cast<std::uint8_t>(1 << bit);
            ASSERT_EQ(cipherErrorOf([&] { cipher.open(damaged, id, BlobType::data); }),
                      BlobCipherError::Kind::authenticationFailed)
                << "byte " << i << " bit " << bit;
        }
    }
}

TEST_P(BlobCipherModes, IdentifierTypeAndRepositoryAreBound) {
    Bytes plaintext = lzfse::randomBytes(500, 3);
    BlobID id = cipher.identity(plaintext);
    Bytes sealed = cipher.seal(plaintext, id, BlobType::tree);
    BlobID other = cipher.identity(lzfse::randomBytes(500, 4));
    BlobCipher stranger(RepositoryKeys(SymmetricKey::random(), testing::fixedRepositoryID()), GetParam());
    const std::function<void()> attempts[] = {
        [&] { cipher.open(sealed, other, BlobType::tree); }, [&] { cipher.open(sealed, id, BlobType::data); },
        [&] { cipher.open(sealed, id, BlobType::meta); }, [&] { stranger.open(sealed, id, BlobType::tree); }};
    for (const auto& attempt : attempts) EXPECT_EQ(cipherErrorOf(attempt), BlobCipherError::Kind::authenticationFailed);
}

TEST_P(BlobCipherModes, MetadataRoundTripsAndFailsClosed) {
    const Bytes plaintext = lzfse::randomBytes(1000, 11), sealed = cipher.sealMetadata(plaintext);
    EXPECT_EQ(cipher.openMetadata(sealed), plaintext);
    EXPECT_NE(cipher.sealMetadata(plaintext), sealed);  // a fresh nonce every time
    for (std::size_t i = 0; i < sealed.size(); i += 7) {
        Bytes damaged = sealed;
        damaged[i] ^= 0x80;
        EXPECT_EQ(cipherErrorOf([&] { cipher.openMetadata(damaged); }),
                  BlobCipherError::Kind::metadataAuthenticationFailed);
    }
    for (std::size_t length : {0, 27}) {
        const Bytes cut = Bytes(sealed.begin(), sealed.begin() + std::ptrdiff_t(length));
        EXPECT_EQ(cipherErrorOf([&] { cipher.openMetadata(cut); }), BlobCipherError::Kind::metadataTruncated);
    }
}

INSTANTIATE_TEST_SUITE_P(BothFormats, BlobCipherModes,
                         ::testing::Values(Sealing::fixedNonce, Sealing::nonceFromStoredBytes), [](const auto& param) {
                             return param.param == Sealing::fixedNonce ? "fixedNonce" : "nonceFromStoredBytes";
                         });

// The identity is keyed: its value is pinned by the known answers.
TEST(BlobCipher, TheTwoFormatsDifferInTheNonceAndShareAKeyedIdentity) {
    Bytes plaintext = lzfse::randomBytes(300, 5);
    BlobCipher v2(fixedKeys(), Sealing::nonceFromStoredBytes);
    BlobCipher v1(fixedKeys(), Sealing::fixedNonce);
    BlobID id = v2.identity(plaintext);
    EXPECT_EQ(v1.identity(plaintext), id);
    EXPECT_NE(v2.seal(plaintext, id, BlobType::data), v2.seal(plaintext, id, BlobType::data));
    const Bytes once = v1.seal(plaintext, id, BlobType::data);
    // Not interchangeable; and format 1 refuses an identifier that is not the plaintext's,
    // as two plaintexts under one identifier would share key and nonce.
    EXPECT_EQ(cipherErrorOf([&] { v2.open(once, id, BlobType::data); }), BlobCipherError::Kind::authenticationFailed);
    EXPECT_EQ(cipherErrorOf([&] { v1.open(v2.seal(plaintext, id, BlobType::data), id, BlobType::data); }),
              BlobCipherError::Kind::authenticationFailed);
    EXPECT_EQ(cipherErrorOf([&] { v1.seal(viewOf("something else"), id, BlobType::data); }),
              BlobCipherError::Kind::identityMismatch);
}

// Frames only a key holder could write: what the frame says is still checked.
TEST(BlobCipher, AuthenticFramesWithUnknownMethodOrLyingLength) {
    RepositoryKeys keys = fixedKeys();
    BlobCipher cipher(keys, Sealing::nonceFromStoredBytes);
    Bytes body = lzfse::randomBytes(64, 2);
    BlobID id = cipher.identity(body);
    auto open = [&](const Bytes& f) {
        return cipher.open(testing::sealRawFrame(keys, f, id, BlobType::data), id, BlobType::data);
    };
    EXPECT_EQ(open(testing::frame(0, 64, body)), body);  // the honest frame
    // Whoever makes room for a blob is told its length first, stored or compressed.
    std::vector<std::uint64_t> told;
    const auto tell = [&](std::uint64_t length) { told.push_back(length); };
    const Bytes text(5000, 'a');
    const BlobID textID = cipher.identity(text);
    EXPECT_EQ(cipher.open(cipher.seal(text, textID, BlobType::data), textID, BlobType::data, tell), text);
    EXPECT_EQ(cipher.open(testing::sealRawFrame(keys, testing::frame(0, 64, body), id, BlobType::data), id,
                          BlobType::data, tell),
              body);
    EXPECT_EQ(told, (std::vector<std::uint64_t>{5000, 64}));
    // Every case of a frame is the compression's own test; one of each kind proves they are checked here.
    EXPECT_EQ(testing::thrown<BlobCompression::Error>([&] { open(testing::frame(7, 64, body)); }).kind,
              BlobCompression::Error::Kind::unknownMethod);
    EXPECT_EQ(testing::thrown<BlobCompression::Error>([&] { open(testing::frame(0, 65, body)); }).kind,
              BlobCompression::Error::Kind::couldNotDecompress);
}

TEST(BlobCipher, RefusesToSealWhatNoReaderWouldOpen) {
    const std::size_t size = (std::size_t{1} << 30) + 1;
    // Untouched anonymous pages: the length check runs before any byte is read.
    void* memory = mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    ASSERT_NE(memory, MAP_FAILED);
    ByteView huge(static_cast<const std::uint8_t*>(memory), size);
    for (Sealing mode : {Sealing::fixedNonce, Sealing::nonceFromStoredBytes}) {
        BlobCipher cipher(fixedKeys(), mode);
        const auto e = testing::thrown<BlobCompression::Error>([&] { cipher.seal(huge, BlobID{}, BlobType::data); });
        EXPECT_EQ(e.kind, BlobCompression::Error::Kind::tooLarge);
        EXPECT_EQ(e.length, size);
    }
    munmap(memory, size);
}

TEST(BlobCipher, SharedByManyThreads) {
    BlobCipher v2(fixedKeys(), Sealing::nonceFromStoredBytes);
    BlobCipher v1(fixedKeys(), Sealing::fixedNonce);
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            const BlobCipher& cipher = t % 2 ? v1 : v2;
            for (int i = 0; i < 200; ++i) {
                const Bytes plaintext = lzfse::randomBytes(std::size_t(i * 37 + t), std::uint32_t(t * 1000 + i));
                const BlobID id = cipher.identity(plaintext);
                failures += cipher.open(cipher.seal(plaintext, id, BlobType::data), id, BlobType::data) != plaintext;
                failures += cipher.openMetadata(cipher.sealMetadata(plaintext)) != plaintext;
                failures += !cipher.keys().verify(plaintext, cipher.keys().sign(plaintext));
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(failures.load(), 0);
}

}  // namespace
}  // namespace wm
