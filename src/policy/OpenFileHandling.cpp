#include "policy/OpenFileHandling.h"

#include <algorithm>

#include "core/Localization.h"
#include "core/Phrasing.h"
#include "policy/PathExtension.h"

namespace wm::OpenFileHandling {

const std::map<std::string, std::string, std::less<>>& livelyKinds() {
    static const std::map<std::string, std::string, std::less<>> kinds = {
        {"photoslibrary", WM_L("a Photos library")},
        {"sqlite", WM_L("a database")},
        {"sqlite3", WM_L("a database")},
        {"db", WM_L("a database")},
        {"vmdk", WM_L("a virtual machine disk")},
        {"qcow2", WM_L("a virtual machine disk")},
        {"utm", WM_L("a virtual machine")},
        {"sparsebundle", WM_L("a disk image")},
        {"dmg", WM_L("a disk image")},
        {"pst", WM_L("a mail archive")},
        {"olm", WM_L("a mail archive")},
    };
    return kinds;
}

std::optional<std::string> describe(std::string_view path) {
    const auto& kinds = livelyKinds();
    const auto it = kinds.find(lowercasePathExtension(path));
    if (it == kinds.end()) return std::nullopt;
    return it->second;
}

std::optional<std::string> sentence(const std::vector<std::string>& unstablePaths) {
    if (unstablePaths.empty()) return std::nullopt;
    std::vector<std::string> kinds;
    for (const std::string& path : unstablePaths)
        if (auto kind = describe(path)) kinds.push_back(std::move(*kind));
    std::sort(kinds.begin(), kinds.end());
    kinds.erase(std::unique(kinds.begin(), kinds.end()), kinds.end());
    const std::string count = Phrasing::count(unstablePaths.size(), "file");
    if (kinds.empty())
        return WM_L(
            "%@ kept changing while being read, so what was stored is a moment part way through. Closing "
            "whatever is using them and backing up again captures them cleanly. Everything else in this "
            "backup is unaffected.",
            count);
    return WM_L(
        "%@ kept changing while being read, so what was stored is a moment part way through. Among them %@. "
        "Closing whatever is using them and backing up again captures them cleanly. Everything else in this "
        "backup is unaffected.",
        count, Phrasing::list(kinds));
}

}  // namespace wm::OpenFileHandling
