#include "core/RepositoryJSON.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

#include "core/Base64.h"
#include "core/ErrorDescription.h"
#include "core/Unicode.h"

namespace wm::RepositoryJSON {

namespace {

const char* rawValue(DecodingError::Kind k) {
    switch (k) {
    case DecodingError::Kind::dataCorrupted: return "dataCorrupted";
    case DecodingError::Kind::keyNotFound: return "keyNotFound";
    case DecodingError::Kind::typeMismatch: return "typeMismatch";
    }
    return "unknown";
}

constexpr const char* kDateFailure = "not an ISO 8601 timestamp with fractional seconds";

// ---- Writing ---------------------------------------------------------------

void writeString(std::string& out, const std::string& raw) {
    // Strings from outside may hold broken UTF-8; the output is always valid.
    const std::string s = Unicode::isValidUTF8(viewOf(raw)) ? raw : Unicode::decodeUTF8Repairing(raw);
    out += '"';
    for (unsigned char c : s) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '/': out += "\\/"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        default:
            if (c < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    out += '"';
}

void writeDouble(std::string& out, double d) {
    if (!std::isfinite(d)) throw EncodingError("a number that is not finite cannot be written as JSON");
    // Whole values print without a fraction, as integers do.
    if (d == std::trunc(d) && std::fabs(d) < 9007199254740992.0) {
        out += std::to_string(static_cast<std::int64_t>(d));
        return;
    }
    char buf[64];
    auto result = std::to_chars(buf, buf + sizeof buf, d);
    out.append(buf, result.ptr);
}

void indent(std::string& out, int level) { out.append(static_cast<std::size_t>(level) * 2, ' '); }

void write(std::string& out, const JSON& v, bool pretty, int level) {
    switch (v.type()) {
    case JSON::value_t::null: out += "null"; break;
    case JSON::value_t::boolean: out += v.get<bool>() ? "true" : "false"; break;
    case JSON::value_t::number_integer: out += std::to_string(v.get<std::int64_t>()); break;
    case JSON::value_t::number_unsigned: out += std::to_string(v.get<std::uint64_t>()); break;
    case JSON::value_t::number_float: writeDouble(out, v.get<double>()); break;
    case JSON::value_t::string: writeString(out, v.get_ref<const std::string&>()); break;
    case JSON::value_t::binary: throw EncodingError("binary values have no JSON form");
    case JSON::value_t::discarded: throw EncodingError("a discarded value has no JSON form");
    case JSON::value_t::array: {
        out += '[';
        if (pretty) out += '\n';
        bool first = true;
        for (const JSON& element : v) {
            if (!first) out += pretty ? ",\n" : ",";
            first = false;
            if (pretty) indent(out, level + 1);
            write(out, element, pretty, level + 1);
        }
        if (pretty) {
            out += '\n';
            indent(out, level);
        }
        out += ']';
        break;
    }
    case JSON::value_t::object: {
        // nlohmann::json keeps object keys in a std::map: already sorted by bytes.
        out += '{';
        if (pretty) out += '\n';
        bool first = true;
        for (auto it = v.begin(); it != v.end(); ++it) {
            if (!first) out += pretty ? ",\n" : ",";
            first = false;
            if (pretty) indent(out, level + 1);
            writeString(out, it.key());
            out += pretty ? " : " : ":";
            write(out, it.value(), pretty, level + 1);
        }
        if (pretty) {
            out += '\n';
            indent(out, level);
        }
        out += '}';
        break;
    }
    }
}

// ---- Dates -----------------------------------------------------------------

bool isLeap(std::int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

unsigned daysInMonth(std::int64_t y, unsigned m) {
    static const unsigned days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && isLeap(y) ? 29 : days[m - 1];
}

struct Reader {
    std::string_view s;
    std::size_t i = 0;
    bool digits(std::size_t count, std::int64_t& value) {
        if (s.size() - i < count) return false;
        value = 0;
        for (std::size_t k = 0; k < count; ++k) {
            char c = s[i + k];
            if (c < '0' || c > '9') return false;
            value = value * 10 + (c - '0');
        }
        i += count;
        return true;
    }
    bool literal(char c) {
        if (i < s.size() && s[i] == c) {
            ++i;
            return true;
        }
        return false;
    }
    bool atEnd() const { return i == s.size(); }
};

std::string joinPath(std::string_view path, std::string_view key) {
    if (path.empty()) return std::string(key);
    return std::string(path) + "." + std::string(key);
}

[[noreturn]] void mismatch(std::string_view path, std::string detail) {
    throw DecodingError(DecodingError::Kind::typeMismatch, std::string(path), std::move(detail));
}

[[noreturn]] void corrupted(std::string_view path, std::string detail) {
    throw DecodingError(DecodingError::Kind::dataCorrupted, std::string(path), std::move(detail));
}

// The exact integer of a JSON number, for the range [lo, hi] (given as a
// signed and an unsigned bound so that both int64 and uint64 fit).
template <class T>
T integerOf(const JSON& value, std::string_view path) {
    constexpr bool isSigned = std::numeric_limits<T>::is_signed;
    const char* typeName = isSigned ? "an integer" : "an unsigned integer";
    if (value.is_number_unsigned()) {
        std::uint64_t u = value.get<std::uint64_t>();
        if (u > static_cast<std::uint64_t>(std::numeric_limits<T>::max()))
            corrupted(path, "number " + std::to_string(u) + " does not fit");
        return static_cast<T>(u);
    }
    if (value.is_number_integer()) {
        std::int64_t s = value.get<std::int64_t>();
        if (s < 0 && !isSigned) corrupted(path, "number " + std::to_string(s) + " does not fit");
        if constexpr (isSigned) {
            if (s < static_cast<std::int64_t>(std::numeric_limits<T>::min()) ||
                s > static_cast<std::int64_t>(std::numeric_limits<T>::max()))
                corrupted(path, "number " + std::to_string(s) + " does not fit");
        } else {
            if (static_cast<std::uint64_t>(s) > static_cast<std::uint64_t>(std::numeric_limits<T>::max()))
                corrupted(path, "number " + std::to_string(s) + " does not fit");
        }
        return static_cast<T>(s);
    }
    if (value.is_number_float()) {
        double d = value.get<double>();
        if (!std::isfinite(d) || d != std::trunc(d)) corrupted(path, "number is not an integer");
        // Integer literals inside the 64-bit ranges are parsed as integers; a value
        // that arrives as a double beyond 2^53 may be a rounded form of another
        // integer (-9223372036854775809 rounds to the int64 minimum), so it is refused.
        if (std::fabs(d) > 9007199254740992.0) corrupted(path, "number does not fit");
        // Bounds as exact doubles: min is a power of two, max + 1 is one too.
        const double lower = isSigned ? static_cast<double>(std::numeric_limits<T>::min()) : 0.0;
        const double upperExclusive = std::ldexp(1.0, std::numeric_limits<T>::digits);
        if (d < lower || d >= upperExclusive) corrupted(path, "number does not fit");
        return static_cast<T>(d);
    }
    mismatch(path, std::string("expected ") + typeName);
}

}  // namespace

DecodingError::DecodingError(Kind k, std::string p, std::string d)
    : wm::Error(ErrorDescription("RepositoryJSON.DecodingError", rawValue(k)).quoted("path", p).quoted("detail", d)),
      kind(k),
      path(std::move(p)),
      detail(std::move(d)) {}

EncodingError::EncodingError(const std::string& detail)
    : wm::Error(ErrorDescription("RepositoryJSON.EncodingError", "invalidValue").quoted("", detail)) {}

std::string encode(const JSON& value, bool pretty) {
    std::string out;
    write(out, value, pretty, 0);
    return out;
}

Bytes encodeBytes(const JSON& value, bool pretty) { return bytesOf(encode(value, pretty)); }

// Deeply nested input would make later recursive walks (copies, comparisons,
// writing) exhaust the stack; no record of ours nests anywhere near this deep.
constexpr int kMaximumDepth = 512;

static bool nestsTooDeeply(ByteView bytes) {
    int depth = 0;
    bool inString = false, escaped = false;
    for (std::uint8_t b : bytes) {
        if (inString) {
            if (escaped)
                escaped = false;
            else if (b == '\\')
                escaped = true;
            else if (b == '"')
                inString = false;
        } else if (b == '"') {
            inString = true;
        } else if (b == '[' || b == '{') {
            if (++depth > kMaximumDepth) return true;
        } else if (b == ']' || b == '}') {
            --depth;
        }
    }
    return false;
}

JSON decode(ByteView bytes) {
    if (nestsTooDeeply(bytes)) corrupted("", "The given data nests too deeply.");
    JSON result = JSON::parse(bytes.begin(), bytes.end(), nullptr, /*allow_exceptions=*/false);
    if (result.is_discarded()) corrupted("", "The given data was not valid JSON.");
    return result;
}

std::string dateText(Date date) {
    const std::int64_t ms = date.repositoryPrecision().microseconds / 1000;
    const std::int64_t days = floorDivision(ms, 86400000);
    std::int64_t msOfDay = ms - days * 86400000;
    const auto [y, m, d] = civilDate(days);
    const int hour = static_cast<int>(msOfDay / 3600000);
    const int minute = static_cast<int>(msOfDay / 60000 % 60);
    const int second = static_cast<int>(msOfDay / 1000 % 60);
    const int milli = static_cast<int>(msOfDay % 1000);
    char year[32];
    if (y >= 0 && y <= 9999) {
        std::snprintf(year, sizeof year, "%04lld", static_cast<long long>(y));
    } else {
        // Expanded years keep far dates lossless.
        std::snprintf(year, sizeof year, "%c%04lld", y < 0 ? '-' : '+', static_cast<long long>(y < 0 ? -y : y));
    }
    char buf[96];
    std::snprintf(buf, sizeof buf, "%s-%02u-%02uT%02d:%02d:%02d.%03dZ", year, m, d, hour, minute, second, milli);
    return buf;
}

// fractionRequired: 1 to 9 fraction digits must follow the seconds; otherwise none may.
static std::optional<Date> parseDateText(std::string_view text, bool fractionRequired) {
    Reader r{text};
    std::int64_t year;
    bool negativeYear = false;
    if (r.i < text.size() && (text[0] == '+' || text[0] == '-')) {
        negativeYear = text[0] == '-';
        ++r.i;
        std::size_t start = r.i;
        while (r.i < text.size() && text[r.i] >= '0' && text[r.i] <= '9' && r.i - start < 6) ++r.i;
        std::size_t count = r.i - start;
        if (count < 4) return std::nullopt;
        r.i = start;
        if (!r.digits(count, year)) return std::nullopt;
        if (negativeYear) year = -year;
    } else if (!r.digits(4, year)) {
        return std::nullopt;
    }
    std::int64_t month, day, hour, minute, second;
    if (!r.literal('-') || !r.digits(2, month) || !r.literal('-') || !r.digits(2, day)) return std::nullopt;
    if (!r.literal('T') || !r.digits(2, hour) || !r.literal(':') || !r.digits(2, minute) || !r.literal(':') ||
        !r.digits(2, second))
        return std::nullopt;
    if (month < 1 || month > 12) return std::nullopt;
    if (day < 1 || day > daysInMonth(year, static_cast<unsigned>(month))) return std::nullopt;
    if (hour > 23 || minute > 59 || second > 59) return std::nullopt;
    // 1 to 9 fraction digits, kept to the microsecond (rounded half up).
    std::int64_t fraction = 0;
    if (r.literal('.') != fractionRequired) return std::nullopt;
    if (fractionRequired) {
        std::size_t fractionDigits = 0;
        int roundDigit = 0;
        while (r.i < text.size() && text[r.i] >= '0' && text[r.i] <= '9') {
            int digit = text[r.i] - '0';
            if (fractionDigits < 6)
                fraction = fraction * 10 + digit;
            else if (fractionDigits == 6)
                roundDigit = digit;
            ++fractionDigits;
            ++r.i;
        }
        if (fractionDigits < 1 || fractionDigits > 9) return std::nullopt;
        for (std::size_t k = fractionDigits; k < 6; ++k) fraction *= 10;
        if (roundDigit >= 5) ++fraction;
    }
    std::int64_t offsetSeconds = 0;
    if (r.literal('Z')) {
        // UTC
    } else if (r.i < text.size() && (text[r.i] == '+' || text[r.i] == '-')) {
        const bool negative = text[r.i] == '-';
        ++r.i;
        std::int64_t oh, om = 0;
        if (!r.digits(2, oh)) return std::nullopt;
        if (r.literal(':')) {
            if (!r.digits(2, om)) return std::nullopt;
        } else if (!r.atEnd()) {
            if (!r.digits(2, om)) return std::nullopt;
        }
        if (oh > 23 || om > 59) return std::nullopt;
        offsetSeconds = (oh * 3600 + om * 60) * (negative ? -1 : 1);
    } else {
        return std::nullopt;
    }
    if (!r.atEnd()) return std::nullopt;
    const std::int64_t days = daysSince1970({year, static_cast<unsigned>(month), static_cast<unsigned>(day)});
    // Years have at most six digits, so the seconds fit; the microseconds may not.
    const std::int64_t seconds = days * 86400 + hour * 3600 + minute * 60 + second - offsetSeconds;
    // Before 1970 the fraction is borrowed from the next second first, so dates
    // close to the earliest representable one do not overflow on the way.
    std::int64_t wholeSeconds = seconds, micros = fraction;
    if (wholeSeconds < 0 && micros > 0) {
        wholeSeconds += 1;
        micros -= 1000000;
    }
    std::int64_t us;
    if (__builtin_mul_overflow(wholeSeconds, std::int64_t{1000000}, &us) || __builtin_add_overflow(us, micros, &us))
        return std::nullopt;
    return Date::fromMicroseconds(us);
}

std::optional<Date> parseDate(std::string_view text) { return parseDateText(text, true); }

std::optional<Date> parseWholeSecondDate(std::string_view text) { return parseDateText(text, false); }

std::string wholeSecondDateText(Date date) {
    // The whole second at or before the date; at the very start of the range that second lies
    // outside it, and the one after is taken instead of wrapping round to a far-future date.
    std::int64_t wholeUs;
    if (__builtin_mul_overflow(floorDivision(date.microseconds, 1000000), std::int64_t{1000000}, &wholeUs))
        wholeUs = date.microseconds / 1000000 * 1000000;
    const Date whole = Date::fromMicroseconds(wholeUs);
    std::string text = dateText(whole);
    text.erase(text.size() - 5, 4);  // the ".000" before "Z"
    return text;
}

JSON date(Date d) { return JSON(dateText(d)); }
JSON data(ByteView bytes) { return JSON(Base64::encode(bytes)); }
JSON uuid(const UUID& u) { return JSON(u.uuidString()); }

const JSON& member(const JSON& object, std::string_view key, std::string_view path) {
    if (!object.is_object()) mismatch(path, "expected an object");
    auto it = object.find(std::string(key));
    if (it == object.end() || it->is_null())
        throw DecodingError(DecodingError::Kind::keyNotFound, joinPath(path, key), "no value for the key");
    return *it;
}

bool has(const JSON& object, std::string_view key) {
    if (!object.is_object()) return false;
    auto it = object.find(std::string(key));
    return it != object.end() && !it->is_null();
}

std::int64_t int64(const JSON& value, std::string_view path) { return integerOf<std::int64_t>(value, path); }
std::uint64_t uint64(const JSON& value, std::string_view path) { return integerOf<std::uint64_t>(value, path); }
std::int32_t int32(const JSON& value, std::string_view path) { return integerOf<std::int32_t>(value, path); }
std::uint32_t uint32(const JSON& value, std::string_view path) { return integerOf<std::uint32_t>(value, path); }

double float64(const JSON& value, std::string_view path) {
    if (!value.is_number()) mismatch(path, "expected a number");
    double d = value.get<double>();
    if (!std::isfinite(d)) corrupted(path, "number is not finite");
    return d;
}

bool boolean(const JSON& value, std::string_view path) {
    if (!value.is_boolean()) mismatch(path, "expected a boolean");
    return value.get<bool>();
}

std::string text(const JSON& value, std::string_view path) {
    if (!value.is_string()) mismatch(path, "expected a string");
    return value.get<std::string>();
}

Date toDate(const JSON& value, std::string_view path) {
    if (!value.is_string()) mismatch(path, "expected a string");
    auto d = parseDate(value.get_ref<const std::string&>());
    if (!d) corrupted(path, kDateFailure);
    return *d;
}

Bytes toData(const JSON& value, std::string_view path) {
    if (!value.is_string()) mismatch(path, "expected a string");
    auto bytes = Base64::decode(value.get_ref<const std::string&>());
    if (!bytes) corrupted(path, "not valid Base64");
    return *bytes;
}

UUID toUUID(const JSON& value, std::string_view path) {
    if (!value.is_string()) mismatch(path, "expected a string");
    const std::string& s = value.get_ref<const std::string&>();
    auto u = s.size() == 36 ? UUID::parse(s) : std::nullopt;
    if (!u) corrupted(path, "not a UUID");
    return *u;
}

const JSON& array(const JSON& value, std::string_view path) {
    if (!value.is_array()) mismatch(path, "expected an array");
    return value;
}

std::vector<std::string> texts(const JSON& value, std::string_view path) {
    std::vector<std::string> out;
    out.reserve(array(value, path).size());
    for (const auto& item : value) out.push_back(text(item, path));
    return out;
}

std::vector<UUID> uuids(const JSON& value, std::string_view path) {
    std::vector<UUID> out;
    out.reserve(array(value, path).size());
    for (const auto& item : value) out.push_back(toUUID(item, path));
    return out;
}

JSON textArray(const std::vector<std::string>& list) {
    JSON out = JSON::array();
    for (const auto& s : list) out.push_back(s);
    return out;
}

JSON uuidArray(const std::vector<UUID>& list) {
    JSON out = JSON::array();
    for (const auto& u : list) out.push_back(uuid(u));
    return out;
}

}  // namespace wm::RepositoryJSON
