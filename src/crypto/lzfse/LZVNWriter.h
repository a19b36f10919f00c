#pragma once
// Turns an LZ parse into the payload of one LZVN block.
#include <cstddef>
#include <cstdint>

#include "core/Bytes.h"
#include "crypto/lzfse/Parser.h"

namespace wm::lzfse {

class LZVNWriter final : public SequenceSink {
public:
    // Appends instructions for input to `payload`, ending with the end-of-stream
    // instruction once finish() is called. Distances must be <= 65535.
    LZVNWriter(ByteView input, Bytes& payload) : input_(input), out_(payload) {}

    void sequence(std::size_t literalStart, std::size_t literalLength, std::size_t matchLength,
                  std::uint32_t distance) override;
    void finish(std::size_t literalStart, std::size_t literalLength) override;

private:
    void literalsOnly(std::size_t start, std::size_t length);
    void matchOnly(std::size_t length);

    ByteView input_;
    Bytes& out_;
    std::uint32_t previousDistance_ = 0;
};

}  // namespace wm::lzfse
