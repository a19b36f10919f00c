#pragma once
// Forward bit writer for the LZFSE payloads: values are appended from the least
// significant bit of each byte upward; the decoder reads them back from the end.
#include <cstddef>
#include <cstdint>

#include "crypto/lzfse/Format.h"

namespace wm::lzfse {

class BitWriter {
public:
    // The caller guarantees room for every byte written plus 8 bytes of slack.
    explicit BitWriter(std::uint8_t* out) : start_(out), out_(out) {}

    // n <= 32; at most 56 bits may be put between two flush() calls.
    void put(std::uint32_t value, unsigned n) {
        acc_ |= static_cast<std::uint64_t>(value) << count_;
        count_ += n;
    }

    void flush() {
        store64(out_, acc_);
        const unsigned bytes = count_ >> 3;
        out_ += bytes;
        acc_ = bytes == 0 ? acc_ : (acc_ >> (bytes * 8));
        count_ &= 7;
    }

    // Writes the last partial byte (zero padded). Returns the payload size in bytes and
    // sets `bitAdjust` to (bits written - 8 * bytes), in -7..0.
    std::size_t finish(int& bitAdjust) {
        flush();
        std::size_t size = static_cast<std::size_t>(out_ - start_);
        bitAdjust = 0;
        if (count_ != 0) {
            store64(out_, acc_);
            ++size;
            bitAdjust = static_cast<int>(count_) - 8;
        }
        return size;
    }

private:
    std::uint8_t* start_;
    std::uint8_t* out_;
    std::uint64_t acc_ = 0;
    unsigned count_ = 0;
};

}  // namespace wm::lzfse
