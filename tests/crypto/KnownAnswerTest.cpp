// Fixed vectors for every derivation and layout of the cryptographic formats. They were
// computed with an independent implementation (make_known_answers.py); a change of any
// format makes one of them fail.
#include <gtest/gtest.h>

#include "CryptoTestSupport.h"
#include "core/Hex.h"
#include "crypto/BlobCipher.h"
#include "crypto/KeyDerivation.h"
#include "crypto/KeyFile.h"
#include "crypto/PackHashing.h"
#include "crypto/Passphrase.h"
#include "crypto/RecoveryKey.h"

namespace wm {
namespace {

using testing::fixedKeys;
using testing::fixedMaster;
using testing::fixedRepositoryID;
using testing::hex;

const std::string_view quickFox = "The quick brown fox jumps over the lazy dog";

TEST(KnownAnswer, KeySetDerivesEachPurposeKey) {
    RepositoryKeys keys = fixedKeys();
    EXPECT_EQ(Hex::encode(keys.identityKey.view()), "b65bbfa7f767338719cf50a9918a14eb0f21019ea50b041009296dbaa6dd7fc4");
    EXPECT_EQ(Hex::encode(keys.blobKey.view()), "f2969597d3c7c13d251f78fd86c47ac10c4bda4853834b3dc82b273233cc7f33");
    EXPECT_EQ(Hex::encode(keys.metadataKey.view()), "5b8ff7f9212785d31921ce9c1e5e9f5c5653203cb57d42b3604ff39be75a4d10");
    EXPECT_EQ(Hex::encode(keys.signing.publicKey()), "a04ae0da6ec2e22db8bc47618c793fe741d7504e150e38e9adcd9ac9bd25f071");
}

TEST(KnownAnswer, SigningKeySignsDeterministically) {
    RepositoryKeys keys = fixedKeys();
    Bytes signature = keys.sign(viewOf("wendlemarsh"));
    EXPECT_EQ(Hex::encode(signature),
              "20f6f78e8d2c75e3d82079d7a6dfcd50772929a0125c4914aa128d24180ba2f51e5dd2b67ed3abc6f6b3a19a8e0eddd4"
              "ace7ae0d048102bd79c535950985850a");
    EXPECT_TRUE(keys.verify(viewOf("wendlemarsh"), signature));
}

TEST(KnownAnswer, BlobIdentity) {
    BlobCipher cipher(fixedKeys(), BlobCipher::Sealing::nonceFromStoredBytes);
    EXPECT_EQ(cipher.identity(viewOf(quickFox)).hex(), "946e0851e76fea01cd78d8aeb42ff0077a6e890994bf6ebef7298e1bc311c291");
}

TEST(KnownAnswer, FormatOneSealingIsFixedByTheIdentity) {
    BlobCipher cipher(fixedKeys(), BlobCipher::Sealing::fixedNonce);
    BlobID id = cipher.identity(viewOf(quickFox));
    EXPECT_EQ(Hex::encode(KeyDerivation::hkdfKey(fixedKeys().blobKey.view(), id.view(), "wendlemarsh/blob-v1").view()),
              "721048b68ac5ddcdffe234c107883d06d79e00c3c61cc37459abacd1b44a0351");
    const std::string expected =
        "00000000000000000000000026116671e77b5d7ddeca2c533cadf06ebe068d7d2541e3b88a4dabb6321df5942c8b9c7fb9adca158b3667"
        "94506bfe6f2eb98438f5e5664ccdf3609f4a5cf90821b23420";
    EXPECT_EQ(Hex::encode(cipher.seal(viewOf(quickFox), id, BlobType::tree)), expected);
    EXPECT_EQ(stringOf(cipher.open(hex(expected), id, BlobType::tree)), quickFox);
}

TEST(KnownAnswer, CompressedFormatOneBlobOpens) {
    // Frame method 1, length 520, body an LZFSE stream of one LZVN block ("bvxn" ... "bvx$").
    std::string plaintext;
    for (int i = 0; i < 40; ++i) plaintext += "wendle marsh ";
    BlobCipher cipher(fixedKeys(), BlobCipher::Sealing::fixedNonce);
    BlobID id = cipher.identity(viewOf(plaintext));
    EXPECT_EQ(id.hex(), "430b50e23a6157901d3bb56adb26693c955cd11731206c2eeaed8b5a69b39393");
    Bytes sealed = hex(
        "000000000000000000000000d7278784e91d47061f9907499c8d47bd54d511fb60b8177834e8a1ea5c7ed16791a7365a2e2ed8dfb5b405"
        "8e24945dacdff005023ad495e19a9edcbea2907dd42c36711f12");
    EXPECT_EQ(stringOf(cipher.open(sealed, id, BlobType::data)), plaintext);
}

TEST(KnownAnswer, FormatTwoBlobOpens) {
    BlobCipher cipher(fixedKeys(), BlobCipher::Sealing::nonceFromStoredBytes);
    BlobID id = cipher.identity(viewOf(quickFox));
    Bytes sealed = hex(
        "404142434445464748494a4be9140a23e4355604804453adf0bb3823f0d6f9e5cb18b54e7fc0f10eb49a702e8ee411cad91b7bb23b74b7"
        "1f456e46942564ff10274d41bb2c0d31518eaf78293061f528");
    EXPECT_EQ(stringOf(cipher.open(sealed, id, BlobType::data)), quickFox);
}

TEST(KnownAnswer, MetadataOpens) {
    BlobCipher cipher(fixedKeys(), BlobCipher::Sealing::nonceFromStoredBytes);
    Bytes sealed = hex("505152535455565758595a5b6d6d6a37f9c3e77100510e8ec4028923727dc61c2ca94b");
    EXPECT_EQ(stringOf(cipher.openMetadata(sealed)), "{\"v\":2}");
}

TEST(KnownAnswer, PackIdentityIsSHA256OfTheWholeFile) {
    EXPECT_EQ(hashPackID(viewOf("abc")).hex(), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    PackHasher hasher;
    hasher.update(viewOf("a"));
    hasher.update(viewOf(""));
    hasher.update(viewOf("bc"));
    EXPECT_EQ(hasher.finish(), hashPackID(viewOf("abc")));
    EXPECT_EQ(hasher.finish(), hashPackID(ByteView()));  // starts again empty
}

RecoveryKey keyOneToTwentyFive() {
    Bytes b(25);
    for (int i = 0; i < 25; ++i) b[i] = static_cast<std::uint8_t>(i + 1);
    return *RecoveryKey::fromBytes(b);
}

TEST(KnownAnswer, RecoveryKeyText) {
    const std::string text = "04106-1050R-3GG28-A1C60-T3GF2-08H44-RM2MB-1E60S-WEFVP";
    EXPECT_EQ(keyOneToTwentyFive().text(), text);
    EXPECT_EQ(RecoveryKey::parse(text), keyOneToTwentyFive());
}

TEST(KnownAnswer, RecoveryKeyFileUnwraps) {
    EXPECT_EQ(Hex::encode(KeyDerivation::hkdfKey(keyOneToTwentyFive().view(), fixedRepositoryID().view(),
                                                 "wendlemarsh/recovery-key")
                              .view()),
              "a5ff1717a8498e586668bae84c7f61a4ac1aa47b34d57cc1fbe0a539480d505a");
    KeyFile file = KeyFile::decode(viewOf(
        R"({"createdAt": "2026-01-02T03:04:05.678Z", "hint": "drawer", "keyID": "00112233445566778899aabbccddeeff", )"
        R"("method": "recoveryKey", "nonce": "YGFiY2RlZmdoaWpr", "wrapped": "JuwjS0Z1Mlc9IxC84Ms+Ayb8DGEokfB8o3HB6wP7JVEjGA1nXxjUKwRNK1AYPOuO"})"));
    EXPECT_EQ(file.unwrap(keyOneToTwentyFive(), fixedRepositoryID()), fixedMaster());
    EXPECT_EQ(file.hint, "drawer");
    EXPECT_EQ(stringOf(file.encoded()),
              "{\n"
              "  \"createdAt\" : \"2026-01-02T03:04:05.678Z\",\n"
              "  \"hint\" : \"drawer\",\n"
              "  \"keyID\" : \"00112233445566778899aabbccddeeff\",\n"
              "  \"method\" : \"recoveryKey\",\n"
              "  \"nonce\" : \"YGFiY2RlZmdoaWpr\",\n"
              "  \"wrapped\" : \"JuwjS0Z1Mlc9IxC84Ms+Ayb8DGEokfB8o3HB6wP7JVEjGA1nXxjUKwRNK1AYPOuO\"\n"
              "}");
}

TEST(KnownAnswer, PassphraseKeyFileUnwrapsWithEitherNormalisation) {
    Bytes salt = hex("707172737475767778797a7b7c7d7e7f");
    EXPECT_EQ(Hex::encode(Passphrase::deriveKey("Cafe\u0301 au lait", salt, 1000).view()),
              "eec4af3a186b16a0c866f333b007c3b34ae564711fd68e40102e3bce4ed1f9e7");
    KeyFile file = KeyFile::decode(viewOf(
        R"({"createdAt": "2026-01-02T03:04:05.678Z", "keyID": "ffeeddccbbaa99887766554433221100", "method": "passphrase", )"
        R"("nonce": "YGFiY2RlZmdoaWpr", "wrapped": "2MzrP7nGDcbCgE4MwPdyZchNvsrZkM0rNp2oAPWcKeH90Umz59ZNTu51ewp86rIW"})"));
    EXPECT_EQ(file.unwrap("Cafe\u0301 au lait", salt, 1000), fixedMaster());  // decomposed é
    EXPECT_EQ(file.unwrap("Caf\u00e9 au lait", salt, 1000), fixedMaster());   // precomposed é
    EXPECT_FALSE(file.hint.has_value());
}

}  // namespace
}  // namespace wm
