#pragma once
// Content-defined chunking (FastCDC: a gear fingerprint with two masks, normalised).
// Where a cut falls depends only on the bytes between the start of the chunk and the
// cut, so the same content gives the same chunks wherever it appears.
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/Bytes.h"
#include "core/Error.h"

namespace wm {

class Chunker {
public:
    class Error : public wm::Error {
    public:
        enum class Kind { invalidParameters };
        static Error invalidParameters(std::int64_t minSize, std::int64_t avgSize, std::int64_t maxSize,
                                       std::int64_t normalization);
        Kind kind;
        std::int64_t minSize = 0, avgSize = 0, maxSize = 0, normalization = 0;

    private:
        Error(Kind k, const std::string& description) : wm::Error(description), kind(k) {}
    };

    // One chunk: positions lowerBound ..< upperBound of the buffer that was split.
    struct Range {
        std::size_t lowerBound = 0;
        std::size_t upperBound = 0;
        std::size_t size() const { return upperBound - lowerBound; }
        friend bool operator==(const Range&, const Range&) = default;
    };

    // Needs 1 <= minSize <= avgSize <= maxSize and a normalization that keeps both mask
    // lengths meaningful. The numbers may come from a repository config, which is not
    // checked when read, so unusable numbers throw Chunker::Error instead of stopping.
    Chunker(std::int64_t minSize, std::int64_t avgSize, std::int64_t maxSize, std::int64_t normalization);

    std::int64_t minSize() const { return minSize_; }
    std::int64_t avgSize() const { return avgSize_; }
    std::int64_t maxSize() const { return maxSize_; }
    std::uint64_t maskShort() const { return maskShort_; }
    std::uint64_t maskLong() const { return maskLong_; }

    // Length of the first chunk of buffer: 1 ... buffer.size(), or 0 for an empty buffer.
    std::int64_t nextBoundary(ByteView buffer) const;
    // The chunks of buffer[from...] in order, as positions of buffer, covering it exactly.
    std::vector<Range> split(ByteView buffer, std::size_t from = 0) const;

    // The 64 bit positions from which masks are built, densest use of bits 16 to 47 first.
    static const std::array<std::uint64_t, 64>& maskBitOrder();
    // The gear value of every byte.
    static const std::array<std::uint64_t, 256>& gear();

private:
    // The mask made of the first `bits` (>= 0) entries of maskBitOrder (all 64 when more).
    static std::uint64_t spreadMask(std::int64_t bits);

    std::int64_t minSize_;
    std::int64_t avgSize_;
    std::int64_t maxSize_;
    std::uint64_t maskShort_;
    std::uint64_t maskLong_;
};

}  // namespace wm
