#include <gtest/gtest.h>

#include <set>

#include "CryptoTestSupport.h"
#include "crypto/KeyFile.h"
#include "crypto/Passphrase.h"

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
    try {
        f();
    } catch (const KeyFile::Error& e) {
        return e.kind;
    }
    ADD_FAILURE() << "no KeyFile::Error";
    return KeyFile::Error::Kind::wouldRemoveLastPortableKey;
}

template <class F>
Passphrase::Failure passphraseFailureOf(F&& f) {
    try {
        f();
    } catch (const Passphrase::Failure& e) {
        return e;
    }
    ADD_FAILURE() << "no Passphrase::Failure";
    return Passphrase::Failure::unsupportedSetting();
}

TEST(KeyFile, RecoveryKeyWrapRoundTrips) {
    RecoveryKey key = RecoveryKey::generate();
    Date created = Date::fromMicroseconds(1767225600123456);
    KeyFile file = KeyFile::wrap(fixedMaster(), key, fixedRepositoryID(), "in the drawer", created);
    EXPECT_EQ(file.method, KeyFile::Method::recoveryKey);
    EXPECT_TRUE(KeyFile::isValidKeyID(file.keyID));
    EXPECT_EQ(file.createdAt, Date::fromMicroseconds(1767225600123000));
    EXPECT_EQ(file.nonce.size(), 12u);
    EXPECT_EQ(file.wrapped.size(), 48u);
    EXPECT_EQ(file.unwrap(key, fixedRepositoryID()), fixedMaster());

    KeyFile reread = KeyFile::decode(file.encoded());
    EXPECT_EQ(reread, file);
    EXPECT_EQ(reread.unwrap(key, fixedRepositoryID()), fixedMaster());
}

TEST(KeyFile, EachWrapHasItsOwnIdentifierAndNonce) {
    RecoveryKey key = RecoveryKey::generate();
    std::set<std::string> ids;
    std::set<Bytes> nonces;
    for (int i = 0; i < 20; ++i) {
        KeyFile file = KeyFile::wrap(fixedMaster(), key, fixedRepositoryID(), std::nullopt, Date::now());
        ids.insert(file.keyID);
        nonces.insert(file.nonce);
    }
    EXPECT_EQ(ids.size(), 20u);
    EXPECT_EQ(nonces.size(), 20u);
}

TEST(KeyFile, WrongRecoveryKeyOrRepository) {
    RecoveryKey key = RecoveryKey::generate();
    KeyFile file = KeyFile::wrap(fixedMaster(), key, fixedRepositoryID(), std::nullopt, Date::now());
    RepositoryID otherRepository = *RepositoryID::fromBytes(Bytes(32, 1));
    EXPECT_EQ(keyFileErrorOf([&] { file.unwrap(RecoveryKey::generate(), fixedRepositoryID()); }),
              KeyFile::Error::Kind::wrongKey);
    EXPECT_EQ(keyFileErrorOf([&] { file.unwrap(key, otherRepository); }), KeyFile::Error::Kind::wrongKey);
}

TEST(KeyFile, PassphraseWrapRoundTrips) {
    KeyFile file = KeyFile::wrap(fixedMaster(), "correct horse battery", salt(), fewIterations, std::nullopt, Date::now());
    EXPECT_EQ(file.method, KeyFile::Method::passphrase);
    EXPECT_EQ(KeyFile::decode(file.encoded()).unwrap("correct horse battery", salt(), fewIterations), fixedMaster());
    EXPECT_EQ(stringOf(file.encoded()).find("hint"), std::string::npos);  // absent, not null
}

TEST(KeyFile, UnwrapWithAWrappingKeyDerivedOnce) {
    SymmetricKey wrappingKey = Passphrase::deriveKey("correct horse battery", salt(), fewIterations);
    KeyFile first = KeyFile::wrap(fixedMaster(), "correct horse battery", salt(), fewIterations, std::nullopt, Date::now());
    KeyFile second = KeyFile::wrap(fixedMaster(), "correct horse battery", salt(), fewIterations, "x", Date::now());
    EXPECT_EQ(first.unwrap(wrappingKey), fixedMaster());
    EXPECT_EQ(second.unwrap(wrappingKey), fixedMaster());
    EXPECT_EQ(keyFileErrorOf([&] { first.unwrap(SymmetricKey::random()); }), KeyFile::Error::Kind::wrongKey);
    KeyFile device = first;
    device.method = KeyFile::Method::deviceKey;
    EXPECT_EQ(keyFileErrorOf([&] { device.unwrap(wrappingKey); }), KeyFile::Error::Kind::methodNotImplemented);
}

TEST(KeyFile, WrongPassphraseOrSetting) {
    KeyFile file = KeyFile::wrap(fixedMaster(), "correct horse battery", salt(), fewIterations, std::nullopt, Date::now());
    Bytes otherSalt(16, 0x5b);
    EXPECT_EQ(keyFileErrorOf([&] { file.unwrap("correct horse batterY", salt(), fewIterations); }),
              KeyFile::Error::Kind::wrongKey);
    EXPECT_EQ(keyFileErrorOf([&] { file.unwrap("correct horse battery", otherSalt, fewIterations); }),
              KeyFile::Error::Kind::wrongKey);
    EXPECT_EQ(keyFileErrorOf([&] { file.unwrap("correct horse battery", salt(), fewIterations + 1); }),
              KeyFile::Error::Kind::wrongKey);
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
    KeyFile file = KeyFile::wrap(fixedMaster(), "correct horse battery", salt(), fewIterations, std::nullopt, Date::now());
    EXPECT_EQ(passphraseFailureOf([&] { file.unwrap("short", salt(), fewIterations); }).kind,
              Passphrase::Failure::Kind::tooShort);
    EXPECT_EQ(passphraseFailureOf([&] { KeyFile::wrap(fixedMaster(), "short", salt(), 1, std::nullopt, Date::now()); }).kind,
              Passphrase::Failure::Kind::tooShort);
}

TEST(Passphrase, SettingsOutsideWhatIsWrittenAreRefused) {
    for (auto [saltSize, iterations] : {std::pair<std::size_t, std::uint32_t>{15, 10}, {17, 10}, {0, 10}, {16, 0},
                                        {16, 10000001}}) {
        Bytes s(saltSize, 1);
        EXPECT_EQ(passphraseFailureOf([&] { Passphrase::deriveKey("long enough", s, iterations); }).kind,
                  Passphrase::Failure::Kind::unsupportedSetting)
            << saltSize << " " << iterations;
    }
}

TEST(Passphrase, NewSettings) {
    Passphrase::Settings a = Passphrase::makeSettings();
    Passphrase::Settings b = Passphrase::makeSettings(1000);
    EXPECT_EQ(a.algorithm, "PBKDF2-HMAC-SHA256");
    EXPECT_EQ(a.iterations, 600000u);
    EXPECT_EQ(b.iterations, 1000u);
    EXPECT_EQ(a.salt.size(), 16u);
    EXPECT_NE(a.salt, b.salt);
    EXPECT_EQ(passphraseFailureOf([] { Passphrase::makeSettings(0); }).kind, Passphrase::Failure::Kind::unsupportedSetting);
}

TEST(KeyFile, MethodsDoNotStandInForEachOther) {
    RecoveryKey key = RecoveryKey::generate();
    KeyFile recovery = KeyFile::wrap(fixedMaster(), key, fixedRepositoryID(), std::nullopt, Date::now());
    KeyFile passphrase = KeyFile::wrap(fixedMaster(), "correct horse battery", salt(), fewIterations, std::nullopt, Date::now());
    EXPECT_EQ(keyFileErrorOf([&] { recovery.unwrap("correct horse battery", salt(), fewIterations); }),
              KeyFile::Error::Kind::wrongKey);
    EXPECT_EQ(keyFileErrorOf([&] { passphrase.unwrap(key, fixedRepositoryID()); }), KeyFile::Error::Kind::wrongKey);

    // Relabelling a file's method or identifier breaks its seal: both are bound in.
    KeyFile relabelled = recovery;
    relabelled.method = KeyFile::Method::passphrase;
    EXPECT_EQ(keyFileErrorOf([&] { relabelled.unwrap("correct horse battery", salt(), fewIterations); }),
              KeyFile::Error::Kind::wrongKey);
    KeyFile renamed = recovery;
    renamed.keyID = passphrase.keyID;
    EXPECT_EQ(keyFileErrorOf([&] { renamed.unwrap(key, fixedRepositoryID()); }), KeyFile::Error::Kind::wrongKey);

    KeyFile device = recovery;
    device.method = KeyFile::Method::deviceKey;
    try {
        device.unwrap(key, fixedRepositoryID());
        ADD_FAILURE();
    } catch (const KeyFile::Error& e) {
        EXPECT_EQ(e.kind, KeyFile::Error::Kind::methodNotImplemented);
        EXPECT_EQ(e.method, KeyFile::Method::deviceKey);
        EXPECT_STREQ(e.what(), "KeyFile.Error.methodNotImplemented(deviceKey)");
    }
    EXPECT_EQ(keyFileErrorOf([&] { device.unwrap("correct horse battery", salt(), fewIterations); }),
              KeyFile::Error::Kind::methodNotImplemented);
}

std::string validJSON(std::string_view replaceKey = {}, std::string_view with = {}) {
    std::map<std::string, std::string, std::less<>> fields = {
        {"createdAt", "\"2026-01-02T03:04:05.678Z\""},
        {"hint", "\"drawer\""},
        {"keyID", "\"00112233445566778899aabbccddeeff\""},
        {"method", "\"recoveryKey\""},
        {"nonce", "\"YGFiY2RlZmdoaWpr\""},
        {"wrapped", "\"JuwjS0Z1Mlc9IxC84Ms+Ayb8DGEokfB8o3HB6wP7JVEjGA1nXxjUKwRNK1AYPOuO\""},
    };
    if (!replaceKey.empty()) {
        if (with.empty()) fields.erase(fields.find(replaceKey));
        else fields[std::string(replaceKey)] = std::string(with);
    }
    std::string json = "{";
    for (const auto& [key, value] : fields) json += (json.size() > 1 ? "," : "") + ("\"" + key + "\":" + value);
    return json + "}";
}

TEST(KeyFile, DamagedFilesAreMalformed) {
    ASSERT_NO_THROW(KeyFile::decode(viewOf(validJSON())));
    EXPECT_NO_THROW(KeyFile::decode(viewOf(validJSON("hint", "null"))));
    EXPECT_NO_THROW(KeyFile::decode(viewOf(validJSON("hint", ""))));
    EXPECT_NO_THROW(KeyFile::decode(viewOf(validJSON("extra", "[1,2]"))));  // unknown keys are ignored
    const std::pair<std::string, std::string> damaged[] = {
        {"not JSON", "{\"keyID\":"},
        {"empty", ""},
        {"array", "[]"},
        {"no createdAt", validJSON("createdAt", "")},
        {"date without fraction", validJSON("createdAt", "\"2026-01-02T03:04:05Z\"")},
        {"no keyID", validJSON("keyID", "")},
        {"no method", validJSON("method", "")},
        {"no nonce", validJSON("nonce", "")},
        {"no wrapped", validJSON("wrapped", "")},
        {"hint a number", validJSON("hint", "3")},
        {"unknown method", validJSON("method", "\"fingerprint\"")},
        {"method in other case", validJSON("method", "\"RecoveryKey\"")},
        {"nonce not Base64", validJSON("nonce", "\"@@@@\"")},
        {"nonce of 9 bytes", validJSON("nonce", "\"YGFiY2RlZmdo\"")},
        {"wrapped of 32 bytes", validJSON("wrapped", "\"AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA=\"")},
        {"keyID upper case", validJSON("keyID", "\"00112233445566778899AABBCCDDEEFF\"")},
        {"keyID too short", validJSON("keyID", "\"00112233445566778899aabbccddeef\"")},
        {"keyID a path", validJSON("keyID", "\"../../../../../../../../etc/pass\"")},
        {"keyID with NUL", validJSON("keyID", "\"00112233445566778899aabbccdde\\u0000f\"")},
        {"keyID a number", validJSON("keyID", "7")},
    };
    for (const auto& [name, json] : damaged)
        EXPECT_EQ(keyFileErrorOf([&] { KeyFile::decode(viewOf(json)); }), KeyFile::Error::Kind::malformed) << name;
}

TEST(KeyFile, InMemoryFileWithBadShapeIsMalformedNotWrongKey) {
    RecoveryKey key = RecoveryKey::generate();
    KeyFile file = KeyFile::wrap(fixedMaster(), key, fixedRepositoryID(), std::nullopt, Date::now());
    KeyFile shortNonce = file;
    shortNonce.nonce.pop_back();
    EXPECT_EQ(keyFileErrorOf([&] { shortNonce.unwrap(key, fixedRepositoryID()); }), KeyFile::Error::Kind::malformed);
    KeyFile badID = file;
    badID.keyID = "a/b";
    EXPECT_EQ(keyFileErrorOf([&] { badID.unwrap(key, fixedRepositoryID()); }), KeyFile::Error::Kind::malformed);
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
