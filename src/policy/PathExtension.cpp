#include "policy/PathExtension.h"

#include <unicode/locid.h>
#include <unicode/unistr.h>

#include "policy/CanonicalText.h"

namespace wm {

std::string_view pathExtension(std::string_view path) {
    while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
    const auto slash = path.rfind('/');
    const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    const auto dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0) return {};
    if (name == "..") return {};
    return name.substr(dot + 1);
}

std::string lowercasePathExtension(std::string_view path) {
    std::string ext(pathExtension(path));
    if (CanonicalText::isASCII(ext)) {
        for (char& c : ext)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        return ext;
    }
    std::string lower;
    icu::UnicodeString::fromUTF8(ext).toLower(icu::Locale::getRoot()).toUTF8String(lower);
    return lower;
}

}  // namespace wm
