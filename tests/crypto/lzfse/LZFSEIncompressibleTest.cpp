// The trial that lets incompressible input be stored without a full parse must not
// turn away input that compresses: a compressible sampled window, or a repeat of
// earlier input within match reach, is enough.
#include <tuple>

#include "LZFSETestData.h"
#include "crypto/lzfse/Format.h"
#include "crypto/lzfse/Incompressible.h"

namespace wm::lzfse {
namespace {

TEST(LZFSEIncompressible, SampledWindowsDecide) {
    Bytes textInThirdWindow = randomBytes(1 << 20, 12);
    const Bytes text = textBytes(trialWindow, 13);
    std::copy(text.begin(), text.end(), textInThirdWindow.begin() + 3 * trialStretch);
    Bytes sixBitSymbols = randomBytes(1 << 18, 14);
    for (auto& b : sixBitSymbols) b = static_cast<std::uint8_t>('0' + b % 64);
    const std::tuple<const char*, Bytes, bool> cases[] = {
        {"random", randomBytes(1 << 20, 15), true},
        {"text", textBytes(1 << 20, 17), false},
        {"text in one sampled window", textInThirdWindow, false},
        {"six bits per byte", sixBitSymbols, false},
        {"random repeated at the largest distance", withPeriod(maxLZFSEDistance, 700000, 11), false},
        {"random repeated beyond reach", withPeriod(maxLZFSEDistance + 1, 700000, 11), true},
    };
    for (const auto& [name, input, incompressible] : cases)
        EXPECT_EQ(looksIncompressible(input, maxLZFSEDistance), incompressible) << name;
}

}  // namespace
}  // namespace wm::lzfse
