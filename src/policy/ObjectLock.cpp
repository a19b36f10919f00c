#include "policy/ObjectLock.h"

#include <algorithm>
#include <string_view>

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include "core/Localization.h"
#include "core/Unicode.h"

namespace wm {
namespace {

// One code point at the front or the back of s: its size, and whether it is white space
// or a line break in the Unicode sense.
bool whiteAtFront(std::string_view s, std::size_t& size) {
    int32_t i = 0;
    UChar32 c;
    U8_NEXT(s.data(), i, static_cast<int32_t>(std::min<std::size_t>(s.size(), 4)), c);
    size = static_cast<std::size_t>(i);
    return c >= 0 && u_isUWhiteSpace(c);
}
bool whiteAtBack(std::string_view s, std::size_t& size) {
    const std::string_view tail = s.substr(s.size() - std::min<std::size_t>(s.size(), 4));
    int32_t i = static_cast<int32_t>(tail.size());
    UChar32 c;
    U8_PREV(tail.data(), 0, i, c);
    size = tail.size() - static_cast<std::size_t>(i);
    return c >= 0 && u_isUWhiteSpace(c);
}

std::string_view trimmed(std::string_view s) {
    std::size_t size = 0;
    while (!s.empty() && whiteAtFront(s, size)) s.remove_prefix(size);
    while (!s.empty() && whiteAtBack(s, size)) s.remove_suffix(size);
    return s;
}

// The trimmed text of the first <name> element, when its first closing tag follows it.
std::optional<std::string_view> value(std::string_view name, std::string_view text) {
    const std::string open = "<" + std::string(name) + ">", close = "</" + std::string(name) + ">";
    const auto start = text.find(open);
    if (start == std::string_view::npos) return std::nullopt;
    const auto stop = text.find(close);
    if (stop == std::string_view::npos || stop < start + open.size()) return std::nullopt;
    return trimmed(text.substr(start + open.size(), stop - start - open.size()));
}

// An optional sign and ASCII digits, nothing else, within the signed 64-bit range.
std::optional<std::int64_t> wholeNumber(std::string_view s) {
    bool negative = false;
    if (!s.empty() && (s[0] == '+' || s[0] == '-')) {
        negative = s[0] == '-';
        s.remove_prefix(1);
    }
    if (s.empty()) return std::nullopt;
    std::uint64_t magnitude = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return std::nullopt;
        if (__builtin_mul_overflow(magnitude, 10u, &magnitude) ||
            __builtin_add_overflow(magnitude, static_cast<unsigned>(c - '0'), &magnitude))
            return std::nullopt;
    }
    constexpr std::uint64_t top = static_cast<std::uint64_t>(INT64_MAX);
    if (magnitude > top + (negative ? 1 : 0)) return std::nullopt;
    return negative ? static_cast<std::int64_t>(0 - magnitude) : static_cast<std::int64_t>(magnitude);
}

ObjectLock withMode(std::string_view text, std::int64_t days) {
    const auto mode = value("Mode", text);
    if (mode == "COMPLIANCE") return ObjectLock::compliance(days);
    if (mode == "GOVERNANCE") return ObjectLock::governance(days);
    return ObjectLock::enabledWithoutDefault();
}

}  // namespace

ObjectLock ObjectLock::parse(ByteView document) {
    const std::string text = Unicode::decodeUTF8Repairing(document);
    if (text.find("ObjectLockEnabled") == std::string::npos) return off();
    if (auto days = wholeNumber(value("Days", text).value_or(""))) return withMode(text, *days);
    if (auto years = wholeNumber(value("Years", text).value_or(""))) {
        std::int64_t days;
        if (__builtin_mul_overflow(*years, std::int64_t{365}, &days)) return enabledWithoutDefault();
        return withMode(text, days);
    }
    return enabledWithoutDefault();
}

std::optional<std::int64_t> ObjectLock::days() const {
    if (kind == Kind::compliance || kind == Kind::governance) return retentionDays;
    return std::nullopt;
}

std::optional<std::string> ObjectLock::sentence() const {
    switch (kind) {
    case Kind::compliance:
        return WM_L(
            "This bucket refuses to delete anything for %lld days, including for us and for anything running "
            "on this Mac.",
            retentionDays);
    case Kind::governance:
        return WM_L(
            "This bucket refuses to delete anything for %lld days, unless somebody holding the override "
            "permission asks it to.",
            retentionDays);
    case Kind::enabledWithoutDefault:
        return WM_L("This bucket can refuse deletions, and no retention period is set, so nothing is being held yet.");
    case Kind::off: break;
    }
    return std::nullopt;
}

}  // namespace wm
