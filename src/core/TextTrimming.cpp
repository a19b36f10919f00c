#include "core/TextTrimming.h"

#include <cstdint>

namespace wm::TextTrimming {

namespace {

// The Unicode space separators (general category Zs).
bool isSpaceSeparator(char32_t c) {
    return c == 0x20 || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x202F || c == 0x205F ||
           c == 0x3000;
}

bool isHorizontal(char32_t c) { return c == '\t' || isSpaceSeparator(c); }

bool isWhitespaceOrNewline(char32_t c) {
    return isSpaceSeparator(c) || (c >= 0x09 && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029;
}

// Decodes the well-formed UTF-8 sequence at text[i]; returns its length, or 0 when the
// bytes there are not one (such bytes are never trimmed).
std::size_t decodeAt(std::string_view text, std::size_t i, char32_t& out) {
    const auto b0 = static_cast<std::uint8_t>(text[i]);
    std::size_t length;
    char32_t c;
    if (b0 < 0x80) {
        out = b0;
        return 1;
    } else if ((b0 & 0xE0) == 0xC0) {
        length = 2;
        c = b0 & 0x1F;
    } else if ((b0 & 0xF0) == 0xE0) {
        length = 3;
        c = b0 & 0x0F;
    } else if ((b0 & 0xF8) == 0xF0) {
        length = 4;
        c = b0 & 0x07;
    } else {
        return 0;
    }
    if (i + length > text.size()) return 0;
    for (std::size_t k = 1; k < length; ++k) {
        const auto b = static_cast<std::uint8_t>(text[i + k]);
        if ((b & 0xC0) != 0x80) return 0;
        c = (c << 6) | (b & 0x3F);
    }
    out = c;
    return length;
}

template <class Predicate>
std::string trim(std::string_view text, Predicate trimmed) {
    std::size_t begin = 0;
    while (begin < text.size()) {
        char32_t c;
        const std::size_t n = decodeAt(text, begin, c);
        if (n == 0 || !trimmed(c)) break;
        begin += n;
    }
    std::size_t end = text.size();
    while (end > begin) {
        // Step back to the first byte of the last sequence.
        std::size_t start = end - 1;
        while (start > begin && end - start < 4 && (static_cast<std::uint8_t>(text[start]) & 0xC0) == 0x80) --start;
        char32_t c;
        const std::size_t n = decodeAt(text, start, c);
        if (n != end - start || !trimmed(c)) break;
        end = start;
    }
    return std::string(text.substr(begin, end - begin));
}

}  // namespace

std::string horizontal(std::string_view text) { return trim(text, isHorizontal); }

std::string whitespaceAndNewlines(std::string_view text) { return trim(text, isWhitespaceOrNewline); }

}  // namespace wm::TextTrimming
