#pragma once
// Byte buffers shared by every module.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace wm {

using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

inline Bytes bytesOf(std::string_view text) { return Bytes(text.begin(), text.end()); }
inline std::string stringOf(ByteView bytes) { return std::string(bytes.begin(), bytes.end()); }
inline ByteView viewOf(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

}  // namespace wm
