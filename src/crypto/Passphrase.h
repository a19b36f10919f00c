#pragma once
// Passphrase key derivation: PBKDF2-HMAC-SHA256 over the passphrase's UTF-8 in Unicode
// NFC, with the repository's 16-byte salt and iteration count, 32 bytes out.
#include <cstdint>
#include <string>
#include <string_view>

#include "core/Bytes.h"
#include "core/Error.h"
#include "crypto/SymmetricKey.h"

namespace wm {

class Passphrase {
public:
    static constexpr std::string_view algorithm = "PBKDF2-HMAC-SHA256";
    // Counted in user-perceived characters of the NFC form.
    static constexpr std::size_t minimumLength = 8;
    static constexpr std::size_t saltSize = 16;
    static constexpr std::uint32_t defaultIterations = 600000;
    static constexpr std::uint32_t maximumIterations = 10000000;

    class Failure : public wm::Error {
    public:
        enum class Kind { tooShort, unsupportedSetting };
        static Failure tooShort(std::size_t minimum, std::size_t got);
        // A salt that is not 16 bytes, or an iteration count outside 1...10,000,000.
        static Failure unsupportedSetting();

        Kind kind;
        std::size_t minimum = 0;  // tooShort
        std::size_t got = 0;      // tooShort

    private:
        Failure(Kind k, const std::string& description) : wm::Error(description), kind(k) {}
    };

    // The key-derivation setting of a new repository passphrase.
    struct Settings {
        std::string algorithm;  // "PBKDF2-HMAC-SHA256"
        Bytes salt;             // 16 random bytes
        std::uint32_t iterations = 0;
    };
    static Settings makeSettings(std::uint32_t iterations = defaultIterations);

    // The 32-byte wrapping key of passphrase under the setting. Throws Failure.
    static SymmetricKey deriveKey(std::string_view passphrase, ByteView salt, std::uint32_t iterations);
};

}  // namespace wm
