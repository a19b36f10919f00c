#pragma once
// Localised sentences over GNU gettext, one text domain per module.
// The English text is both the key and the fallback. Placeholders: "%@" for a text
// value, "%lld" for an integer, positional "%1$@" / "%2$lld", and "%%". Values are
// put in after the lookup, in a single pass: a value is never scanned again.
//
// Every module compiles with WM_TEXT_DOMAIN set to its own domain ("wm-core",
// "wm-format", ...), so WM_L("English %@", value) looks up in the caller's domain.
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

namespace wm::Localization {

struct Value {
    bool isText = true;
    std::string text;
    long long integer = 0;

    Value(std::string s) : text(std::move(s)) {}
    Value(std::string_view s) : text(s) {}
    Value(const char* s) : text(s) {}
    template <class I, std::enable_if_t<std::is_integral_v<I> && !std::is_same_v<I, bool>, int> = 0>
    Value(I v) : isText(false) {
        if constexpr (std::is_unsigned_v<I>) {
            integer = v > static_cast<unsigned long long>(INT64_MAX) ? INT64_MAX : static_cast<long long>(v);
        } else {
            integer = static_cast<long long>(v);
        }
    }
};

// The translation of english in domain, or english itself.
std::string lookup(const char* domain, std::string_view english);
// Fills the placeholders of pattern with values. Missing values become "";
// an unknown directive is copied as it stands.
std::string format(std::string_view pattern, std::span<const Value> values);
// lookup then format.
std::string sentence(const char* domain, std::string_view english, std::initializer_list<Value> values = {});

// The process locale as an ICU identifier ("en_US", "fr_FR"). It comes from the
// environment (LC_ALL, then LC_MESSAGES, then LANG); a C or POSIX environment
// formats as "en_US". Every formatter of the project uses it explicitly.
std::string localeIdentifier();

// The folder the catalogues are read from (<folder>/<language>/LC_MESSAGES/<domain>.mo),
// found once: <executable folder>/../share/locale, then <executable folder>/locale,
// then the folder fixed at build time.
std::string catalogueDirectory();

// Test seams. setLocaleForTesting switches both formatting and the message language
// ("en_US" pins the English texts and formats); setCatalogueDirectoryForTesting
// points every domain at another folder of catalogues.
void setLocaleForTesting(const std::string& identifier);
void setCatalogueDirectoryForTesting(const std::string& directory);

}  // namespace wm::Localization

#define WM_L(english, ...) ::wm::Localization::sentence(WM_TEXT_DOMAIN, english, {__VA_ARGS__})
// Marks the English text of a sentence that is written once and shown by more than one module,
// each looking it up in its own domain with WM_L; tools/extract-pot.sh gives it to the
// catalogue of every module that includes the header defining it.
#define WM_N(english) english
