#pragma once
// Recognises a Photos library among the things being backed up, with the advice about
// backing it up while Photos is open.
#include <string>
#include <string_view>
#include <vector>

namespace wm::PhotoLibraryAdvice {

inline constexpr std::string_view packageExtension = "photoslibrary";

// The last component's extension is "photoslibrary" in any case.
bool isPhotoLibrary(std::string_view path);
// Some entry, name or path, is a Photos library; the folder itself does not enter into it.
bool containsPhotoLibrary(std::string_view folder, const std::vector<std::string>& entries);

// Each made once, in the locale of its first use.
const std::string& whileOpen();
const std::string& alternative();

}  // namespace wm::PhotoLibraryAdvice
