#include "format/HostPlatform.h"

#include <sys/utsname.h>

#include <cctype>
#include <cstdint>

namespace wm {

std::string platformVersionText(std::string_view release) {
    std::uint64_t parts[3] = {0, 0, 0};
    std::size_t i = 0;
    for (int part = 0; part < 3; ++part) {
        if (i >= release.size() || !std::isdigit(static_cast<unsigned char>(release[i]))) break;
        std::uint64_t value = 0;
        while (i < release.size() && std::isdigit(static_cast<unsigned char>(release[i]))) {
            if (value < 1000000000) value = value * 10 + static_cast<std::uint64_t>(release[i] - '0');
            ++i;
        }
        parts[part] = value;
        if (i < release.size() && release[i] == '.') {
            ++i;
        } else {
            break;
        }
    }
    return std::to_string(parts[0]) + "." + std::to_string(parts[1]) + "." + std::to_string(parts[2]);
}

std::string hostPlatform() {
    static const std::string text = [] {
        struct utsname name {};
        if (uname(&name) != 0) return platformVersionText("");
        return platformVersionText(name.release);
    }();
    return text;
}

}  // namespace wm
