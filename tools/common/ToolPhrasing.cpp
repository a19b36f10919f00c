#include "ToolPhrasing.h"

#include "core/ByteCountFormatter.h"

namespace wm::tools {

std::string byteCount(std::uint64_t bytes) {
    const std::string exact = std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
    return bytes < 1000 ? exact : exact + " (" + ByteCountFormatter::string(bytes) + ")";
}

std::string inQuotes(std::string_view text) { return "\"" + std::string(text) + "\""; }

}  // namespace wm::tools
