#include "format/Chunker.h"
#include "core/ErrorDescription.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace wm {

namespace {

constexpr std::array<std::uint64_t, 64> kMaskBitOrder{
    16, 20, 24, 28, 32, 36, 40, 44,  //
    17, 21, 25, 29, 33, 37, 41, 45,  //
    18, 22, 26, 30, 34, 38, 42, 46,  //
    19, 23, 27, 31, 35, 39, 43, 47,  //
    12, 13, 14, 15, 48, 49, 50, 51,  //
    8,  9,  10, 11, 52, 53, 54, 55,  //
    4,  5,  6,  7,  56, 57, 58, 59,  //
    0,  1,  2,  3,  60, 61, 62, 63,
};

// SplitMix64 from a fixed seed: the table is part of the format, a different one would
// move every boundary. Computed at compile time, so it needs no run-time initialisation.
constexpr std::array<std::uint64_t, 256> makeGear() {
    std::array<std::uint64_t, 256> table{};
    std::uint64_t state = 0x9E3779B97F4A7C15ULL;
    for (auto& entry : table) {
        state += 0x9E3779B97F4A7C15ULL;
        std::uint64_t z = state;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        entry = z ^ (z >> 31);
    }
    return table;
}

constexpr std::array<std::uint64_t, 256> kGear = makeGear();
static_assert(kGear[0] == 0x6E789E6AA1B965F4ULL);
static_assert(kGear[255] == 0xCBDC6D34B7C7534DULL);

// Hashes bytes [from, to) into fp. Returns the negated chunk length at the first cut, or
// `to` when there is none.
inline std::int64_t scan(const std::uint8_t* bytes, const std::uint64_t* g, std::uint64_t& fp, std::int64_t from,
                         std::int64_t to, std::uint64_t mask) {
    std::int64_t i = from;
#define WM_GEAR_STEP(k)                 \
    fp = (fp << 1) + g[bytes[i + (k)]]; \
    if ((fp & mask) == 0) [[unlikely]]  \
        return -(i + (k) + 1);
    while (i + 8 <= to) {
        WM_GEAR_STEP(0)
        WM_GEAR_STEP(1)
        WM_GEAR_STEP(2)
        WM_GEAR_STEP(3)
        WM_GEAR_STEP(4)
        WM_GEAR_STEP(5)
        WM_GEAR_STEP(6)
        WM_GEAR_STEP(7)
        i += 8;
    }
    while (i < to) {
        WM_GEAR_STEP(0)
        ++i;
    }
#undef WM_GEAR_STEP
    return to;
}

}  // namespace

Chunker::Error Chunker::Error::invalidParameters(std::int64_t minSize, std::int64_t avgSize, std::int64_t maxSize,
                                                 std::int64_t normalization) {
    Error e(Kind::invalidParameters, ErrorDescription("Chunker.Error", "invalidParameters")
                                         .add("minSize", minSize)
                                         .add("avgSize", avgSize)
                                         .add("maxSize", maxSize)
                                         .add("normalization", normalization));
    e.minSize = minSize;
    e.avgSize = avgSize;
    e.maxSize = maxSize;
    e.normalization = normalization;
    return e;
}

const std::array<std::uint64_t, 64>& Chunker::maskBitOrder() { return kMaskBitOrder; }
const std::array<std::uint64_t, 256>& Chunker::gear() { return kGear; }

std::uint64_t Chunker::spreadMask(std::int64_t bits) {
    std::uint64_t mask = 0;
    std::int64_t n = std::min<std::int64_t>(bits, 64);
    for (std::int64_t i = 0; i < n; ++i) mask |= std::uint64_t{1} << kMaskBitOrder[static_cast<std::size_t>(i)];
    return mask;
}

Chunker::Chunker(std::int64_t minSize, std::int64_t avgSize, std::int64_t maxSize, std::int64_t normalization)
    : minSize_(minSize), avgSize_(avgSize), maxSize_(maxSize) {
    auto refuse = [&] { return Error::invalidParameters(minSize, avgSize, maxSize, normalization); };
    if (minSize < 1 || avgSize < minSize || maxSize < avgSize) throw refuse();
    // log2 of a positive int64 lies in 0 ... 63; rounding is half away from zero.
    const auto bits = static_cast<std::int64_t>(std::round(std::log2(static_cast<double>(avgSize))));
    std::int64_t shortBits = 0, longBits = 0;
    if (__builtin_add_overflow(bits, normalization, &shortBits) ||
        __builtin_sub_overflow(bits, normalization, &longBits) || shortBits < 0)
        throw refuse();
    maskShort_ = spreadMask(std::min<std::int64_t>(shortBits, 63));
    maskLong_ = spreadMask(longBits < 2 ? 1 : longBits);
}

std::int64_t Chunker::nextBoundary(ByteView buffer) const {
    const auto n = static_cast<std::int64_t>(buffer.size());
    if (n <= minSize_) return n;
    const std::int64_t hi = std::min(maxSize_, n);
    const std::int64_t mid = std::min(avgSize_, hi);
    const std::uint8_t* const bytes = buffer.data();
    const std::uint64_t* const g = kGear.data();
    std::uint64_t fp = 0;
    std::int64_t i = minSize_;
    // The two phases share the fingerprint; only the mask changes at mid. Each phase is
    // unrolled by eight bytes, with the mask still tested after every byte.
    i = scan(bytes, g, fp, i, mid, maskShort_);
    if (i < 0) return -i;
    i = scan(bytes, g, fp, i, hi, maskLong_);
    if (i < 0) return -i;
    return hi;
}

std::vector<Chunker::Range> Chunker::split(ByteView buffer, std::size_t from) const {
    std::vector<Range> ranges;
    std::size_t start = std::min(from, buffer.size());
    while (start < buffer.size()) {
        const auto length = static_cast<std::size_t>(nextBoundary(buffer.subspan(start)));
        ranges.push_back({start, start + length});
        start += length;
    }
    return ranges;
}

}  // namespace wm
