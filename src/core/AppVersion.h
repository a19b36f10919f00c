#pragma once
// The version of the application, written into new records and the drive read-me.
#include <string_view>

namespace wm {

inline constexpr std::string_view appVersion = "0.1.3";

}  // namespace wm
