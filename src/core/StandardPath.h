#pragma once
// The standard form of a path the user typed or chose, worked out from its text alone:
// a leading "~" or "~user" becomes that home folder, empty and "." components go, ".."
// in an absolute path removes the component before it, and no "/" is left at the end
// (the root stays "/"). Links are not followed and the disk is not asked.
#include <string>
#include <string_view>

namespace wm::StandardPath {

std::string standardizing(std::string_view path);

// The user's home folder as the system gives it ($HOME, then the password database),
// unchanged; empty when neither knows one.
std::string homeFolder();

}  // namespace wm::StandardPath
