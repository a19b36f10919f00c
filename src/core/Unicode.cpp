#include "core/Unicode.h"

#include <algorithm>
#include <limits>
#include <memory>
#include <mutex>

#include <unicode/brkiter.h>
#include <unicode/coll.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utext.h>

#include "core/Localization.h"

namespace wm::Unicode {

namespace {

// Length of the well-formed sequence starting at bytes[i], or 0 when the bytes
// there are ill-formed. On 0, *subpart receives the length of the maximal
// subpart (at least 1), which becomes one U+FFFD.
std::size_t wellFormedLength(ByteView bytes, std::size_t i, std::size_t* subpart) {
    const std::size_t n = bytes.size();
    const std::uint8_t b0 = bytes[i];
    *subpart = 1;
    if (b0 < 0x80) return 1;
    std::size_t length;
    std::uint8_t lo = 0x80, hi = 0xBF;  // bounds of the second byte
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        length = 2;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        length = 3;
        if (b0 == 0xE0)
            lo = 0xA0;  // no overlong forms
        else if (b0 == 0xED)
            hi = 0x9F;  // no surrogates
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        length = 4;
        if (b0 == 0xF0)
            lo = 0x90;  // no overlong forms
        else if (b0 == 0xF4)
            hi = 0x8F;  // nothing above U+10FFFF
    } else {
        return 0;
    }
    for (std::size_t k = 1; k < length; ++k) {
        if (i + k >= n) {
            *subpart = k;
            return 0;
        }
        std::uint8_t b = bytes[i + k];
        std::uint8_t low = k == 1 ? lo : 0x80, high = k == 1 ? hi : 0xBF;
        if (b < low || b > high) {
            *subpart = k;
            return 0;
        }
    }
    return length;
}

icu::UnicodeString toUnicode(std::string_view text) {
    return icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
}

std::string toUTF8(const icu::UnicodeString& s) {
    std::string out;
    s.toUTF8String(out);
    return out;
}

const icu::Normalizer2& nfcNormalizer() {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* n = icu::Normalizer2::getNFCInstance(status);
    if (U_FAILURE(status) || n == nullptr) throw std::runtime_error("ICU normalisation data is unavailable");
    return *n;
}

const icu::Normalizer2& nfdNormalizer() {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* n = icu::Normalizer2::getNFDInstance(status);
    if (U_FAILURE(status) || n == nullptr) throw std::runtime_error("ICU normalisation data is unavailable");
    return *n;
}

// Decomposes, drops combining marks, folds case; applied twice so that
// a case fold that produces new decomposable letters is handled too.
icu::UnicodeString foldedForSearch(std::string_view text) {
    icu::UnicodeString s = toUnicode(decodeUTF8Repairing(text));
    for (int round = 0; round < 2; ++round) {
        UErrorCode status = U_ZERO_ERROR;
        icu::UnicodeString decomposed = nfdNormalizer().normalize(s, status);
        if (U_FAILURE(status)) decomposed = s;
        icu::UnicodeString stripped;
        for (int32_t i = 0; i < decomposed.length();) {
            UChar32 c = decomposed.char32At(i);
            if (u_charType(c) != U_NON_SPACING_MARK) stripped.append(c);
            i += U16_LENGTH(c);
        }
        s = stripped.foldCase(U_FOLD_CASE_DEFAULT);
    }
    return s;
}

}  // namespace

std::string decodeUTF8Repairing(ByteView bytes) {
    std::string out;
    out.reserve(bytes.size());
    appendDecodedUTF8Within(out, bytes, std::numeric_limits<std::size_t>::max());
    return out;
}

bool appendDecodedUTF8Within(std::string& text, ByteView bytes, std::size_t maxBytes) {
    std::size_t i = 0;
    while (i < bytes.size()) {
        std::size_t subpart;
        const std::size_t length = wellFormedLength(bytes, i, &subpart);
        const std::size_t shown = length > 0 ? length : 3;
        if (text.size() > maxBytes || shown > maxBytes - text.size()) {
            text += "\xE2\x80\xA6";  // …
            return false;
        }
        if (length > 0)
            text.append(reinterpret_cast<const char*>(bytes.data() + i), length);
        else
            text += "\xEF\xBF\xBD";
        i += length > 0 ? length : subpart;
    }
    return true;
}

std::string decodeUTF8RepairingWithin(ByteView bytes, std::size_t maxBytes) {
    std::string text;
    text.reserve(std::min(bytes.size(), maxBytes) + 3);
    appendDecodedUTF8Within(text, bytes, maxBytes);
    return text;
}

bool isValidUTF8(ByteView bytes) {
    std::size_t i = 0;
    while (i < bytes.size()) {
        std::size_t subpart;
        std::size_t length = wellFormedLength(bytes, i, &subpart);
        if (length == 0) return false;
        i += length;
    }
    return true;
}

std::string nfc(std::string_view text) {
    icu::UnicodeString s = toUnicode(decodeUTF8Repairing(text));
    UErrorCode status = U_ZERO_ERROR;
    icu::UnicodeString normal = nfcNormalizer().normalize(s, status);
    if (U_FAILURE(status)) return toUTF8(s);
    return toUTF8(normal);
}

namespace {

// Calls visit(stretch, wellFormed) for the maximal well-formed stretches of the text and the
// ill-formed sequences between them, in order.
template <class Visit>
void forEachStretch(std::string_view text, Visit visit) {
    const ByteView bytes = viewOf(text);
    std::size_t start = 0, i = 0;
    while (i < bytes.size()) {
        std::size_t subpart;
        if (const std::size_t length = wellFormedLength(bytes, i, &subpart); length > 0) {
            i += length;
            continue;
        }
        if (i > start) visit(text.substr(start, i - start), true);
        visit(text.substr(i, subpart), false);
        start = i += subpart;
    }
    if (i > start) visit(text.substr(start, i - start), true);
}

bool isComposed(std::string_view wellFormed) {
    UErrorCode status = U_ZERO_ERROR;
    const bool composed = nfcNormalizer().isNormalizedUTF8(
        icu::StringPiece(wellFormed.data(), static_cast<std::int32_t>(wellFormed.size())), status);
    return U_SUCCESS(status) && composed;
}

bool isASCII(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

}  // namespace

std::string canonicalName(std::string_view text) {
    if (isASCII(text)) return std::string(text);
    std::string out;
    out.reserve(text.size());
    forEachStretch(text, [&](std::string_view stretch, bool wellFormed) {
        out += wellFormed && !isComposed(stretch) ? nfc(stretch) : stretch;
    });
    return out;
}

bool isCanonicalName(std::string_view text) {
    if (isASCII(text)) return true;
    bool canonical = true;
    forEachStretch(text, [&](std::string_view stretch, bool wellFormed) {
        canonical = canonical && (!wellFormed || isComposed(stretch));
    });
    return canonical;
}

bool canonicallyEqual(std::string_view a, std::string_view b) {
    if (a == b) return true;
    if (isASCII(a) && isASCII(b)) return false;
    return canonicalName(a) == canonicalName(b);
}

bool containsInsensitive(std::string_view haystack, std::string_view needle) {
    // Like the platform's search, an empty needle is found nowhere.
    icu::UnicodeString n = foldedForSearch(needle);
    if (n.isEmpty()) return false;
    return foldedForSearch(haystack).indexOf(n) >= 0;
}

int localizedStandardCompare(std::string_view a, std::string_view b) {
    // A collator is built per thread and per locale: compare() on one instance
    // from several threads is not something ICU promises for every version.
    struct Cached {
        std::string locale;
        std::unique_ptr<icu::Collator> collator;
    };
    thread_local Cached cached;
    const std::string locale = Localization::localeIdentifier();
    if (!cached.collator || cached.locale != locale) {
        UErrorCode status = U_ZERO_ERROR;
        cached.collator.reset(icu::Collator::createInstance(icu::Locale(locale.c_str()), status));
        if (U_FAILURE(status) || !cached.collator) {
            cached.collator.reset();
        } else {
            cached.collator->setAttribute(UCOL_NUMERIC_COLLATION, UCOL_ON, status);
        }
        cached.locale = locale;
    }
    std::string ra = decodeUTF8Repairing(a), rb = decodeUTF8Repairing(b);
    if (cached.collator) {
        UErrorCode status = U_ZERO_ERROR;
        UCollationResult r =
            cached.collator->compareUTF8(icu::StringPiece(ra.data(), static_cast<int32_t>(ra.size())),
                                         icu::StringPiece(rb.data(), static_cast<int32_t>(rb.size())), status);
        if (U_SUCCESS(status) && r != UCOL_EQUAL) return r == UCOL_LESS ? -1 : 1;
    }
    // UTF-8 byte order is code-point order.
    int c = ra.compare(rb);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

void forEachCharacter(std::string_view text, const std::function<void(std::string_view)>& visit) {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> breaks(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    std::unique_ptr<UText, UText* (*)(UText*)> utext(
        utext_openUTF8(nullptr, text.data(), static_cast<std::int64_t>(text.size()), &status), utext_close);
    if (U_SUCCESS(status) && breaks) breaks->setText(utext.get(), status);
    if (U_FAILURE(status) || !breaks) {
        for (std::size_t i = 0; i < text.size(); ++i) visit(text.substr(i, 1));
        return;
    }
    // Over UTF-8 text the iterator's offsets are byte offsets.
    for (std::int32_t start = breaks->first(), end = breaks->next(); end != icu::BreakIterator::DONE;
         start = end, end = breaks->next())
        visit(text.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(end - start)));
}

std::size_t characterCount(std::string_view text) {
    bool ascii = true;
    for (unsigned char c : text) ascii = ascii && c < 0x80;
    if (ascii) return text.size();
    std::size_t count = 0;
    forEachCharacter(text, [&](std::string_view) { ++count; });
    return count;
}

std::vector<std::string> characters(std::string_view text) {
    const std::string valid = isValidUTF8(viewOf(text)) ? std::string(text) : decodeUTF8Repairing(text);
    std::vector<std::string> result;
    forEachCharacter(valid, [&](std::string_view character) { result.emplace_back(character); });
    return result;
}

}  // namespace wm::Unicode
