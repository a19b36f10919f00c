// Randomly damaged streams: the decoder either returns exactly the expected number of
// bytes or throws LZFSEError, never anything else (and, under the sanitizers, never
// touches memory it does not own).
#include "LZFSETestData.h"

namespace wm::lzfse {
namespace {

Bytes mutate(Bytes s, std::mt19937& rng) {
    const int edits = 1 + static_cast<int>(rng() % 3);
    for (int e = 0; e < edits && !s.empty(); ++e) {
        const std::size_t at = rng() % s.size();
        switch (rng() % 6) {
            case 0: s[at] ^= static_cast<std::uint8_t>(1u << (rng() % 8)); break;
            case 1: s[at] = static_cast<std::uint8_t>(rng()); break;
            case 2: s.erase(s.begin() + static_cast<std::ptrdiff_t>(at)); break;
            case 3: s.insert(s.begin() + static_cast<std::ptrdiff_t>(at), static_cast<std::uint8_t>(rng())); break;
            case 4: s.resize(at); break;
            case 5: {
                // Small changes to a header-sized field hit counts and sizes.
                const std::size_t len = std::min<std::size_t>(4, s.size() - at);
                for (std::size_t i = 0; i < len; ++i)
                    s[at + i] = static_cast<std::uint8_t>(s[at + i] + (rng() % 5) - 2);
                break;
            }
        }
    }
    return s;
}

TEST(LZFSEMutation, DamagedStreamsFailCleanly) {
    // One stream of each block kind, and one with several LZFSE blocks.
    std::vector<Bytes> plains = {textBytes(5, 1), textBytes(3000, 1), textBytes(20000, 1), textBytes(150000, 1),
                                 textBytes(6000, 1)};
    const Bytes noise = randomBytes(6000, 2);
    plains.back().insert(plains.back().end(), noise.begin(), noise.end());
    std::mt19937 rng(0x4C5A4653);
    int accepted = 0, rejected = 0;
    for (const Bytes& plain : plains) {
        const Bytes stream = lzfseEncode(plain);
        const int rounds = plain.size() > 100000 ? 150 : 1500;
        for (int i = 0; i < rounds; ++i) {
            const Bytes damaged = mutate(stream, rng);
            const std::size_t expected = rng() % 8 == 0 ? plain.size() + rng() % 64 : plain.size();
            try {
                const Bytes out = lzfseDecode(damaged, expected);
                ASSERT_EQ(out.size(), expected);
                ++accepted;
            } catch (const LZFSEError&) {
                ++rejected;
            }
        }
    }
    // Most damage must be caught; the few survivors change literal bytes or padding only.
    EXPECT_GT(rejected, accepted);
}

}  // namespace
}  // namespace wm::lzfse
