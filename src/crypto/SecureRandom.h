#pragma once
// The system's cryptographically secure random source: keys, salts, nonces, key identifiers.
#include <cstddef>
#include <cstdint>
#include <span>

#include "core/Bytes.h"

namespace wm::SecureRandom {

// Fills out with random bytes; throws CryptoFailure when the generator cannot deliver.
void fill(std::span<std::uint8_t> out);
Bytes bytes(std::size_t count);

}  // namespace wm::SecureRandom
