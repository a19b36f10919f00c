#include "crypto/TextClusters.h"

#include <memory>

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/unistr.h>

#include "core/Unicode.h"
#include "crypto/CryptoFailure.h"

namespace wm::TextClusters {

std::vector<std::string> split(std::string_view text) {
    std::string valid = Unicode::isValidUTF8(viewOf(text)) ? std::string(text) : Unicode::decodeUTF8Repairing(text);
    icu::UnicodeString unicode =
        icu::UnicodeString::fromUTF8(icu::StringPiece(valid.data(), static_cast<int32_t>(valid.size())));
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> breaks(icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    if (U_FAILURE(status) || !breaks) throw CryptoFailure("icu::BreakIterator::createCharacterInstance");
    breaks->setText(unicode);
    std::vector<std::string> clusters;
    int32_t start = breaks->first();
    for (int32_t end = breaks->next(); end != icu::BreakIterator::DONE; start = end, end = breaks->next()) {
        std::string piece;
        unicode.tempSubStringBetween(start, end).toUTF8String(piece);
        clusters.push_back(std::move(piece));
    }
    return clusters;
}

}  // namespace wm::TextClusters
