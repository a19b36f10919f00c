#pragma once
// The folders shared by the backup application, its widget and its watch side: one
// folder per app group under the user's XDG data home (files such as the widget state)
// and one under the XDG configuration home (the shared settings).
#include <filesystem>
#include <string_view>

namespace wm::AppGroup {

// The identifier of the shared group.
inline constexpr std::string_view identifier = "org.wendlemarsh.shared";

// $XDG_DATA_HOME/<group>, or ~/.local/share/<group> when that is unset or relative.
std::filesystem::path dataFolder(std::string_view group = identifier);
// $XDG_CONFIG_HOME/<group>, or ~/.config/<group>.
std::filesystem::path configurationFolder(std::string_view group = identifier);

}  // namespace wm::AppGroup
