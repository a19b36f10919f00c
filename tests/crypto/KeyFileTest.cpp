#include <gtest/gtest.h>

#include <functional>
#include <set>

#include "CryptoTestSupport.h"
#include "crypto/KeyFile.h"
#include "crypto/Passphrase.h"
#include "support/DataTable.h"

namespace wm {
namespace {

using testing::fixedMaster;
using testing::fixedRepositoryID;

constexpr std::uint32_t fewIterations = 10;

const Bytes& salt() {
    static const Bytes s(16, 0x5a);
    return s;
}

template <class F>
KeyFile::Error::Kind keyFileErrorOf(F&& f) {
    return testing::thrown<KeyFile::Error>(f).kind;
}

template <class F>
Passphrase::Failure passphraseFailureOf(F&& f) {
    return testing::thrown<Passphrase::Failure>(f);
}

constexpr std::string_view kPassphrase = "correct horse battery";

KeyFile wrapRecovery(const RecoveryKey& key, std::optional<std::string> hint = std::nullopt) {
    return KeyFile::wrap(fixedMaster(), key, fixedRepositoryID(), std::move(hint), Date::now());
}

KeyFile wrapPassphrase(std::optional<std::string> hint = std::nullopt) {
    return KeyFile::wrap(fixedMaster(), kPassphrase, salt(), fewIterations, std::move(hint), Date::now());
}

TEST(KeyFile, BothMethodsWrapAndUnwrapThroughTheirEncodedForm) {
    RecoveryKey key = RecoveryKey::generate();
    KeyFile recovery =
        KeyFile::wrap(fixedMaster(), key, fixedRepositoryID(), "in the drawer", Date::fromMicroseconds(1767225600123456));
    EXPECT_TRUE(KeyFile::isValidKeyID(recovery.keyID));
    EXPECT_EQ(recovery.createdAt, Date::fromMicroseconds(1767225600123000));  // whole milliseconds
    EXPECT_EQ(recovery.nonce.size(), 12u);
    EXPECT_EQ(recovery.wrapped.size(), 48u);
    KeyFile reread = KeyFile::decode(recovery.encoded());
    EXPECT_EQ(reread, recovery);
    EXPECT_EQ(reread.unwrap(key, fixedRepositoryID()), fixedMaster());

    KeyFile passphrase = wrapPassphrase();
    EXPECT_EQ(passphrase.method, KeyFile::Method::passphrase);
    EXPECT_EQ(KeyFile::decode(passphrase.encoded()).unwrap(kPassphrase, salt(), fewIterations), fixedMaster());
    EXPECT_EQ(stringOf(passphrase.encoded()).find("hint"), std::string::npos);  // absent, not null
    // A wrapping key derived once opens every file made with the same setting.
    SymmetricKey wrappingKey = Passphrase::deriveKey(kPassphrase, salt(), fewIterations);
    EXPECT_EQ(passphrase.unwrap(wrappingKey), fixedMaster());
    EXPECT_EQ(wrapPassphrase("x").unwrap(wrappingKey), fixedMaster());

    // Each wrap has its own identifier and nonce.
    std::set<std::string> ids;
    std::set<Bytes> nonces;
    for (int i = 0; i < 20; ++i) {
        KeyFile file = wrapRecovery(key);
        ids.insert(file.keyID);
        nonces.insert(file.nonce);
    }
    EXPECT_EQ(ids.size(), 20u);
    EXPECT_EQ(nonces.size(), 20u);
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
        {"one letter of the passphrase", [&] { passphrase.unwrap("correct horse batterY", salt(), fewIterations); }},
        {"another salt", [&] { passphrase.unwrap(kPassphrase, Bytes(16, 0x5b), fewIterations); }},
        {"another iteration count", [&] { passphrase.unwrap(kPassphrase, salt(), fewIterations + 1); }},
        {"another wrapping key", [&] { passphrase.unwrap(SymmetricKey::random()); }},
        {"a passphrase for a recovery-key file", [&] { recovery.unwrap(kPassphrase, salt(), fewIterations); }},
        {"a recovery key for a passphrase file", [&] { passphrase.unwrap(key, fixedRepositoryID()); }},
        {"method relabelled", [&] { relabelled.unwrap(kPassphrase, salt(), fewIterations); }},
        {"keyID changed", [&] { renamed.unwrap(key, fixedRepositoryID()); }},
    };
    for (const auto& [what, attempt] : attempts) EXPECT_EQ(keyFileErrorOf(attempt), KeyFile::Error::Kind::wrongKey) << what;
}

TEST(KeyFile, DeviceKeysAreNotImplementedAndBadShapesAreMalformed) {
    RecoveryKey key = RecoveryKey::generate();
    KeyFile device = wrapRecovery(key);
    device.method = KeyFile::Method::deviceKey;
    const std::function<void()> attempts[] = {[&] { device.unwrap(key, fixedRepositoryID()); },
                                               [&] { device.unwrap(kPassphrase, salt(), fewIterations); },
                                               [&] { device.unwrap(SymmetricKey::random()); }};
    for (const auto& attempt : attempts) EXPECT_EQ(keyFileErrorOf(attempt), KeyFile::Error::Kind::methodNotImplemented);

    // A file in memory with a bad shape is malformed, not a wrong key.
    KeyFile shortNonce = wrapRecovery(key), badID = wrapRecovery(key);
    shortNonce.nonce.pop_back();
    badID.keyID = "a/b";
    EXPECT_EQ(keyFileErrorOf([&] { shortNonce.unwrap(key, fixedRepositoryID()); }), KeyFile::Error::Kind::malformed);
    EXPECT_EQ(keyFileErrorOf([&] { badID.unwrap(key, fixedRepositoryID()); }), KeyFile::Error::Kind::malformed);
}

TEST(Passphrase, MinimumLengthCountsCharactersNotBytes) {
    struct Case {
        const char* passphrase;
        std::size_t characters;  // 0: accepted
    };
    const Case cases[] = {
        {"", 0 + 0},
        {"1234567", 7},
        {"\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9", 7},          // 14 bytes, 7 characters
        {"e\u0301e\u0301e\u0301e\u0301e\u0301e\u0301e\u0301", 7},  // combining marks
        {"\U0001F468\u200D\U0001F469\u200D\U0001F467abcdef", 7},    // one family emoji
    };
    for (const Case& c : cases) {
        Passphrase::Failure f = passphraseFailureOf([&] { Passphrase::deriveKey(c.passphrase, salt(), fewIterations); });
        EXPECT_EQ(f.kind, Passphrase::Failure::Kind::tooShort) << c.passphrase;
        EXPECT_EQ(f.minimum, 8u);
        EXPECT_EQ(f.got, c.characters) << c.passphrase;
    }
    EXPECT_NO_THROW(Passphrase::deriveKey("12345678", salt(), fewIterations));
    EXPECT_NO_THROW(Passphrase::deriveKey("\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9", salt(), fewIterations));
    // A too-short passphrase is refused before any file is looked at, and no file is made from one.
    KeyFile file = wrapPassphrase();
    EXPECT_EQ(passphraseFailureOf([&] { file.unwrap("short", salt(), fewIterations); }).kind,
              Passphrase::Failure::Kind::tooShort);
    EXPECT_EQ(passphraseFailureOf([&] { KeyFile::wrap(fixedMaster(), "short", salt(), 1, std::nullopt, Date::now()); }).kind,
              Passphrase::Failure::Kind::tooShort);
}

TEST(Passphrase, NewSettingsAndSettingsOutsideWhatIsWritten) {
    Passphrase::Settings a = Passphrase::makeSettings(), b = Passphrase::makeSettings(1000);
    EXPECT_EQ(a.algorithm, "PBKDF2-HMAC-SHA256");
    EXPECT_EQ(a.iterations, 600000u);
    EXPECT_EQ(b.iterations, 1000u);
    EXPECT_EQ(a.salt.size(), 16u);
    EXPECT_NE(a.salt, b.salt);
    EXPECT_EQ(passphraseFailureOf([] { Passphrase::makeSettings(0); }).kind, Passphrase::Failure::Kind::unsupportedSetting);
    for (auto [saltSize, iterations] : {std::pair<std::size_t, std::uint32_t>{15, 10}, {17, 10}, {0, 10}, {16, 0},
                                        {16, 10000001}}) {
        Bytes s(saltSize, 1);
        EXPECT_EQ(passphraseFailureOf([&] { Passphrase::deriveKey("long enough", s, iterations); }).kind,
                  Passphrase::Failure::Kind::unsupportedSetting)
            << saltSize << " " << iterations;
    }
}

TEST(KeyFile, DamagedFilesAreMalformed) {
    for (const auto& row : test::dataTable(test::dataFile("crypto/key-files.tsv"), 3, '\t')) {
        if (row.at(1) == "ok") EXPECT_NO_THROW(KeyFile::decode(viewOf(row.at(2)))) << row[0];
        else EXPECT_EQ(keyFileErrorOf([&] { KeyFile::decode(viewOf(row.at(2))); }), KeyFile::Error::Kind::malformed) << row[0];
    }
}

KeyFile fileOf(std::string keyID, KeyFile::Method method) {
    KeyFile f;
    f.keyID = std::move(keyID);
    f.method = method;
    return f;
}

TEST(KeyFileSet, CanRemoveOnlyWhileAPortableKeyRemains) {
    using M = KeyFile::Method;
    KeyFile recovery = fileOf("a", M::recoveryKey), passphrase = fileOf("b", M::passphrase),
            device = fileOf("c", M::deviceKey), device2 = fileOf("d", M::deviceKey),
            recoveryCopy = fileOf("a", M::recoveryKey);
    struct Case {
        const char* name;
        KeyFile removing;
        std::vector<KeyFile> files;
        bool expected;
    };
    const Case cases[] = {
        {"recovery with a passphrase left", recovery, {recovery, passphrase, device}, true},
        {"last portable key", recovery, {recovery, device, device2}, false},
        {"device key while a recovery key remains", device, {recovery, device}, true},
        {"only device keys remain anyway", device, {device, device2}, false},
        {"every copy with the same keyID goes", recovery, {recovery, recoveryCopy, device}, false},
        {"a file not in the list", passphrase, {recovery}, true},
        {"empty list", recovery, {}, false},
    };
    for (const Case& c : cases) EXPECT_EQ(KeyFileSet::canRemove(c.removing, c.files), c.expected) << c.name;
}

}  // namespace
}  // namespace wm
