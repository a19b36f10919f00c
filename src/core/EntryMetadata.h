#pragma once
// The parts of a file-system entry's metadata that a capture (fs) and a stored tree entry
// (format) both hold, in one shape each: a file time, an extended attribute, a hole of a
// sparse file.
#include <compare>
#include <cstdint>

#include "core/Bytes.h"

namespace wm {

// A file time as the file system reports it.
struct Timestamp {
    std::int64_t seconds = 0;
    std::uint32_t nanoseconds = 0;  // not range-checked
    friend auto operator<=>(const Timestamp&, const Timestamp&) = default;
    friend bool operator==(const Timestamp&, const Timestamp&) = default;
};

// Both parts are raw bytes.
struct ExtendedAttribute {
    Bytes name;
    Bytes value;
    friend bool operator==(const ExtendedAttribute&, const ExtendedAttribute&) = default;
};

// A stretch of a file in bytes: a hole of a sparse file, or the data between holes.
struct SparseRange {
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
    // offset + length, saturating at the largest value instead of wrapping.
    std::uint64_t end() const;
    friend bool operator==(const SparseRange&, const SparseRange&) = default;
};

}  // namespace wm
