#include "crypto/RecoveryKey.h"
#include "core/ErrorDescription.h"

#include <openssl/crypto.h>

#include <cstring>

#include <unicode/locid.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include "core/Unicode.h"
#include "crypto/Digest.h"
#include "crypto/SecureRandom.h"

namespace wm {

namespace {

constexpr int dataCharacters = 40;
constexpr int checkCharacters = 5;

int alphabetIndex(char c) {
    std::size_t at = RecoveryKey::alphabet.find(c);
    return at == std::string_view::npos ? -1 : static_cast<int>(at);
}

// The five check characters of the bytes: the first 25 bits of their SHA-256.
std::array<char, checkCharacters> checkOf(ByteView bytes) {
    Digest256 digest = sha256(bytes);
    std::uint32_t bits = (std::uint32_t{digest[0]} << 24) | (std::uint32_t{digest[1]} << 16) |
                         (std::uint32_t{digest[2]} << 8) | digest[3];
    std::array<char, checkCharacters> out;
    for (int i = 0; i < checkCharacters; ++i) out[i] = RecoveryKey::alphabet[(bits >> (27 - 5 * i)) & 31];
    return out;
}

bool isWhiteSpace(std::string_view cluster) {
    icu::UnicodeString s =
        icu::UnicodeString::fromUTF8(icu::StringPiece(cluster.data(), static_cast<int32_t>(cluster.size())));
    if (s.isEmpty()) return false;
    for (int32_t i = 0; i < s.length(); i = s.moveIndex32(i, 1))
        if (!u_isUWhiteSpace(s.char32At(i))) return false;
    return true;
}

std::string upperCased(std::string_view text) {
    std::string valid = Unicode::isValidUTF8(viewOf(text)) ? std::string(text) : Unicode::decodeUTF8Repairing(text);
    icu::UnicodeString s =
        icu::UnicodeString::fromUTF8(icu::StringPiece(valid.data(), static_cast<int32_t>(valid.size())));
    s.toUpper(icu::Locale::getRoot());
    std::string out;
    s.toUTF8String(out);
    return out;
}

}  // namespace

RecoveryKeyError RecoveryKeyError::wrongLength(int expected, int got) {
    RecoveryKeyError e(Kind::wrongLength,
                       ErrorDescription("RecoveryKeyError", "wrongLength").add("expected", expected).add("got", got));
    e.expected = expected;
    e.got = got;
    return e;
}

RecoveryKeyError RecoveryKeyError::invalidCharacter(std::string character, int atIndex) {
    RecoveryKeyError e(
        Kind::invalidCharacter,
        ErrorDescription("RecoveryKeyError", "invalidCharacter").quoted("", character).add("atIndex", atIndex));
    e.character = std::move(character);
    e.atIndex = atIndex;
    return e;
}

RecoveryKeyError RecoveryKeyError::checksumMismatch() {
    return RecoveryKeyError(Kind::checksumMismatch, "RecoveryKeyError.checksumMismatch");
}

RecoveryKey::~RecoveryKey() { OPENSSL_cleanse(bytes.data(), bytes.size()); }

RecoveryKey RecoveryKey::generate() {
    RecoveryKey key;
    SecureRandom::fill(key.bytes);
    return key;
}

std::optional<RecoveryKey> RecoveryKey::fromBytes(ByteView data) {
    if (data.size() != byteCount) return std::nullopt;
    RecoveryKey key;
    std::memcpy(key.bytes.data(), data.data(), byteCount);
    return key;
}

bool operator==(const RecoveryKey& a, const RecoveryKey& b) {
    return CRYPTO_memcmp(a.bytes.data(), b.bytes.data(), RecoveryKey::byteCount) == 0;
}

std::string RecoveryKey::text() const {
    std::string plain;
    plain.reserve(textLength);
    // 200 bits, five at a time, most significant first.
    for (int i = 0; i < dataCharacters; ++i) {
        int value = 0;
        for (int b = 0; b < 5; ++b) {
            int bit = i * 5 + b;
            value = (value << 1) | ((bytes[bit / 8] >> (7 - bit % 8)) & 1);
        }
        plain += alphabet[value];
    }
    for (char c : checkOf(view())) plain += c;
    std::string grouped;
    for (int i = 0; i < textLength; ++i) {
        if (i > 0 && i % 5 == 0) grouped += '-';
        grouped += plain[i];
    }
    return grouped;
}

RecoveryKey RecoveryKey::parse(std::string_view text) {
    std::vector<std::string> cleaned;
    for (std::string& cluster : Unicode::characters(upperCased(text))) {
        if (cluster == "-" || isWhiteSpace(cluster)) continue;
        if (cluster == "O")
            cluster = "0";
        else if (cluster == "I" || cluster == "L")
            cluster = "1";
        cleaned.push_back(std::move(cluster));
    }
    if (static_cast<int>(cleaned.size()) != textLength)
        throw RecoveryKeyError::wrongLength(textLength, static_cast<int>(cleaned.size()));

    std::array<int, textLength> values;
    for (int i = 0; i < textLength; ++i) {
        const std::string& c = cleaned[i];
        int value = c.size() == 1 ? alphabetIndex(c[0]) : -1;
        if (value < 0) throw RecoveryKeyError::invalidCharacter(c, i);
        values[i] = value;
    }

    RecoveryKey key;
    for (int i = 0; i < dataCharacters; ++i) {
        for (int b = 0; b < 5; ++b) {
            int bit = i * 5 + b;
            if ((values[i] >> (4 - b)) & 1) key.bytes[bit / 8] |= static_cast<std::uint8_t>(0x80 >> (bit % 8));
        }
    }
    auto check = checkOf(key.view());
    for (int i = 0; i < checkCharacters; ++i)
        if (RecoveryKey::alphabet[values[dataCharacters + i]] != check[i]) throw RecoveryKeyError::checksumMismatch();
    return key;
}

}  // namespace wm
