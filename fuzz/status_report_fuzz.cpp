// The failure text of a diagnostic report under libFuzzer: any bytes are scrubbed without
// failing, a text without "/" comes back byte for byte, and in plain ASCII without carriage
// returns no two "/" are left without a space or line feed between them.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "status/DiagnosticReport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::string scrubbed = wm::DiagnosticReport::withoutPaths(text);
    if (text.find('/') == std::string_view::npos && scrubbed != text) std::abort();
    for (const unsigned char c : text)
        if (c >= 0x80 || c == '\r') return 0;
    bool slashSeen = false;
    for (const char c : scrubbed) {
        if (c == ' ' || c == '\n') slashSeen = false;
        if (c != '/') continue;
        if (slashSeen) std::abort();
        slashSeen = true;
    }
    return 0;
}
