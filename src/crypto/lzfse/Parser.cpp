#include "crypto/lzfse/Parser.h"

#include <algorithm>
#include <array>
#include <bit>
#include <vector>

#include "crypto/lzfse/Format.h"

namespace wm::lzfse {

namespace {

constexpr std::size_t minMatch = 4;     // shorter ones gain nothing at most distances
constexpr std::size_t minRepMatch = 3;  // a repeated distance is cheap enough for 3
// Candidates are found through a hash of the next 5 bytes (read as 8): matches of 4
// rarely pay, and their chains are long and mostly useless in text.
constexpr std::size_t hashBytes = 5;
constexpr std::size_t hashReach = 8;
// A match this long is rarely beaten by one a byte later: no lazy look there.
constexpr std::size_t lazyBelow = 32;
// Positions inside a match this long stay out of the chains, except the last few:
// they cost an insertion each and seldom start a better match.
constexpr std::size_t longMatch = 128;
constexpr std::size_t longMatchTail = 8;

inline std::size_t commonLength(const std::uint8_t* a, const std::uint8_t* b, std::size_t maxLength) {
    std::size_t n = 0;
    while (n + 8 <= maxLength) {
        const std::uint64_t x = load64(a + n) ^ load64(b + n);
        if (x != 0) return n + static_cast<std::size_t>(std::countr_zero(x) >> 3);
        n += 8;
    }
    while (n < maxLength && a[n] == b[n]) ++n;
    return n;
}

struct Match {
    std::size_t length = 0;
    std::uint32_t distance = 0;
    int gain = 0;  // estimated saving over coding the bytes as literals; > 0 to be useful
};

// Rough saving of a match over literals. For LZFSE in bits: literals cost about 6 bits
// each, a match its L, M and D symbols plus the distance's extra bits (about log2 D).
// For LZVN in bytes (scaled by 8): literals 1 byte, a match 2 or 3 opcode bytes.
class CostModel {
public:
    explicit CostModel(bool entropyCoded) : entropy_(entropyCoded) {}
    int gain(std::size_t length, std::uint32_t distance, bool repeat) const {
        const int len = static_cast<int>(std::min<std::size_t>(length, 1 << 20));
        if (entropy_) {
            const int cost = repeat ? 6 : 8 + (31 - std::countl_zero(distance));
            return 6 * len - cost;
        }
        const int cost = repeat ? 8 : (distance <= 1535 ? 16 : 24);
        return 8 * len - cost;
    }

private:
    bool entropy_;
};

class HashChainMatcher {
public:
    HashChainMatcher(ByteView input, const ParserSettings& settings)
        : data_(input.data()), size_(input.size()), settings_(settings), cost_(settings.entropyCoded) {
        const int sizeLog = input.size() <= 1 ? 1 : std::bit_width(input.size() - 1);
        hashLog_ = std::clamp(sizeLog + 1, 10, 17);
        const int windowLog = std::clamp(sizeLog, 8, 18);
        static_assert((1u << 18) > maxLZFSEDistance);
        windowMask_ = (1u << windowLog) - 1;
        head_.assign(std::size_t{1} << hashLog_, -1);
        prev_.assign(std::size_t{1} << windowLog, -1);
    }

    // Best match at p (p + minMatch <= size), preferring a match at distance `rep`,
    // looking at up to `chain` candidates. Registers the positions up to and including
    // p in the chains (but for those skipTo left out).
    Match find(std::size_t p, std::uint32_t rep, int chain) {
        insertUpTo(p);
        const std::uint8_t* cur = data_ + p;
        const std::size_t maxLength = size_ - p;
        Match best;
        if (rep != 0 && rep <= p) {
            const std::size_t len = commonLength(cur, cur - rep, maxLength);
            if (len >= minRepMatch) best = {len, rep, cost_.gain(len, rep, true)};
        }

        if (p + hashReach > size_) return best;  // too near the end to hash
        const std::uint32_t h = hash(cur);
        std::int32_t candidate = head_[h];
        head_[h] = static_cast<std::int32_t>(p);
        prev_[p & windowMask_] = candidate;
        next_ = p + 1;
        if (best.length >= settings_.niceLength) return best;
        // The next search is often at p + 1 (the lazy look, or the next literal).
        if (p + 1 + hashReach <= size_) touchChain(head_[hash(cur + 1)]);

        const std::uint32_t head = load32(cur);
        for (int depth = chain; depth > 0 && candidate >= 0; --depth) {
            const std::size_t c = static_cast<std::size_t>(candidate);
            const std::size_t distance = p - c;
            if (distance > settings_.maxDistance) break;
            candidate = prev_[c & windowMask_];
            const std::uint8_t* m = data_ + c;
            // Only a match longer than the best so far can win.
            if (best.length >= maxLength) break;
            if (m[best.length] != cur[best.length] || load32(m) != head) continue;
            const std::size_t len = commonLength(cur, m, maxLength);
            if (len < minMatch) continue;
            const int g = cost_.gain(len, static_cast<std::uint32_t>(distance), false);
            if (g > best.gain) {
                best = {len, static_cast<std::uint32_t>(distance), g};
                if (len >= settings_.niceLength) break;
            }
        }
        return best;
    }

    // Registers the positions before p and starts reading the first candidate of p's
    // chain, so that the reads overlap other work before find(p).
    void prepare(std::size_t p) {
        insertUpTo(p);
        if (p + hashReach <= size_) touchChain(head_[hash(data_ + p)]);
    }

    // Leaves the positions before p - keep out of the chains.
    void skipTo(std::size_t p, std::size_t keep) {
        if (p > next_ + keep) next_ = p - keep;
    }

private:
    std::uint32_t hash(const std::uint8_t* p) const {
        constexpr std::uint64_t prime = 0xCF1BBCDCB7A56463ull;
        return static_cast<std::uint32_t>(((load64(p) << (64 - 8 * hashBytes)) * prime) >> (64 - hashLog_));
    }

    // Chains are walked one dependent read at a time, each likely a cache miss (the
    // tables and the input are a few MiB): the first reads of a search are started
    // early, to overlap other work.
    void touchChain(std::int32_t c) const {
        if (c < 0) return;
        __builtin_prefetch(&prev_[static_cast<std::size_t>(c) & windowMask_]);
        __builtin_prefetch(data_ + c);
    }

    void insertUpTo(std::size_t p) {
        const std::size_t last = std::min(p, size_ - hashReach + 1);
        for (std::size_t i = next_; i < last; ++i) {
            if (i + insertAhead + hashReach <= size_) __builtin_prefetch(&head_[hash(data_ + i + insertAhead)]);
            const std::uint32_t h = hash(data_ + i);
            prev_[i & windowMask_] = head_[h];
            head_[h] = static_cast<std::int32_t>(i);
        }
        if (p > next_) next_ = p;
    }

    // How far ahead of an insertion its head slot is fetched.
    static constexpr std::size_t insertAhead = 16;

    const std::uint8_t* data_;
    std::size_t size_;
    ParserSettings settings_;
    CostModel cost_;
    int hashLog_;
    std::uint32_t windowMask_;
    std::vector<std::int32_t> head_;
    std::vector<std::int32_t> prev_;
    std::size_t next_ = 0;  // first position not yet in the chains
};

constexpr std::array<std::uint8_t, 256> textControl = [] {
    std::array<std::uint8_t, 256> table{};
    for (int b = 0; b < 256; ++b) {
        table[static_cast<std::size_t>(b)] = b < 0x09 || (b >= 0x0E && b < 0x20) || b == 0x7F;
    }
    return table;
}();

}  // namespace

bool looksBinary(ByteView bytes) {
    std::size_t control = 0;
    std::size_t sampled = 0;
    for (std::size_t i = 0; i < bytes.size(); i += binarySampleStep) {
        control += textControl[bytes[i]];
        ++sampled;
    }
    return control * 32 > sampled;
}

void parse(ByteView input, const ParserSettings& settings, SequenceSink& sink) {
    const std::size_t n = input.size();
    if (n < minMatch + 1) {
        sink.finish(0, n);
        return;
    }
    const std::uint8_t* data = input.data();
    HashChainMatcher matcher(input, settings);
    std::size_t anchor = 0;
    std::size_t p = 0;
    std::uint32_t rep = 0;
    const std::size_t last = n - minMatch;  // last position where a match can start
    // Search effort of the stretch that p lies in, judged when p enters it.
    int chain = settings.maxChain;
    std::size_t stretchEnd = 0;

    while (p <= last) {
        if (p >= stretchEnd) {
            const std::size_t stretchStart = p - p % binaryStretch;
            stretchEnd = std::min(n, stretchStart + binaryStretch);
            chain = settings.binaryChain != settings.maxChain &&
                            looksBinary(input.subspan(stretchStart, stretchEnd - stretchStart))
                        ? settings.binaryChain
                        : settings.maxChain;
        }
        Match best = matcher.find(p, rep, chain);
        if (best.gain <= 0) {
            // Move faster through data that does not match, such as compressed content.
            p += 1 + std::min<std::size_t>((p - anchor) >> 6, 31);
            continue;
        }
        // Lazy evaluation: a better match a byte later wins over a short one.
        if (best.length < std::min(lazyBelow, settings.niceLength) && p + 1 <= last) {
            const int lazyChain = chain == settings.maxChain ? settings.lazyChain : std::max(1, chain / 2);
            const Match next = matcher.find(p + 1, rep, lazyChain);
            if (next.gain > best.gain + 2) {
                best = next;
                ++p;
            }
        }
        // Grow the match backwards over literals it also covers.
        while (p > anchor && p > best.distance && data[p - 1] == data[p - 1 - best.distance]) {
            --p;
            ++best.length;
        }
        const std::size_t literalStart = anchor;
        rep = best.distance;
        anchor = p + best.length;
        if (best.length >= longMatch) matcher.skipTo(anchor, longMatchTail);
        if (anchor <= last) matcher.prepare(anchor);
        sink.sequence(literalStart, p - literalStart, best.length, best.distance);
        p = anchor;
    }
    sink.finish(anchor, n - anchor);
}

}  // namespace wm::lzfse
