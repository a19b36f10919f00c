// Randomised mutation of every decoder of outside bytes in this module, with a fixed seed:
// each must either succeed or throw its own documented error, and never crash.
#include <gtest/gtest.h>

#include <chrono>
#include <random>

#include "CryptoTestSupport.h"
#include "crypto/BlobCipher.h"
#include "crypto/BlobCompression.h"
#include "crypto/KeyFile.h"
#include "crypto/Passphrase.h"
#include "crypto/RecoveryKey.h"

namespace wm {
namespace {

class Mutator {
public:
    explicit Mutator(std::uint32_t seed) : rng_(seed) {}

    Bytes mutate(Bytes data) {
        int count = 1 + static_cast<int>(rng_() % 4);
        for (int i = 0; i < count; ++i) {
            std::size_t at = data.empty() ? 0 : rng_() % data.size();
            switch (rng_() % 7) {
                case 0:
                    if (!data.empty()) data[at] ^= static_cast<std::uint8_t>(1u << (rng_() % 8));
                    break;
                case 1:
                    if (!data.empty()) data[at] = static_cast<std::uint8_t>(rng_());
                    break;
                case 2: data.insert(data.begin() + static_cast<std::ptrdiff_t>(at), static_cast<std::uint8_t>(rng_())); break;
                case 3:
                    if (!data.empty()) data.erase(data.begin() + static_cast<std::ptrdiff_t>(at));
                    break;
                case 4: data.resize(at); break;
                case 5: {
                    static const std::uint8_t interesting[] = {0, 0xff, 0x7f, 0x80, '"', '{', '}', '-', ' ', 'O'};
                    if (!data.empty()) data[at] = interesting[rng_() % sizeof interesting];
                    break;
                }
                case 6:
                    if (!data.empty()) {
                        std::size_t length = std::min<std::size_t>(data.size() - at, 1 + rng_() % 16);
                        Bytes copy(data.begin() + static_cast<std::ptrdiff_t>(at),
                                   data.begin() + static_cast<std::ptrdiff_t>(at + length));
                        std::size_t to = rng_() % (data.size() + 1);
                        data.insert(data.begin() + static_cast<std::ptrdiff_t>(to), copy.begin(), copy.end());
                    }
                    break;
            }
        }
        return data;
    }

private:
    std::mt19937 rng_;
};

constexpr int rounds = 20000;

TEST(Mutation, KeyFileDecodeAndUnwrap) {
    Mutator mutator(0x6b657931);
    RecoveryKey key = RecoveryKey::generate();
    Bytes salt(16, 7);
    const Bytes seeds[] = {
        KeyFile::wrap(testing::fixedMaster(), key, testing::fixedRepositoryID(), "hint", Date::now()).encoded(),
        KeyFile::wrap(testing::fixedMaster(), "correct horse battery", salt, 1, std::nullopt, Date::now()).encoded(),
    };
    int decoded = 0;
    for (int i = 0; i < rounds; ++i) {
        Bytes input = mutator.mutate(seeds[i % 2]);
        try {
            KeyFile file = KeyFile::decode(input);
            ++decoded;
            ASSERT_TRUE(KeyFile::isValidKeyID(file.keyID));
            try {
                SymmetricKey master = file.method == KeyFile::Method::passphrase
                                          ? file.unwrap("correct horse battery", salt, 1)
                                          : file.unwrap(key, testing::fixedRepositoryID());
                ASSERT_EQ(master, testing::fixedMaster());
            } catch (const KeyFile::Error&) {
            }
        } catch (const KeyFile::Error& e) {
            ASSERT_EQ(e.kind, KeyFile::Error::Kind::malformed);
        }
    }
    EXPECT_GT(decoded, 0);
}

TEST(Mutation, RecoveryKeyParse) {
    Mutator mutator(0x72656b31);
    for (int i = 0; i < rounds; ++i) {
        RecoveryKey key = RecoveryKey::generate();
        Bytes input = mutator.mutate(bytesOf(key.text()));
        try {
            RecoveryKey parsed = RecoveryKey::parse(stringOf(input));
            // Whatever parses is a key whose own text parses back to it.
            ASSERT_EQ(RecoveryKey::parse(parsed.text()), parsed);
        } catch (const RecoveryKeyError& e) {
            if (e.kind == RecoveryKeyError::Kind::invalidCharacter) {
                ASSERT_LT(e.atIndex, 45);
            }
        }
    }
}

TEST(Mutation, BlobOpening) {
    Mutator mutator(0x626c6f62);
    RepositoryKeys keys = testing::fixedKeys();
    for (BlobCipher::Sealing mode : {BlobCipher::Sealing::fixedNonce, BlobCipher::Sealing::nonceFromStoredBytes}) {
        BlobCipher cipher(keys, mode);
        Bytes plaintext = bytesOf("a small tree object, or the start of a file's content");
        BlobID id = cipher.identity(plaintext);
        Bytes sealed = cipher.seal(plaintext, id, BlobType::tree);
        for (int i = 0; i < rounds; ++i) {
            Bytes input = mutator.mutate(sealed);
            try {
                ASSERT_EQ(cipher.open(input, id, BlobType::tree), plaintext);
            } catch (const BlobCipherError&) {
            } catch (const BlobCompression::Error&) {
                FAIL() << "a damaged blob got past authentication";
            }
        }
        Bytes metadata = cipher.sealMetadata(plaintext);
        for (int i = 0; i < rounds; ++i) {
            Bytes input = mutator.mutate(metadata);
            try {
                ASSERT_EQ(cipher.openMetadata(input), plaintext);
            } catch (const BlobCipherError&) {
            }
        }
    }
}

TEST(Mutation, AuthenticFramesWithHostileContents) {
    // What a key holder could write: any frame at all, properly sealed.
    Mutator mutator(0x6672616d);
    RepositoryKeys keys = testing::fixedKeys();
    BlobCipher cipher(keys, BlobCipher::Sealing::nonceFromStoredBytes);
    Bytes compressible(20000);
    for (std::size_t i = 0; i < compressible.size(); ++i) compressible[i] = static_cast<std::uint8_t>((i / 7) % 23);
    const Bytes seeds[] = {BlobCompression::encode(compressible), BlobCompression::encode(bytesOf("short stored body"))};
    BlobID id = cipher.identity(compressible);
    for (int i = 0; i < rounds / 2; ++i) {
        Bytes frame = mutator.mutate(seeds[i % 2]);
        // A stated length between 16 MiB and 1 GiB is legal and makes the decoder reserve
        // that much; keep such rounds small so the test stays fast.
        if (frame.size() >= BlobCompression::headerSize) {
            auto header = BlobCompression::decodeHeader(frame);
            if (header.length > (16u << 20) && header.length <= BlobCompression::maximumLength)
                std::fill(frame.begin() + 4, frame.begin() + 9, std::uint8_t{0});
        }
        try {
            Bytes out = BlobCompression::decode(frame);
            ASSERT_EQ(out.size(), BlobCompression::decodeHeader(frame).length);
        } catch (const BlobCompression::Error&) {
        }
        if (frame.size() < BlobCompression::headerSize) continue;
        try {
            cipher.open(testing::sealRawFrame(keys, frame, id, BlobType::data), id, BlobType::data);
        } catch (const BlobCompression::Error&) {
        }
    }
}

}  // namespace
}  // namespace wm
