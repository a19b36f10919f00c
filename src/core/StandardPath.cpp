#include "core/StandardPath.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <vector>

namespace wm::StandardPath {

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

}  // namespace

std::string homeFolder() { return homeOf("").value_or(""); }

std::string standardizing(std::string_view input) {
    std::string path(input);
    if (!path.empty() && path[0] == '~') {
        std::size_t slash = path.find('/');
        std::string_view user =
            std::string_view(path).substr(1, slash == std::string::npos ? std::string::npos : slash - 1);
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

}  // namespace wm::StandardPath
