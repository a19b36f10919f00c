#pragma once
// Files that kept changing while a backup read them, told in one sentence that names
// the kinds of busy file it recognises by their extension (databases, disk images, ...).
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace wm::OpenFileHandling {

// Lower-case extension to the kind of file it names ("a database"), built on first use.
const std::map<std::string, std::string, std::less<>>& livelyKinds();

std::optional<std::string> describe(std::string_view path);
// Absent when no file changed.
std::optional<std::string> sentence(const std::vector<std::string>& unstablePaths);

}  // namespace wm::OpenFileHandling
