#include "crypto/Passphrase.h"
#include "core/ErrorDescription.h"

#include <openssl/crypto.h>

#include "core/Unicode.h"
#include "crypto/KeyDerivation.h"
#include "crypto/SecureRandom.h"

namespace wm {

Passphrase::Failure Passphrase::Failure::tooShort(std::size_t minimum, std::size_t got) {
    Failure f(Kind::tooShort,
              ErrorDescription("Passphrase.Failure", "tooShort").add("minimum", minimum).add("got", got));
    f.minimum = minimum;
    f.got = got;
    return f;
}

Passphrase::Failure Passphrase::Failure::unsupportedSetting() {
    return Failure(Kind::unsupportedSetting, "Passphrase.Failure.unsupportedSetting");
}

Passphrase::Settings Passphrase::makeSettings(std::uint32_t iterations) {
    if (iterations < 1 || iterations > maximumIterations) throw Failure::unsupportedSetting();
    return Settings{std::string(algorithm), SecureRandom::bytes(saltSize), iterations};
}

SymmetricKey Passphrase::deriveKey(std::string_view passphrase, ByteView salt, std::uint32_t iterations) {
    std::string normalized = Unicode::nfc(passphrase);
    std::size_t length = Unicode::characterCount(normalized);
    if (length < minimumLength) {
        OPENSSL_cleanse(normalized.data(), normalized.size());
        throw Failure::tooShort(minimumLength, length);
    }
    if (salt.size() != saltSize || iterations < 1 || iterations > maximumIterations) {
        OPENSSL_cleanse(normalized.data(), normalized.size());
        throw Failure::unsupportedSetting();
    }
    SymmetricKey key = KeyDerivation::pbkdf2SHA256(viewOf(normalized), salt, iterations);
    OPENSSL_cleanse(normalized.data(), normalized.size());
    return key;
}

}  // namespace wm
