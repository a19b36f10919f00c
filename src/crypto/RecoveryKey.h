#pragma once
// A recovery key: 25 random bytes, written for people as 45 characters of the alphabet
// 0123456789ABCDEFGHJKMNPQRSTVWXYZ in nine groups of five joined by "-". The first 40
// characters carry the 200 bits, most significant first, five bits each; the last 5
// carry the first 25 bits of the SHA-256 of the 25 bytes.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/Bytes.h"
#include "core/Error.h"

namespace wm {

class RecoveryKeyError : public wm::Error {
public:
    enum class Kind { wrongLength, invalidCharacter, checksumMismatch };
    static RecoveryKeyError wrongLength(int expected, int got);
    static RecoveryKeyError invalidCharacter(std::string character, int atIndex);
    static RecoveryKeyError checksumMismatch();

    Kind kind;
    int expected = 0;       // wrongLength
    int got = 0;            // wrongLength
    std::string character;  // invalidCharacter: the character as typed (after upper-casing), UTF-8
    int atIndex = 0;        // invalidCharacter: zero-based position in the cleaned text

private:
    RecoveryKeyError(Kind k, const std::string& description) : wm::Error(description), kind(k) {}
};

struct RecoveryKey {
    static constexpr std::size_t byteCount = 25;
    static constexpr int textLength = 45;  // without the hyphens
    static constexpr std::string_view alphabet = "0123456789ABCDEFGHJKMNPQRSTVWXYZ";

    RecoveryKey() = default;
    RecoveryKey(const RecoveryKey&) = default;
    RecoveryKey& operator=(const RecoveryKey&) = default;
    ~RecoveryKey();

    // 25 bytes from the secure random source.
    static RecoveryKey generate();
    static std::optional<RecoveryKey> fromBytes(ByteView data);
    // Reads typed text: drops "-" and white space, upper-cases, reads O as 0 and I and L
    // as 1, then checks, in this order, the length (45), the alphabet and the check
    // characters. Throws RecoveryKeyError.
    static RecoveryKey parse(std::string_view text);

    // "XXXXX-XXXXX-XXXXX-XXXXX-XXXXX-XXXXX-XXXXX-XXXXX-XXXXX"
    std::string text() const;

    ByteView view() const { return ByteView(bytes.data(), bytes.size()); }
    friend bool operator==(const RecoveryKey& a, const RecoveryKey& b);

    std::array<std::uint8_t, byteCount> bytes{};
};

}  // namespace wm
