#include "status/PreferencesAdvice.h"

#include "core/Localization.h"

namespace wm::PreferencesAdvice {

bool settingsLanded(const std::string& folder, std::int64_t depth, const FileManager& fileManager) {
    if (depth <= 0) return false;
    const auto names = fileManager.contents(folder);
    if (!names) return false;
    const std::string prefix = folder.ends_with('/') ? folder : folder + "/";
    for (const auto& name : *names) {
        const std::string entry = prefix + name;
        if (fileManager.isFolderItself(entry) != true) continue;
        if (name == "Preferences" || settingsLanded(entry, depth - 1, fileManager)) return true;
    }
    return false;
}

const std::string& afterRestore() {
    static const std::string sentence = WM_L(
        "Your settings are back as files. macOS keeps its own copy of them in memory while you are logged in, so log "
        "out and back in before you expect any app to use them.");
    return sentence;
}

const std::string& whenCopied() {
    static const std::string sentence = WM_L(
        "A setting changed in the last few minutes may not be in the copy yet. macOS saves those files on its own "
        "schedule, a little after you change something.");
    return sentence;
}

}  // namespace wm::PreferencesAdvice
