#pragma once
// Whether restored files include app settings, with the advice shown after settings come
// back and the caveat about settings changed just before a copy.
#include <cstdint>
#include <string>
#include <string_view>

#include "policy/FileManager.h"

namespace wm::PreferencesAdvice {

// Where settings live, relative to the home folder.
inline constexpr std::string_view relativePath = "Library/Preferences";

// A folder named exactly "Preferences" at most `depth` levels below `folder` (1: directly
// inside). Only real folders are entered, never a symbolic link, so a link cycle ends the
// walk; a folder that cannot be listed or an entry that cannot be read counts as empty.
bool settingsLanded(const std::string& folder, std::int64_t depth,
                    const FileManager& fileManager = FileManager::defaultManager());

// Each made once, in the locale of its first use.
const std::string& afterRestore();
const std::string& whenCopied();

}  // namespace wm::PreferencesAdvice
