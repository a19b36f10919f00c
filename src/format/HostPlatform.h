#pragma once
// The running operating system's version as three decimal numbers joined by "."
// ("6.1.0"), written into new configs and snapshot records.
#include <string>
#include <string_view>

namespace wm {

// From uname(2)'s release, e.g. "6.1.0-18-amd64" gives "6.1.0".
std::string hostPlatform();
// The leading major.minor.patch of a release text; missing parts count as 0.
std::string platformVersionText(std::string_view release);

}  // namespace wm
