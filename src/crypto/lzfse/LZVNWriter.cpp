#include "crypto/lzfse/LZVNWriter.h"

#include <algorithm>

namespace wm::lzfse {

namespace {

// Longest match the one-byte combined forms hold after 0..3 literals.
constexpr std::size_t combinedMaxMatch[4] = {10, 8, 6, 4};

}  // namespace

void LZVNWriter::literalsOnly(std::size_t start, std::size_t length) {
    while (length > 0) {
        const std::size_t chunk = std::min<std::size_t>(length, 271);
        if (chunk >= 16) {
            out_.push_back(0xE0);
            out_.push_back(static_cast<std::uint8_t>(chunk - 16));
        } else {
            out_.push_back(static_cast<std::uint8_t>(0xE0 + chunk));
        }
        out_.insert(out_.end(), input_.begin() + static_cast<std::ptrdiff_t>(start),
                    input_.begin() + static_cast<std::ptrdiff_t>(start + chunk));
        start += chunk;
        length -= chunk;
    }
}

void LZVNWriter::matchOnly(std::size_t length) {
    while (length > 0) {
        const std::size_t chunk = std::min<std::size_t>(length, 271);
        if (chunk >= 16) {
            out_.push_back(0xF0);
            out_.push_back(static_cast<std::uint8_t>(chunk - 16));
        } else {
            out_.push_back(static_cast<std::uint8_t>(0xF0 + chunk));
        }
        length -= chunk;
    }
}

void LZVNWriter::sequence(std::size_t literalStart, std::size_t literalLength, std::size_t matchLength,
                          std::uint32_t distance) {
    // Up to 3 literals ride in the match instruction; longer runs go first on their own.
    // Between 16 and 18 literals, a one-byte literal opcode for 15 plus a combined rest
    // beats the two-byte form.
    std::size_t combined = literalLength;
    if (literalLength > 3) {
        combined = (literalLength >= 16 && literalLength <= 18) ? literalLength - 15 : 0;
        literalsOnly(literalStart, literalLength - combined);
    }
    const std::size_t litStart = literalStart + literalLength - combined;
    const auto L = static_cast<std::uint8_t>(combined);
    std::size_t first;  // match bytes carried by the first instruction

    if (distance == previousDistance_) {
        if (combined == 0) {
            matchOnly(matchLength);
            return;
        }
        first = std::min(matchLength, combinedMaxMatch[combined]);
        out_.push_back(static_cast<std::uint8_t>(L << 6 | (first - 3) << 3 | 6));
    } else if (distance <= 1535 && (matchLength <= combinedMaxMatch[combined] || matchLength > 34)) {
        first = std::min(matchLength, combinedMaxMatch[combined]);
        out_.push_back(static_cast<std::uint8_t>(L << 6 | (first - 3) << 3 | distance >> 8));
        out_.push_back(static_cast<std::uint8_t>(distance));
    } else if (distance <= 16383) {
        first = std::min<std::size_t>(matchLength, 34);
        const std::size_t m = first - 3;
        const std::uint16_t w = static_cast<std::uint16_t>(distance << 2 | (m & 3));
        out_.push_back(static_cast<std::uint8_t>(0xA0 | L << 3 | m >> 2));
        out_.push_back(static_cast<std::uint8_t>(w));
        out_.push_back(static_cast<std::uint8_t>(w >> 8));
    } else {
        first = std::min(matchLength, combinedMaxMatch[combined]);
        out_.push_back(static_cast<std::uint8_t>(L << 6 | (first - 3) << 3 | 7));
        out_.push_back(static_cast<std::uint8_t>(distance));
        out_.push_back(static_cast<std::uint8_t>(distance >> 8));
    }
    out_.insert(out_.end(), input_.begin() + static_cast<std::ptrdiff_t>(litStart),
                input_.begin() + static_cast<std::ptrdiff_t>(litStart + combined));
    previousDistance_ = distance;
    matchOnly(matchLength - first);
}

void LZVNWriter::finish(std::size_t literalStart, std::size_t literalLength) {
    literalsOnly(literalStart, literalLength);
    out_.push_back(0x06);
    out_.insert(out_.end(), 7, 0);
}

}  // namespace wm::lzfse
