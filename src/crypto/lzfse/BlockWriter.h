#pragma once
// Turns an LZ parse into LZFSE v2 blocks (literals and L, M, D triples coded with FSE),
// or uncompressed blocks where those come out smaller.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/Bytes.h"
#include "crypto/lzfse/Parser.h"

namespace wm::lzfse {

class BlockWriter final : public SequenceSink {
public:
    // Appends blocks for input to `out`. `input` is the whole stream's content: positions
    // given to the sink index it, and output before `start` is already written.
    BlockWriter(ByteView input, std::size_t start, Bytes& out);

    void sequence(std::size_t literalStart, std::size_t literalLength, std::size_t matchLength,
                  std::uint32_t distance) override;
    void finish(std::size_t literalStart, std::size_t literalLength) override;

private:
    struct Triple {
        std::uint16_t literals;
        std::uint16_t match;
        std::uint32_t distance;  // as coded: 0 repeats the previous triple's distance
    };

    void addTriple(std::size_t literalStart, std::uint32_t literals, std::uint32_t match, std::uint32_t distance);
    void flushBlock();
    void writeUncompressed(std::size_t from, std::size_t to);

    ByteView input_;
    Bytes& out_;
    std::size_t blockStart_;  // input position of the current block's first byte
    std::size_t position_;    // input position after the last triple
    std::uint32_t lastDistance_ = 0;
    std::vector<std::uint8_t> literals_;
    std::vector<Triple> triples_;
};

}  // namespace wm::lzfse
