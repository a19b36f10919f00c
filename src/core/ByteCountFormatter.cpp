#include "core/ByteCountFormatter.h"

#include <array>
#include <limits>

#include <unicode/numberformatter.h>

#include "core/Localization.h"

namespace wm::ByteCountFormatter {

namespace {

constexpr std::array<int, 7> kFractionDigits = {0, 0, 1, 2, 2, 2, 2};

std::uint64_t power1000(int unit) {
    std::uint64_t d = 1;
    for (int i = 0; i < unit; ++i) d *= 1000;
    return d;
}

std::uint64_t power10(int digits) {
    std::uint64_t p = 1;
    for (int i = 0; i < digits; ++i) p *= 10;
    return p;
}

// bytes / 1000^unit with `digits` fraction digits, rounded half up, as an
// integer count of 10^-digits. Long division keeps every step inside 64 bits.
std::uint64_t scaled(std::uint64_t bytes, int unit, int digits) {
    const std::uint64_t d = power1000(unit);
    std::uint64_t whole = bytes / d;
    std::uint64_t rest = bytes % d;
    std::uint64_t value = whole;
    for (int i = 0; i < digits; ++i) {
        rest *= 10;  // rest < d <= 10^18, so this stays below 10^19
        value = value * 10 + rest / d;
        rest %= d;
    }
    if (rest >= d - rest) ++value;  // rest / d >= 1/2
    return value;
}

std::string decimal(std::uint64_t value, int digits, const std::string& locale) {
    using namespace icu::number;
    UErrorCode status = U_ZERO_ERROR;
    const double number = static_cast<double>(value) / static_cast<double>(power10(digits));
    icu::UnicodeString text = NumberFormatter::withLocale(icu::Locale(locale.c_str()))
                                  .precision(Precision::minMaxFraction(0, digits))
                                  .formatDouble(number, status)
                                  .toString(status);
    if (U_FAILURE(status)) {
        std::string plain = std::to_string(value / power10(digits));
        if (digits > 0 && value % power10(digits) != 0) {
            std::string fraction = std::to_string(value % power10(digits));
            fraction.insert(0, static_cast<std::size_t>(digits) - fraction.size(), '0');
            while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();
            plain += "." + fraction;
        }
        return plain;
    }
    std::string out;
    text.toUTF8String(out);
    return out;
}

}  // namespace

std::string string(std::uint64_t byteCount, const std::string& locale) {
    const std::uint64_t bytes = std::min<std::uint64_t>(byteCount, std::numeric_limits<std::int64_t>::max());
    if (bytes < 1000) {
        if (bytes == 1) return WM_L("%@ byte", decimal(1, 0, locale));
        return WM_L("%@ bytes", decimal(bytes, 0, locale));
    }
    int unit = 1;
    while (unit < 6 && bytes / power1000(unit + 1) > 0) ++unit;
    std::uint64_t value = scaled(bytes, unit, kFractionDigits[static_cast<std::size_t>(unit)]);
    // Rounding may reach 1,000 of this unit: write it in the next one instead.
    if (unit < 6 && value >= 1000 * power10(kFractionDigits[static_cast<std::size_t>(unit)])) {
        ++unit;
        value = scaled(bytes, unit, kFractionDigits[static_cast<std::size_t>(unit)]);
    }
    const std::string number = decimal(value, kFractionDigits[static_cast<std::size_t>(unit)], locale);
    switch (unit) {
    case 1: return WM_L("%@ KB", number);
    case 2: return WM_L("%@ MB", number);
    case 3: return WM_L("%@ GB", number);
    case 4: return WM_L("%@ TB", number);
    case 5: return WM_L("%@ PB", number);
    default: return WM_L("%@ EB", number);
    }
}

std::string string(std::uint64_t byteCount) { return string(byteCount, Localization::localeIdentifier()); }

}  // namespace wm::ByteCountFormatter
