#include "policy/WholeMac.h"

#include "core/Localization.h"
#include "core/StandardPath.h"

namespace wm::WholeMac {

const std::set<std::string>& systemFolders() {
    static const std::set<std::string> folders = {
        "/System/Volumes/Data/private/var/vm",
        "/System/Volumes/Data/Library/Caches",
        "/System/Volumes/Data/System/Library/Caches",
    };
    return folders;
}

Exclusions exclusions(const Exclusions::Chosen& chosen, const std::optional<std::string>& backupPath) {
    std::set<std::string> folders = systemFolders();
    if (backupPath && !backupPath->empty()) folders.insert(StandardPath::standardizing(*backupPath));
    return Exclusions{Exclusions::defaultNames(), Exclusions::defaultAnchoredPaths(), chosen, std::move(folders)};
}

Access access(const std::function<bool(const std::string&)>& canList) {
    return canList(std::string(accessProbe)) ? Access::granted : Access::needsFullDiskAccess;
}

std::optional<std::string> sentence(Access access) {
    if (access == Access::granted) return std::nullopt;
    return WM_L(
        "macOS keeps mail, messages, Safari and other apps' data shut until Wendle Marsh has Full Disk Access. "
        "Without it those would be recorded as unreadable on every backup. Turn it on in System Settings, "
        "Privacy and Security, Full Disk Access.");
}

}  // namespace wm::WholeMac
