#pragma once
// Path forms the application shows and works with.
#include <string>
#include <string_view>

namespace wm::AppPaths {

// The path made absolute against the working folder, with "." and ".." resolved by
// their text alone and no trailing "/" (the root stays "/"). Links are not followed.
std::string standardised(std::string_view path);

// The last component of a file path: "Documents" for "/Users/you/Documents" and for
// "/Users/you/Documents/"; "/" for the root; "" for "".
std::string lastComponent(std::string_view path);

// The path with every symbolic link resolved, as far as the path exists; the part that
// does not exist yet is appended to the resolved existing part as it stands.
std::string resolvedAsFarAsItExists(std::string_view standardisedPath);

}  // namespace wm::AppPaths
