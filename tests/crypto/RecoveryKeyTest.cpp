#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <tuple>
#include <vector>

#include "CryptoTestSupport.h"
#include "crypto/RecoveryKey.h"

namespace wm {
namespace {

RecoveryKeyError parseError(std::string_view text) {
    return testing::thrown<RecoveryKeyError>([&] { RecoveryKey::parse(text); });
}

std::string withoutHyphens(std::string text) {
    text.erase(std::remove(text.begin(), text.end(), '-'), text.end());
    return text;
}

TEST(RecoveryKey, GeneratedKeysRoundTripThroughTheirText) {
    std::set<std::string> seen;
    for (int i = 0; i < 200; ++i) {
        const RecoveryKey key = RecoveryKey::generate();
        ASSERT_EQ(RecoveryKey::parse(key.text()), key);
        seen.insert(key.text());
    }
    EXPECT_EQ(seen.size(), 200u);
}

// Case, spacing, hyphens and look-alike letters for 0 and 1 are forgiven.
TEST(RecoveryKey, ReadsTypedTextForgivingly) {
    const std::string text = "04106-1050R-3GG28-A1C60-T3GF2-08H44-RM2MB-1E60S-WEFVP";  // holds 0 and 1
    const RecoveryKey key = RecoveryKey::parse(text);
    std::string lower = text;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    std::string spaced = withoutHyphens(text);
    for (std::size_t i = 40; i > 0; i -= 5) spaced.insert(i, i % 10 ? " " : "\n\t");
    std::vector<std::string> variants = {
        lower,
        withoutHyphens(text),
        "  " + text + "\n",
        spaced,
        "--" + text + "--",
        "\u00a0" + text + "\u2003",  // non-breaking and em spaces
    };
    for (const char* letters : {"OI", "oi", "OL", "ol"}) {
        std::string typed = text;
        std::replace(typed.begin(), typed.end(), '0', letters[0]);
        std::replace(typed.begin(), typed.end(), '1', letters[1]);
        variants.push_back(typed);
    }
    for (const std::string& typed : variants) EXPECT_EQ(RecoveryKey::parse(typed), key) << typed;
}

TEST(RecoveryKey, WrongLengthIsCountedWithoutHyphensAndSpaces) {
    const std::string text = withoutHyphens(RecoveryKey::generate().text());
    const std::pair<std::string, int> cases[] = {
        {" - \n", 0}, {text.substr(0, 44), 44}, {text + "A", 46}, {text.substr(0, 40) + "\u00e9\u00e9\u00e9", 43}};
    for (const auto& [typed, got] : cases) {
        const RecoveryKeyError e = parseError(typed);
        EXPECT_EQ(e.kind, RecoveryKeyError::Kind::wrongLength) << typed;
        EXPECT_EQ(e.got, got) << typed;
    }
}

TEST(RecoveryKey, InvalidCharacterIsReportedAtItsPositionInTheCleanedText) {
    std::string text = RecoveryKey::generate().text();  // with hyphens
    // Where in the hyphenated text, replaced by what, reported as what at which index.
    const std::tuple<std::size_t, std::string, std::string, int> cases[] = {
        {0, "U", "U", 0},
        {0, "u", "U", 0},                // upper-cased before the check
        {7, "*", "*", 6},                // hyphen before it is not counted
        {52, "\u00e9", "\u00c9", 44},    // a letter beyond ASCII, upper-cased
        {13, "e\u0301", "E\u0301", 11},  // one character of two code points
    };
    for (const auto& [at, with, reported, atIndex] : cases) {
        std::string typed = text;
        typed.replace(at, 1, with);
        const RecoveryKeyError e = parseError(typed);
        ASSERT_EQ(e.kind, RecoveryKeyError::Kind::invalidCharacter) << typed;
        EXPECT_EQ(e.character, reported);
        EXPECT_EQ(e.atIndex, atIndex);
    }
}

TEST(RecoveryKey, EverySingleMistypedCharacterIsCaught) {
    std::string text = withoutHyphens(RecoveryKey::generate().text());
    for (std::size_t i = 0; i < text.size(); ++i) {
        for (char c : RecoveryKey::alphabet) {
            if (c == text[i]) continue;
            std::string typed = text;
            typed[i] = c;
            ASSERT_EQ(parseError(typed).kind, RecoveryKeyError::Kind::checksumMismatch) << typed;
        }
    }
}

TEST(RecoveryKey, ChecksAreMadeInOrder) {
    std::string text = withoutHyphens(RecoveryKey::generate().text());
    // Wrong length wins over a bad character; a bad character wins over a wrong checksum.
    EXPECT_EQ(parseError("U" + text).kind, RecoveryKeyError::Kind::wrongLength);
    std::string both = text;
    both[3] = both[3] == '2' ? '3' : '2';
    both[10] = 'U';
    EXPECT_EQ(parseError(both).kind, RecoveryKeyError::Kind::invalidCharacter);
}

}  // namespace
}  // namespace wm
