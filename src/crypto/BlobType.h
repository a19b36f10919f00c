#pragma once
// The kind of a stored blob: one byte on disk, bound into its sealing.
#include <cstdint>
#include <optional>

namespace wm {

enum class BlobType : std::uint8_t { data = 1, tree = 2, meta = 3 };

inline std::optional<BlobType> blobTypeFromRawValue(std::uint8_t raw) {
    if (raw < 1 || raw > 3) return std::nullopt;
    return static_cast<BlobType>(raw);
}

inline std::uint8_t rawValue(BlobType type) { return static_cast<std::uint8_t>(type); }

}  // namespace wm
