#include "policy/CanonicalText.h"

#include "core/Unicode.h"

namespace wm {

CanonicalText::CanonicalText(std::string_view text) {
    // Most text is already in that form; the check spares the copy.
    if (isASCII(text) || Unicode::isCanonicalName(text)) {
        view_ = text;
    } else {
        owned_ = Unicode::canonicalName(text);
        view_ = owned_;
    }
}

bool CanonicalText::equal(std::string_view a, std::string_view b) {
    if (a == b) return true;
    if (isASCII(a) && isASCII(b)) return false;
    return CanonicalText(a).view() == CanonicalText(b).view();
}

bool CanonicalText::isInsideOrIs(std::string_view path, std::string_view folder) {
    return isInsideOrIsExactly(CanonicalText(path).view(), CanonicalText(folder).view());
}

}  // namespace wm
