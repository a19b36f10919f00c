#pragma once
// Splits input into literal runs and back-references (the LZ parse) with a hash-chain
// match finder of bounded effort and lazy evaluation of the next positions.
#include <cstddef>
#include <cstdint>

#include "core/Bytes.h"

namespace wm::lzfse {

// Receives the parse in order. Distances are >= 1; match lengths >= 3.
class SequenceSink {
public:
    virtual ~SequenceSink() = default;
    // input[literalStart, literalStart + literalLength) are literals, then a match of
    // matchLength bytes copied from `distance` bytes back.
    virtual void sequence(std::size_t literalStart, std::size_t literalLength, std::size_t matchLength,
                          std::uint32_t distance) = 0;
    // Trailing literals; called once, last (literalLength may be 0).
    virtual void finish(std::size_t literalStart, std::size_t literalLength) = 0;
};

struct ParserSettings {
    std::uint32_t maxDistance;
    int maxChain;            // candidates examined per position
    std::size_t niceLength;  // a match this long ends the search at once
    bool entropyCoded;       // cost model: LZFSE (bit costs) rather than LZVN (byte costs)
    // Candidates examined per position in stretches that look like binary data (machine
    // code, tables, packed numbers). Most matches there are a few bytes long, so a deep
    // search costs much time for little gain; text keeps maxChain.
    int binaryChain = maxChain;
    // Candidates examined at the next position when a short match was found there (the
    // lazy look); binary stretches look at half their binaryChain.
    int lazyChain = maxChain / 2;
};

// The input is judged in stretches of this many bytes, each on its own, from every
// binarySampleStep-th byte of the stretch (a full count would cost a few per cent of
// the time of compressing text).
inline constexpr std::size_t binaryStretch = std::size_t{1} << 16;
inline constexpr std::size_t binarySampleStep = 8;
// Whether bytes look like binary data rather than text: more than 1 in 32 of the sampled
// bytes (bytes[0], bytes[8], ...) are control characters that text does not use (NUL to
// backspace, 0x0E to 0x1F, DEL).
bool looksBinary(ByteView bytes);

// Parses the whole input. Its size must stay below 2^31; callers split bigger inputs.
void parse(ByteView input, const ParserSettings& settings, SequenceSink& sink);

}  // namespace wm::lzfse
