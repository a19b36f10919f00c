#pragma once
// A key file: one wrapped copy of a repository's master key, stored as pretty JSON in
// "keys/<keyID>.key":
//     "createdAt"  ISO 8601 text with fractional seconds (whole milliseconds)
//     "hint"       text, left out when absent
//     "keyID"      32 lower-case hex digits (16 random bytes)
//     "method"     "recoveryKey", "deviceKey" or "passphrase"
//     "nonce"      12 bytes, Base64
//     "wrapped"    48 bytes, Base64: ChaCha20-Poly1305 sealing of the 32-byte master key
//                  (ciphertext then tag) under the wrapping key, with additional data =
//                  the keyID's UTF-8 bytes followed by the method text
// A recovery key's wrapping key is HKDF-SHA256(the 25 key bytes, salt = the repository ID
// bytes, info = "wendlemarsh/recovery-key"); a passphrase's is the Passphrase derivation
// with the repository's key-derivation setting. Device-key files are not opened here.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "core/Bytes.h"
#include "core/Date.h"
#include "core/Error.h"
#include "core/Identifiers.h"
#include "core/RepositoryJSON.h"
#include "crypto/RecoveryKey.h"
#include "crypto/SymmetricKey.h"

namespace wm {

struct KeyFile {
    enum class Method { recoveryKey, deviceKey, passphrase };

    class Error : public wm::Error {
    public:
        enum class Kind { methodNotImplemented, wrongKey, malformed, wouldRemoveLastPortableKey };
        static Error methodNotImplemented(Method method);
        static Error wrongKey();
        static Error malformed();
        static Error wouldRemoveLastPortableKey();

        Kind kind;
        Method method = Method::recoveryKey;  // methodNotImplemented

    private:
        Error(Kind k, const std::string& description) : wm::Error(description), kind(k) {}
    };

    static constexpr std::size_t nonceSize = 12;
    static constexpr std::size_t wrappedSize = 48;
    static constexpr std::string_view recoveryKeyPurpose = "wendlemarsh/recovery-key";

    std::string keyID;
    Method method = Method::recoveryKey;
    Date createdAt;
    std::optional<std::string> hint;
    Bytes nonce;    // 12 bytes
    Bytes wrapped;  // 48 bytes

    // The stored text of a method is its case name; any other text gives nothing.
    static std::string_view rawValue(Method method);
    static std::optional<Method> methodFromRawValue(std::string_view text);
    // 32 lower-case hex digits: the only key identifiers that can name a key file.
    static bool isValidKeyID(std::string_view keyID);

    // Parses a key file; anything that is not a well-formed key file (bad JSON, a missing
    // or mistyped field, an unknown method, a key identifier that is not 32 lower-case hex
    // digits, a nonce or wrapped key of the wrong length) throws Error::malformed.
    static KeyFile decode(ByteView json);
    JSON toJSON() const;
    // Pretty JSON, keys sorted.
    Bytes encoded() const;

    // A new recovery-key file. createdAt is stored rounded to whole milliseconds.
    static KeyFile wrap(const SymmetricKey& masterKey, const RecoveryKey& recoveryKey, const RepositoryID& repositoryID,
                        std::optional<std::string> hint, Date createdAt);
    // A new passphrase file under the repository's key-derivation setting. Throws Passphrase::Failure.
    static KeyFile wrap(const SymmetricKey& masterKey, std::string_view passphrase, ByteView salt,
                        std::uint32_t iterations, std::optional<std::string> hint, Date createdAt);

    // The master key. A device-key file throws methodNotImplemented(deviceKey); a file of
    // the other portable method or a key that does not open it throws wrongKey; a damaged
    // file throws malformed.
    SymmetricKey unwrap(const RecoveryKey& recoveryKey, const RepositoryID& repositoryID) const;
    // As above for a passphrase file; also throws Passphrase::Failure.
    SymmetricKey unwrap(std::string_view passphrase, ByteView salt, std::uint32_t iterations) const;
    // As above with the wrapping key already derived (Passphrase::deriveKey), so that a
    // slow passphrase derivation runs once for several files of the same repository.
    SymmetricKey unwrap(const SymmetricKey& wrappingKey) const;

    friend bool operator==(const KeyFile&, const KeyFile&) = default;
};

struct KeyFileSet {
    // True when, after every file with keyFile's keyID is taken out of files, some
    // remaining file has a method other than deviceKey.
    static bool canRemove(const KeyFile& keyFile, std::span<const KeyFile> files);
};

}  // namespace wm
