#pragma once
// The kind of a stored blob: one byte on disk, bound into its sealing.
#include <cstdint>
#include <optional>
#include <string_view>

namespace wm {

enum class BlobType : std::uint8_t { data = 1, tree = 2, meta = 3 };

inline std::optional<BlobType> blobTypeFromRaw(std::uint8_t raw) {
    if (raw < 1 || raw > 3) return std::nullopt;
    return static_cast<BlobType>(raw);
}

inline std::uint8_t rawValue(BlobType type) { return static_cast<std::uint8_t>(type); }

inline std::string_view blobTypeName(BlobType type) {
    switch (type) {
    case BlobType::data: return "data";
    case BlobType::tree: return "tree";
    case BlobType::meta: return "meta";
    }
    return "unknown";
}

}  // namespace wm
