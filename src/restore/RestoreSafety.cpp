#include "restore/RestoreSafety.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

#include "core/Localization.h"
#include "core/StandardPath.h"

namespace wm {

// The places a Linux system keeps for itself: programs, configuration, the boot files and
// the kernel's own views of processes, devices and the system.
const std::vector<std::string> RestoreSafety::systemPrefixes = {
    "/usr", "/bin", "/sbin", "/etc", "/boot", "/proc", "/sys", "/dev",
};

std::string RestoreSafety::Refusal::sentence() const {
    switch (kind) {
    case Kind::insideASourceFolder:
        return WM_L(
            "That folder is inside %@, which is being backed up. Your restored files would be picked up by "
            "the next backup as though they were new. Choose somewhere outside it.",
            name);
    case Kind::systemLocation:
        return WM_L(
            "%@ belongs to the system and is not somewhere anything can write. Your home folder or an external "
            "drive will work.",
            path);
    case Kind::insideTheBackup:
        return WM_L(
            "That folder is inside the backup itself. Restoring there would write your files into the thing "
            "holding them. Choose somewhere else.");
    case Kind::notWritable:
        return WM_L("Wendle Marsh cannot write there. Choose a folder you own, such as one inside your home folder.");
    }
    return {};
}

namespace {

bool beginsWithFolder(const std::string& path, const std::string& folder) {
    return path == folder ||
           (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 && path[folder.size()] == '/');
}

}  // namespace

std::string RestoreSafety::standardizingPath(std::string_view input) { return StandardPath::standardizing(input); }

bool RestoreSafety::isInside(std::string_view path, std::string_view folder) {
    if (folder.empty()) return false;
    if (path == folder) return true;
    if (folder.back() == '/') return path.starts_with(folder);
    return path.size() > folder.size() && path.starts_with(folder) && path[folder.size()] == '/';
}

std::optional<RestoreSafety::Refusal> RestoreSafety::check(const std::string& destination,
                                                           const std::string& repositoryPath,
                                                           const std::vector<Source>& sourcePaths, bool isWritable) {
    const std::string target = standardizingPath(destination);
    const std::string repository = standardizingPath(repositoryPath);
    if (isInside(target, repository)) return Refusal::insideTheBackup();
    for (const Source& source : sourcePaths) {
        const std::string folder = standardizingPath(source.path);
        if (folder.empty()) continue;
        if (beginsWithFolder(target, folder)) return Refusal::insideASourceFolder(source.name);
    }
    for (const std::string& prefix : systemPrefixes) {
        if (beginsWithFolder(target, prefix)) return Refusal::systemLocation(prefix);
    }
    if (!isWritable) return Refusal::notWritable();
    return std::nullopt;
}

}  // namespace wm
