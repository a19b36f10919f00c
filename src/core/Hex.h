#pragma once
#include <optional>
#include <string>
#include <string_view>

#include "core/Bytes.h"

namespace wm::Hex {

// Lower-case hex pairs, no separator.
std::string encode(ByteView bytes);
// Either letter case; nothing for an odd length or a pair that is not hex. "" gives {}.
std::optional<Bytes> decode(std::string_view text);

}  // namespace wm::Hex
