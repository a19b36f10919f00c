#include "status/AppGroup.h"

#include <cstdlib>

#include "core/StandardPath.h"

namespace wm::AppGroup {

namespace {

std::filesystem::path home() {
    const std::string folder = StandardPath::homeFolder();
    return folder.empty() ? std::filesystem::path("/") : std::filesystem::path(folder);
}

// The XDG base directory rule: a set, absolute variable wins over the default.
std::filesystem::path base(const char* variable, const char* fallbackUnderHome) {
    if (const char* value = std::getenv(variable); value && *value == '/') return value;
    return home() / fallbackUnderHome;
}

}  // namespace

std::filesystem::path dataFolder(std::string_view group) { return base("XDG_DATA_HOME", ".local/share") / group; }

std::filesystem::path configurationFolder(std::string_view group) { return base("XDG_CONFIG_HOME", ".config") / group; }

}  // namespace wm::AppGroup
