#pragma once
// Appends little-endian fixed-width integers and raw bytes to a growing buffer:
// the writing counterpart of ByteCursor for the formats of this module.
#include <cstdint>
#include <cstring>

#include "core/Bytes.h"

namespace wm {

class ByteWriter {
public:
    explicit ByteWriter(Bytes& out) : out_(out) {}

    void uint8(std::uint8_t v) { out_.push_back(v); }
    void uint16(std::uint16_t v) { little(v, 2); }
    void uint32(std::uint32_t v) { little(v, 4); }
    void uint64(std::uint64_t v) { little(v, 8); }
    void int64(std::int64_t v) { little(static_cast<std::uint64_t>(v), 8); }
    void bytes(ByteView b) { out_.insert(out_.end(), b.begin(), b.end()); }

private:
    void little(std::uint64_t v, int width) {
        for (int i = 0; i < width; ++i) out_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }
    Bytes& out_;
};

}  // namespace wm
