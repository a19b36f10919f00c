#pragma once
// A cheap trial that tells data not worth compressing (compressed or encrypted content,
// random bytes) from data that is, by looking at samples of it.
#include <cstdint>

#include "core/Bytes.h"

namespace wm::lzfse {

// The input is sampled in windows of trialWindow bytes, one at the start of every
// trialStretch bytes. A window counts as compressible when its bytes, less those
// covered by matches (within the window or reaching back into the input before it),
// coded by their own frequencies, would take under 97 per cent of its size.
inline constexpr std::size_t trialWindow = 4096;
inline constexpr std::size_t trialStretch = std::size_t{1} << 16;

// True when no sampled window counts as compressible. Costs a small fraction of the
// time of compressing the input.
bool looksIncompressible(ByteView input, std::uint32_t maxDistance);

}  // namespace wm::lzfse
