#pragma once
// A backup of the whole computer's data volume: the folders it never copies, its
// exclusion rules, and whether the app has the full disk access such a backup needs.
#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "policy/Exclusions.h"

namespace wm::WholeMac {

inline constexpr std::string_view dataVolume = "/System/Volumes/Data";
// A folder the platform lets an app list only with Full Disk Access.
inline constexpr std::string_view accessProbe = "/Library/Application Support/com.apple.TCC";
inline constexpr std::string_view fullDiskAccessSettings =
    "x-apple.systempreferences:com.apple.preference.security?Privacy_AllFiles";

const std::set<std::string>& systemFolders();

enum class Access : std::uint8_t { granted, needsFullDiskAccess };

// The rules of a whole-computer backup; a backup kept on this computer never copies itself.
Exclusions exclusions(const Exclusions::Chosen& chosen, const std::optional<std::string>& backupPath);
// Asks canList about the probe folder, once.
Access access(const std::function<bool(const std::string&)>& canList);
// Asks for Full Disk Access; absent when it is granted.
std::optional<std::string> sentence(Access access);

}  // namespace wm::WholeMac
