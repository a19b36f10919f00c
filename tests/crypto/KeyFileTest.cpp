#include <gtest/gtest.h>

#include <functional>
#include <tuple>

#include "CryptoTestSupport.h"
#include "crypto/KeyFile.h"
#include "crypto/Passphrase.h"
#include "support/DataTable.h"

namespace wm {
namespace {

using testing::fixedMaster;
using testing::fixedRepositoryID;

constexpr std::uint32_t fewIterations = 10;

const Bytes kSalt(16, 0x5a);

template <class F>
KeyFile::Error::Kind keyFileErrorOf(F&& f) {
    return testing::thrown<KeyFile::Error>(f).kind;
}

template <class F>
Passphrase::Failure::Kind passphraseFailureOf(F&& f) {
    return testing::thrown<Passphrase::Failure>(f).kind;
}

constexpr std::string_view kPassphrase = "correct horse battery";

KeyFile wrapRecovery(const RecoveryKey& key, std::optional<std::string> hint = std::nullopt) {
    return KeyFile::wrap(fixedMaster(), key, fixedRepositoryID(), std::move(hint), Date::now());
}

KeyFile wrapPassphrase(std::optional<std::string> hint = std::nullopt) {
    return KeyFile::wrap(fixedMaster(), kPassphrase, kSalt, fewIterations, std::move(hint), Date::now());
}

TEST(KeyFile, BothMethodsWrapAndUnwrapThroughTheirEncodedForm) {
    RecoveryKey key = RecoveryKey::generate();
    KeyFile recovery = KeyFile::wrap(fixedMaster(), key, fixedRepositoryID(), "in the drawer",
                                     Date::fromMicroseconds(1767225600123456));
    EXPECT_EQ(recovery.createdAt, Date::fromMicroseconds(1767225600123000));  // whole milliseconds
    const KeyFile reread = KeyFile::decode(recovery.encoded());
    EXPECT_EQ(reread, recovery);
    EXPECT_EQ(reread.unwrap(key, fixedRepositoryID()), fixedMaster());
    const KeyFile passphrase = wrapPassphrase();
    EXPECT_EQ(KeyFile::decode(passphrase.encoded()).unwrap(kPassphrase, kSalt, fewIterations), fixedMaster());
    EXPECT_EQ(stringOf(passphrase.encoded()).find("hint"), std::string::npos);  // absent, not null
    // A wrapping key derived once opens every file made with the same setting.
    SymmetricKey wrappingKey = Passphrase::deriveKey(kPassphrase, kSalt, fewIterations);
    EXPECT_EQ(wrapPassphrase("x").unwrap(wrappingKey), fixedMaster());
    // Each wrap has its own identifier and nonce.
    const KeyFile again = wrapRecovery(key);
    EXPECT_NE(again.keyID, recovery.keyID);
    EXPECT_NE(again.nonce, recovery.nonce);
}

// Method and identifier are bound into the seal, so relabelling a file breaks it too.
TEST(KeyFile, WrongSecretsOtherMethodsAndRelabelledFilesAreWrongKey) {
    RecoveryKey key = RecoveryKey::generate();
    const KeyFile recovery = wrapRecovery(key), passphrase = wrapPassphrase();
    KeyFile relabelled = recovery, renamed = recovery;
    relabelled.method = KeyFile::Method::passphrase;
    renamed.keyID = passphrase.keyID;
    const std::pair<const char*, std::function<void()>> attempts[] = {
        {"another recovery key", [&] { recovery.unwrap(RecoveryKey::generate(), fixedRepositoryID()); }},
        {"another repository", [&] { recovery.unwrap(key, *RepositoryID::fromBytes(Bytes(32, 1))); }},
        {"one letter of the passphrase", [&] { passphrase.unwrap("correct horse batterY", kSalt, fewIterations); }},
        {"another salt", [&] { passphrase.unwrap(kPassphrase, Bytes(16, 0x5b), fewIterations); }},
        {"another iteration count", [&] { passphrase.unwrap(kPassphrase, kSalt, fewIterations + 1); }},
        {"another wrapping key", [&] { passphrase.unwrap(SymmetricKey::random()); }},
        {"a passphrase for a recovery-key file", [&] { recovery.unwrap(kPassphrase, kSalt, fewIterations); }},
        {"a recovery key for a passphrase file", [&] { passphrase.unwrap(key, fixedRepositoryID()); }},
        {"method relabelled", [&] { relabelled.unwrap(kPassphrase, kSalt, fewIterations); }},
        {"keyID changed", [&] { renamed.unwrap(key, fixedRepositoryID()); }},
    };
    for (const auto& [what, attempt] : attempts)
        EXPECT_EQ(keyFileErrorOf(attempt), KeyFile::Error::Kind::wrongKey) << what;
}

TEST(KeyFile, DeviceKeysAreNotImplementedAndBadShapesAreMalformed) {
    RecoveryKey key = RecoveryKey::generate();
    KeyFile device = wrapRecovery(key);
    device.method = KeyFile::Method::deviceKey;
    const std::function<void()> attempts[] = {[&] { device.unwrap(key, fixedRepositoryID()); },
                                              [&] { device.unwrap(kPassphrase, kSalt, fewIterations); },
                                              [&] { device.unwrap(SymmetricKey::random()); }};
    for (const auto& attempt : attempts) EXPECT_EQ(keyFileErrorOf(attempt), KeyFile::Error::Kind::methodNotImplemented);

    // A file in memory with a bad shape is malformed, not a wrong key.
    KeyFile badID = wrapRecovery(key);
    badID.keyID = "a/b";
    EXPECT_EQ(keyFileErrorOf([&] { badID.unwrap(key, fixedRepositoryID()); }), KeyFile::Error::Kind::malformed);
}

TEST(Passphrase, MinimumLengthCountsCharactersNotBytes) {
    // 14 bytes of 7 characters, combining marks, one family emoji: each 7 characters.
    for (const char* passphrase :
         {"1234567", "\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9", "e\u0301e\u0301e\u0301e\u0301e\u0301e\u0301e\u0301",
          "\U0001F468\u200D\U0001F469\u200D\U0001F467abcdef"}) {
        const auto f =
            testing::thrown<Passphrase::Failure>([&] { Passphrase::deriveKey(passphrase, kSalt, fewIterations); });
        EXPECT_EQ(f.kind, Passphrase::Failure::Kind::tooShort) << passphrase;
        EXPECT_EQ(f.got, 7u) << passphrase;
    }
    EXPECT_NO_THROW(Passphrase::deriveKey("\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9", kSalt, fewIterations));
    // A too-short passphrase is refused before any file is looked at, and no file is made from one.
    const KeyFile file = wrapPassphrase();
    EXPECT_EQ(passphraseFailureOf([&] { file.unwrap("short", kSalt, fewIterations); }),
              Passphrase::Failure::Kind::tooShort);
    EXPECT_EQ(passphraseFailureOf([&] { KeyFile::wrap(fixedMaster(), "short", kSalt, 1, std::nullopt, Date::now()); }),
              Passphrase::Failure::Kind::tooShort);
}

TEST(Passphrase, NewSettingsAndSettingsOutsideWhatIsWritten) {
    const Passphrase::Settings a = Passphrase::makeSettings();
    EXPECT_EQ(a.iterations, 600000u);
    EXPECT_NE(a.salt, Passphrase::makeSettings().salt);
    EXPECT_EQ(passphraseFailureOf([] { Passphrase::makeSettings(0); }), Passphrase::Failure::Kind::unsupportedSetting);
    for (auto [saltSize, iterations] :
         {std::pair<std::size_t, std::uint32_t>{15, 10}, {17, 10}, {16, 0}, {16, 10000001}}) {
        const Bytes s(saltSize, 1);
        EXPECT_EQ(passphraseFailureOf([&] { Passphrase::deriveKey("long enough", s, iterations); }),
                  Passphrase::Failure::Kind::unsupportedSetting)
            << saltSize << " " << iterations;
    }
}

TEST(KeyFile, DamagedFilesAreMalformed) {
    for (const auto& row : test::dataTable("crypto/key-files.tsv", 3)) {
        if (row.at(1) == "ok")
            EXPECT_NO_THROW(KeyFile::decode(viewOf(row.at(2)))) << row[0];
        else
            EXPECT_EQ(keyFileErrorOf([&] { KeyFile::decode(viewOf(row.at(2))); }), KeyFile::Error::Kind::malformed)
                << row[0];
    }
}

TEST(KeyFileSet, CanRemoveOnlyWhileAPortableKeyRemains) {
    using M = KeyFile::Method;
    const KeyFile recovery{"a", M::recoveryKey}, passphrase{"b", M::passphrase}, device{"c", M::deviceKey},
        device2{"d", M::deviceKey}, recoveryCopy{"a", M::recoveryKey};
    const std::tuple<const char*, KeyFile, std::vector<KeyFile>, bool> cases[] = {
        {"recovery with a passphrase left", recovery, {recovery, passphrase, device}, true},
        {"last portable key", recovery, {recovery, device, device2}, false},
        {"device key while a recovery key remains", device, {recovery, device}, true},
        {"only device keys remain anyway", device, {device, device2}, false},
        {"every copy with the same keyID goes", recovery, {recovery, recoveryCopy, device}, false},
        {"a file not in the list", passphrase, {recovery}, true},
        {"empty list", recovery, {}, false},
    };
    for (const auto& [name, removing, files, expected] : cases)
        EXPECT_EQ(KeyFileSet::canRemove(removing, files), expected) << name;
}

}  // namespace
}  // namespace wm
