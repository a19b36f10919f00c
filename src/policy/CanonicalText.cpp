#include "policy/CanonicalText.h"

#include <unicode/normalizer2.h>
#include <unicode/stringpiece.h>

#include "core/Unicode.h"

namespace wm {

namespace {

// Most text is already composed; the quick check spares the copy.
bool isNFC(std::string_view text) {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(status);
    if (U_FAILURE(status)) return false;
    const bool normalized =
        nfc->isNormalizedUTF8(icu::StringPiece(text.data(), static_cast<std::int32_t>(text.size())), status);
    return U_SUCCESS(status) && normalized;
}

}  // namespace

CanonicalText::CanonicalText(std::string_view text) {
    if (isASCII(text) || isNFC(text)) {
        view_ = text;
    } else {
        owned_ = Unicode::nfc(text);
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
