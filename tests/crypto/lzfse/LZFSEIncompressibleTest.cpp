// The trial that lets incompressible input be stored without a full parse must not
// turn away input that compresses: a compressible sampled window, or a repeat of
// earlier input within match reach, is enough.
#include "LZFSETestData.h"
#include "crypto/lzfse/Format.h"
#include "crypto/lzfse/Incompressible.h"

namespace wm::lzfse {
namespace {

Bytes withPeriod(std::size_t period, std::size_t n) {
    const Bytes unit = randomBytes(period, 11);
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = unit[i % period];
    return b;
}

TEST(LZFSEIncompressible, SampledWindowsDecide) {
    Bytes textInThirdWindow = randomBytes(1 << 20, 12);
    const Bytes text = textBytes(trialWindow, 13);
    std::copy(text.begin(), text.end(), textInThirdWindow.begin() + 3 * trialStretch);
    Bytes sixBitSymbols = randomBytes(1 << 18, 14);
    for (auto& b : sixBitSymbols) b = static_cast<std::uint8_t>('0' + b % 64);
    struct Case {
        const char* name;
        Bytes input;
        bool incompressible;
    };
    const Case cases[] = {
        {"random", randomBytes(1 << 20, 15), true},
        {"text", textBytes(1 << 20, 17), false},
        {"text in one sampled window", textInThirdWindow, false},
        {"six bits per byte", sixBitSymbols, false},
        {"random repeated at the largest distance", withPeriod(maxLZFSEDistance, 700000), false},
        {"random repeated beyond reach", withPeriod(maxLZFSEDistance + 1, 700000), true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(looksIncompressible(c.input, maxLZFSEDistance), c.incompressible) << c.name;
    }
}

}  // namespace
}  // namespace wm::lzfse
