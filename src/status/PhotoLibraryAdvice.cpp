#include "status/PhotoLibraryAdvice.h"

#include <algorithm>

#include "core/Localization.h"
#include "policy/PathExtension.h"

namespace wm::PhotoLibraryAdvice {

bool isPhotoLibrary(std::string_view path) { return lowercasePathExtension(path) == packageExtension; }

bool containsPhotoLibrary(std::string_view, const std::vector<std::string>& entries) {
    return std::ranges::any_of(entries, [](const std::string& entry) { return isPhotoLibrary(entry); });
}

const std::string& whileOpen() {
    static const std::string sentence = WM_L(
        "Your Photos library is included. It is a database as well as a pile of pictures, so a backup taken while "
        "Photos is open may catch it mid change. The photos themselves are always readable, and closing Photos before "
        "a backup is what makes the library itself certain.");
    return sentence;
}

const std::string& alternative() {
    static const std::string sentence = WM_L(
        "If you would rather not think about it, Photos can be set to keep originals in iCloud and download them, and "
        "those downloaded originals are ordinary files that back up cleanly whatever Photos is doing.");
    return sentence;
}

}  // namespace wm::PhotoLibraryAdvice
