#include "restore/RestoreSafety.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

#include "core/Localization.h"

namespace wm {

const std::vector<std::string> RestoreSafety::systemPrefixes = {
    "/System", "/usr", "/bin", "/sbin", "/private/var/db", "/Library/Apple", "/Volumes/Recovery",
};

std::string RestoreSafety::Refusal::sentence() const {
    switch (kind) {
    case Kind::insideASourceFolder:
        return WM_L("That folder is inside %@, which is being backed up. Your restored files would be picked up by "
                    "the next backup as though they were new. Choose somewhere outside it.",
                    name);
    case Kind::systemLocation:
        return WM_L("%@ belongs to macOS and is not somewhere anything can write. Your home folder or an external "
                    "drive will work.",
                    path);
    case Kind::insideTheBackup:
        return WM_L("That folder is inside the backup itself. Restoring there would write your files into the thing "
                    "holding them. Choose somewhere else.");
    case Kind::notWritable:
        return WM_L("Wendle Marsh cannot write there. Choose a folder you own, such as one inside your home folder.");
    }
    return {};
}

namespace {

std::optional<std::string> homeOf(std::string_view user) {
    if (user.empty()) {
        if (const char* home = std::getenv("HOME"); home && *home) return std::string(home);
    }
    std::vector<char> buffer(16384);
    struct passwd entry;
    struct passwd* found = nullptr;
    int r = user.empty() ? getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found)
                         : getpwnam_r(std::string(user).c_str(), &entry, buffer.data(), buffer.size(), &found);
    if (r != 0 || !found || !found->pw_dir) return std::nullopt;
    return std::string(found->pw_dir);
}

bool beginsWithFolder(const std::string& path, const std::string& folder) {
    return path == folder || (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
                              path[folder.size()] == '/');
}

}  // namespace

std::string RestoreSafety::standardizingPath(std::string_view input) {
    std::string path(input);
    if (!path.empty() && path[0] == '~') {
        std::size_t slash = path.find('/');
        std::string_view user = std::string_view(path).substr(1, slash == std::string::npos ? std::string::npos : slash - 1);
        if (auto home = homeOf(user)) path = *home + (slash == std::string::npos ? "" : path.substr(slash));
    }
    if (path.empty()) return path;
    const bool absolute = path[0] == '/';
    std::vector<std::string> kept;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        std::string component = path.substr(start, end - start);
        start = end + 1;
        if (component.empty() || component == ".") continue;
        if (component == ".." && absolute) {
            // Resolved by text: a target written as /home/me/../../usr is /usr.
            if (!kept.empty()) kept.pop_back();
            continue;
        }
        kept.push_back(std::move(component));
    }
    std::string result = absolute ? "/" : "";
    for (std::size_t i = 0; i < kept.size(); ++i) {
        if (i > 0) result += '/';
        result += kept[i];
    }
    if (result.empty()) result = ".";  // a relative path made only of "." components
    return result;
}

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
