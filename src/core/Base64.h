#pragma once
#include <optional>
#include <string>
#include <string_view>

#include "core/Bytes.h"

namespace wm::Base64 {

// Standard alphabet with padding, no line breaks.
std::string encode(ByteView bytes);
// Standard alphabet; padding required to a multiple of four; no white space.
std::optional<Bytes> decode(std::string_view text);

}  // namespace wm::Base64
