#include "crypto/KeyFile.h"
#include "core/ErrorDescription.h"

#include <openssl/crypto.h>

#include "core/Hex.h"
#include "crypto/ChaChaPoly.h"
#include "crypto/KeyDerivation.h"
#include "crypto/Passphrase.h"
#include "crypto/SecureRandom.h"

namespace wm {

namespace {

Bytes additionalData(std::string_view keyID, KeyFile::Method method) {
    Bytes aad = bytesOf(keyID);
    std::string_view name = KeyFile::rawValue(method);
    aad.insert(aad.end(), name.begin(), name.end());
    return aad;
}

SymmetricKey recoveryWrappingKey(const RecoveryKey& recoveryKey, const RepositoryID& repositoryID) {
    return KeyDerivation::hkdfKey(recoveryKey.view(), repositoryID.view(), KeyFile::recoveryKeyPurpose);
}

KeyFile seal(const SymmetricKey& masterKey, const SymmetricKey& wrappingKey, KeyFile::Method method,
             std::optional<std::string> hint, Date createdAt) {
    KeyFile file;
    file.keyID = Hex::encode(SecureRandom::bytes(16));
    file.method = method;
    file.createdAt = createdAt.repositoryPrecision();
    file.hint = std::move(hint);
    file.nonce = SecureRandom::bytes(KeyFile::nonceSize);
    file.wrapped =
        ChaChaPoly::seal(wrappingKey.view(), file.nonce, additionalData(file.keyID, method), masterKey.view());
    return file;
}

SymmetricKey open(const KeyFile& file, const SymmetricKey& wrappingKey) {
    std::optional<Bytes> master =
        ChaChaPoly::open(wrappingKey.view(), file.nonce, additionalData(file.keyID, file.method), file.wrapped);
    if (!master) throw KeyFile::Error::wrongKey();
    std::optional<SymmetricKey> key = SymmetricKey::fromBytes(*master);
    OPENSSL_cleanse(master->data(), master->size());
    if (!key) throw KeyFile::Error::malformed();
    return *key;
}

// What every unwrap checks first: the file's method and its shape.
void checkOpenable(const KeyFile& file, KeyFile::Method expected) {
    if (file.method == KeyFile::Method::deviceKey)
        throw KeyFile::Error::methodNotImplemented(KeyFile::Method::deviceKey);
    if (!KeyFile::isValidKeyID(file.keyID) || file.nonce.size() != KeyFile::nonceSize ||
        file.wrapped.size() != KeyFile::wrappedSize)
        throw KeyFile::Error::malformed();
    if (file.method != expected) throw KeyFile::Error::wrongKey();
}

}  // namespace

KeyFile::Error KeyFile::Error::methodNotImplemented(Method method) {
    Error e(Kind::methodNotImplemented,
            ErrorDescription("KeyFile.Error", "methodNotImplemented").add("", rawValue(method)));
    e.method = method;
    return e;
}

KeyFile::Error KeyFile::Error::wrongKey() { return Error(Kind::wrongKey, "KeyFile.Error.wrongKey"); }

KeyFile::Error KeyFile::Error::malformed() { return Error(Kind::malformed, "KeyFile.Error.malformed"); }

KeyFile::Error KeyFile::Error::wouldRemoveLastPortableKey() {
    return Error(Kind::wouldRemoveLastPortableKey, "KeyFile.Error.wouldRemoveLastPortableKey");
}

std::string_view KeyFile::rawValue(Method method) {
    switch (method) {
    case Method::recoveryKey: return "recoveryKey";
    case Method::deviceKey: return "deviceKey";
    case Method::passphrase: return "passphrase";
    }
    return "recoveryKey";
}

std::optional<KeyFile::Method> KeyFile::methodFromRawValue(std::string_view name) {
    if (name == "recoveryKey") return Method::recoveryKey;
    if (name == "deviceKey") return Method::deviceKey;
    if (name == "passphrase") return Method::passphrase;
    return std::nullopt;
}

bool KeyFile::isValidKeyID(std::string_view keyID) {
    if (keyID.size() != 32) return false;
    for (char c : keyID)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}

KeyFile KeyFile::decode(ByteView json) {
    KeyFile file;
    try {
        JSON root = RepositoryJSON::decode(json);
        file.createdAt = RepositoryJSON::toDate(RepositoryJSON::member(root, "createdAt"), "createdAt");
        if (RepositoryJSON::has(root, "hint"))
            file.hint = RepositoryJSON::text(RepositoryJSON::member(root, "hint"), "hint");
        file.keyID = RepositoryJSON::text(RepositoryJSON::member(root, "keyID"), "keyID");
        std::optional<Method> method =
            methodFromRawValue(RepositoryJSON::text(RepositoryJSON::member(root, "method"), "method"));
        if (!method) throw Error::malformed();
        file.method = *method;
        file.nonce = RepositoryJSON::toData(RepositoryJSON::member(root, "nonce"), "nonce");
        file.wrapped = RepositoryJSON::toData(RepositoryJSON::member(root, "wrapped"), "wrapped");
    } catch (const std::exception&) {
        throw Error::malformed();
    }
    // The identifier names a path; the lengths are fixed by the format.
    if (!isValidKeyID(file.keyID) || file.nonce.size() != nonceSize || file.wrapped.size() != wrappedSize)
        throw Error::malformed();
    return file;
}

JSON KeyFile::toJSON() const {
    JSON root = JSON::object();
    root["createdAt"] = RepositoryJSON::date(createdAt);
    if (hint) root["hint"] = *hint;
    root["keyID"] = keyID;
    root["method"] = std::string(rawValue(method));
    root["nonce"] = RepositoryJSON::data(nonce);
    root["wrapped"] = RepositoryJSON::data(wrapped);
    return root;
}

Bytes KeyFile::encoded() const { return RepositoryJSON::encodeBytes(toJSON(), true); }

KeyFile KeyFile::wrap(const SymmetricKey& masterKey, const RecoveryKey& recoveryKey, const RepositoryID& repositoryID,
                      std::optional<std::string> hint, Date createdAt) {
    return seal(masterKey, recoveryWrappingKey(recoveryKey, repositoryID), Method::recoveryKey, std::move(hint),
                createdAt);
}

KeyFile KeyFile::wrap(const SymmetricKey& masterKey, std::string_view passphrase, ByteView salt,
                      std::uint32_t iterations, std::optional<std::string> hint, Date createdAt) {
    return seal(masterKey, Passphrase::deriveKey(passphrase, salt, iterations), Method::passphrase, std::move(hint),
                createdAt);
}

SymmetricKey KeyFile::unwrap(const RecoveryKey& recoveryKey, const RepositoryID& repositoryID) const {
    checkOpenable(*this, Method::recoveryKey);
    return open(*this, recoveryWrappingKey(recoveryKey, repositoryID));
}

SymmetricKey KeyFile::unwrap(std::string_view passphrase, ByteView salt, std::uint32_t iterations) const {
    checkOpenable(*this, Method::passphrase);
    return open(*this, Passphrase::deriveKey(passphrase, salt, iterations));
}

SymmetricKey KeyFile::unwrap(const SymmetricKey& wrappingKey) const {
    checkOpenable(*this, method);
    return open(*this, wrappingKey);
}

bool KeyFileSet::canRemove(const KeyFile& keyFile, std::span<const KeyFile> files) {
    for (const KeyFile& other : files) {
        if (other.keyID == keyFile.keyID) continue;
        if (other.method != KeyFile::Method::deviceKey) return true;
    }
    return false;
}

}  // namespace wm
