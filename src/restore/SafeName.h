#pragma once
// One validated path component taken from a backup. Holding a SafeName means the
// bytes are not empty, hold no "/" and no NUL, and are neither "." nor "..", so
// they can only ever name an entry directly inside one folder.
#include <cstddef>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "core/Bytes.h"

namespace wm {

class SafeName {
public:
    // Throws PathSafetyViolation: emptyName, absolutePath, nulByteInName,
    // pathSeparatorInName or reservedName, the first that applies in that order.
    explicit SafeName(ByteView bytes);
    explicit SafeName(std::string_view text);

    ByteView bytes() const { return viewOf(raw_); }
    // The same bytes as a NUL-terminated string, for the system calls.
    const char* c_str() const { return raw_.c_str(); }
    const std::string& raw() const { return raw_; }
    std::size_t size() const { return raw_.size(); }
    // The bytes decoded as UTF-8, each invalid sequence replaced with U+FFFD, cut past
    // Unicode::shownTextBytes.
    std::string description() const;

    friend bool operator==(const SafeName& a, const SafeName& b) { return a.raw_ == b.raw_; }

private:
    std::string raw_;  // the bytes unchanged; std::string only for its small-buffer storage
};

// A path below a restore target, from the target folder downward. Empty names the target itself.
using SafePath = std::span<const SafeName>;

}  // namespace wm

template <>
struct std::hash<wm::SafeName> {
    std::size_t operator()(const wm::SafeName& name) const noexcept { return std::hash<std::string>{}(name.raw()); }
};
