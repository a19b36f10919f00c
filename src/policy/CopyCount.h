#pragma once
// The number of confirmed copies of a backup, as one sentence.
#include <cstdint>
#include <string>

namespace wm::CopyCount {

std::string sentence(std::int64_t confirmed);

}  // namespace wm::CopyCount
