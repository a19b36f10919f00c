#include "status/AppGroup.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace wm::AppGroup {

namespace {

std::filesystem::path home() {
    if (const char* h = std::getenv("HOME"); h && *h) return h;
    if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir) return entry->pw_dir;
    return "/";
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
