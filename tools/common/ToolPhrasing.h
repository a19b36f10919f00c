#pragma once
// How the tools' summary lines write sizes, and how their messages quote a path.
#include <cstdint>
#include <string>
#include <string_view>

namespace wm::tools {

// The exact count in plain digits, which a script can read, then from 1,000 bytes on the
// project's byte phrasing beside it: "1 byte", "325 bytes", "3000000 bytes (3 MB)".
std::string byteCount(std::uint64_t bytes);

// A path or a value as the tools' messages show it: between straight double quotes.
std::string inQuotes(std::string_view text);

}  // namespace wm::tools
