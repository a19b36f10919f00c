// Fixed vectors for every derivation and layout of the cryptographic formats, kept in
// tests/data/crypto. They were computed with an independent implementation; a change of any
// format makes one of them fail.
#include <gtest/gtest.h>

#include "CryptoTestSupport.h"
#include "crypto/BlobCipher.h"
#include "crypto/KeyDerivation.h"
#include "crypto/KeyFile.h"
#include "crypto/PackHashing.h"
#include "crypto/Passphrase.h"
#include "crypto/RecoveryKey.h"
#include "support/DataTable.h"

namespace wm {
namespace {

using testing::fixedKeys;
using testing::fixedMaster;
using testing::fixedRepositoryID;
using testing::hex;

const std::string quickFox = "The quick brown fox jumps over the lazy dog";

std::string answer(const std::string& name) {
    for (const auto& row : test::dataTable("crypto/known-answers.tsv", 2))
        if (row[0] == name) return row[1];
    ADD_FAILURE() << name << " is not in known-answers.tsv";
    return "";
}

std::string marsh() {
    std::string text;
    for (int i = 0; i < 40; ++i) text += "wendle marsh ";
    return text;
}

RecoveryKey keyOneToTwentyFive() {
    return *RecoveryKey::fromBytes(hex("0102030405060708090a0b0c0d0e0f10111213141516171819"));
}

const Bytes passphraseSalt = *Hex::decode("707172737475767778797a7b7c7d7e7f");

TEST(KnownAnswer, DerivationsSignaturesIdentitiesAndSealing) {
    const RepositoryKeys keys = fixedKeys();
    const BlobCipher v1(keys, BlobCipher::Sealing::fixedNonce);
    const BlobID fox = v1.identity(viewOf(quickFox));
    const std::pair<const char*, std::string> computed[] = {
        {"identity key", Hex::encode(keys.identityKey.view())},
        {"blob key", Hex::encode(keys.blobKey.view())},
        {"metadata key", Hex::encode(keys.metadataKey.view())},
        {"signing public key", Hex::encode(keys.signing.publicKey())},
        {"signature of wendlemarsh", Hex::encode(keys.sign(viewOf("wendlemarsh")))},
        {"blob identity of the fox", fox.hex()},
        {"format 1 key of the fox",
         Hex::encode(KeyDerivation::hkdfKey(keys.blobKey.view(), fox.view(), "wendlemarsh/blob-v1").view())},
        {"format 1 fox as a tree", Hex::encode(v1.seal(viewOf(quickFox), fox, BlobType::tree))},
        {"blob identity of 40 wendle marsh", v1.identity(viewOf(marsh())).hex()},
        {"pack identity of abc", hashPackID(viewOf("abc")).hex()},
        {"recovery wrapping key",
         Hex::encode(
             KeyDerivation::hkdfKey(keyOneToTwentyFive().view(), fixedRepositoryID().view(), "wendlemarsh/recovery-key")
                 .view())},
        {"passphrase key", Hex::encode(Passphrase::deriveKey("Cafe\u0301 au lait", passphraseSalt, 1000).view())},
    };
    for (const auto& [name, value] : computed) EXPECT_EQ(value, answer(name)) << name;
    EXPECT_TRUE(keys.verify(viewOf("wendlemarsh"), hex(answer("signature of wendlemarsh"))));
}

TEST(KnownAnswer, StoredBlobsAndMetadataOpen) {
    const BlobCipher v1(fixedKeys(), BlobCipher::Sealing::fixedNonce);
    const BlobCipher v2(fixedKeys(), BlobCipher::Sealing::nonceFromStoredBytes);
    const BlobID fox = v2.identity(viewOf(quickFox));
    EXPECT_EQ(stringOf(v1.open(hex(answer("format 1 fox as a tree")), fox, BlobType::tree)), quickFox);
    EXPECT_EQ(stringOf(v1.open(hex(answer("format 1 compressed 40 wendle marsh")), v1.identity(viewOf(marsh())),
                               BlobType::data)),
              marsh());
    EXPECT_EQ(stringOf(v2.open(hex(answer("format 2 fox as data")), fox, BlobType::data)), quickFox);
    EXPECT_EQ(stringOf(v2.openMetadata(hex(answer("metadata {\"v\":2}")))), "{\"v\":2}");
}

TEST(KnownAnswer, PackIdentityIsSHA256OfTheWholeFileHoweverItArrives) {
    PackHasher hasher;
    for (const char* part : {"a", "", "bc"}) hasher.update(viewOf(part));
    EXPECT_EQ(hasher.finish(), hashPackID(viewOf("abc")));
    EXPECT_EQ(hasher.finish(), hashPackID(ByteView()));  // starts again empty
}

TEST(KnownAnswer, RecoveryKeyTextAndKeyFiles) {
    const std::string text = "04106-1050R-3GG28-A1C60-T3GF2-08H44-RM2MB-1E60S-WEFVP";
    EXPECT_EQ(keyOneToTwentyFive().text(), text);
    EXPECT_EQ(RecoveryKey::parse(text), keyOneToTwentyFive());

    // The recovery-key file is stored exactly as the encoder writes it.
    const std::string stored = test::dataText("crypto/recovery-key-file.json");
    KeyFile recovery = KeyFile::decode(viewOf(stored));
    EXPECT_EQ(recovery.unwrap(keyOneToTwentyFive(), fixedRepositoryID()), fixedMaster());
    EXPECT_EQ(recovery.hint, "drawer");
    EXPECT_EQ(stringOf(recovery.encoded()), stored);

    KeyFile passphrase = KeyFile::decode(viewOf(test::dataText("crypto/passphrase-key-file.json")));
    EXPECT_EQ(passphrase.unwrap("Cafe\u0301 au lait", passphraseSalt, 1000), fixedMaster());  // decomposed é
    EXPECT_EQ(passphrase.unwrap("Caf\u00e9 au lait", passphraseSalt, 1000), fixedMaster());   // precomposed é
    EXPECT_FALSE(passphrase.hint.has_value());
}

}  // namespace
}  // namespace wm
