#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/Unicode.h"

namespace {

using namespace wm;

const std::string FFFD = "\xEF\xBF\xBD";

TEST(UTF8Repair, EachIllFormedSequenceBecomesOneReplacement) {
    struct Case {
        std::string input;
        std::string expected;
    };
    const Case cases[] = {
        {"", ""},
        {"plain", "plain"},
        {"caf\xC3\xA9", "caf\xC3\xA9"},
        {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},                 // U+1F600
        {"\xF4\x8F\xBF\xBF", "\xF4\x8F\xBF\xBF"},                 // U+10FFFF
        {"a\xFF" "b", "a" + FFFD + "b"},
        {"\xC0\xAF", FFFD + FFFD},                                  // overlong "/"
        {"\xE0\x80\xAF", FFFD + FFFD + FFFD},                       // overlong, 3 bytes
        {"\xED\xA0\x80", FFFD + FFFD + FFFD},                       // a surrogate
        {"\xF4\x90\x80\x80", FFFD + FFFD + FFFD + FFFD},            // above U+10FFFF
        {"\xF5\x80", FFFD + FFFD},
        {"\xE2\x82", FFFD},                                         // truncated at the end
        {"\xE2\x82" "x", FFFD + "x"},                               // truncated in the middle
        {"\xF0\x9F\x98", FFFD},
        {"\x80\x80", FFFD + FFFD},                                  // lone continuations
        {std::string("a\0b", 3), std::string("a\0b", 3)},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Unicode::decodeUTF8Repairing(c.input), c.expected) << testing::PrintToString(c.input);
        EXPECT_EQ(Unicode::isValidUTF8(viewOf(c.input)), c.input == c.expected);
    }
}

TEST(UnicodeComparison, CanonicalEquivalence) {
    const std::string composed = "caf\xC3\xA9";     // é as one code point
    const std::string decomposed = "cafe\xCC\x81";  // e + combining acute
    EXPECT_NE(composed, decomposed);
    EXPECT_TRUE(Unicode::canonicallyEqual(composed, decomposed));
    EXPECT_EQ(Unicode::nfc(decomposed), composed);
    EXPECT_FALSE(Unicode::canonicallyEqual("cafe", composed));
    EXPECT_FALSE(Unicode::canonicallyEqual("Cafe", "cafe"));
}

TEST(UnicodeComparison, CaseAndDiacriticInsensitiveContainment) {
    EXPECT_TRUE(Unicode::containsInsensitive("my R\xC3\x89SUM\xC3\x89.pdf", "Resume"));
    EXPECT_TRUE(Unicode::containsInsensitive("my resume.pdf", "R\xC3\x89SUM\xC3\x89"));
    EXPECT_TRUE(Unicode::containsInsensitive("Stra\xC3\x9F" "e", "STRASSE"));
    EXPECT_TRUE(Unicode::containsInsensitive("cafe\xCC\x81 notes", "CAF\xC3\x89"));
    EXPECT_FALSE(Unicode::containsInsensitive("anything", ""));
    EXPECT_FALSE(Unicode::containsInsensitive("", ""));
    EXPECT_FALSE(Unicode::containsInsensitive("report.txt", "reports"));
    EXPECT_FALSE(Unicode::containsInsensitive("", "a"));
}

TEST(UnicodeComparison, LocalizedStandardOrder) {
    std::vector<std::string> names = {"file10.txt", "File2.txt", "file1.txt", "b", "a", "\xC3\xA9t\xC3\xA9", "ete", "B"};
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return Unicode::localizedStandardCompare(a, b) < 0; });
    const std::vector<std::string> expected = {"a", "b", "B", "ete", "\xC3\xA9t\xC3\xA9", "file1.txt", "File2.txt", "file10.txt"};
    EXPECT_EQ(names, expected);
    EXPECT_EQ(Unicode::localizedStandardCompare("same", "same"), 0);
    // Canonically equal names still get a fixed order, by code point.
    const std::string composed = "\xC3\xA9", decomposed = "e\xCC\x81";
    const int ab = Unicode::localizedStandardCompare(composed, decomposed);
    EXPECT_NE(ab, 0);
    EXPECT_EQ(Unicode::localizedStandardCompare(decomposed, composed), -ab);
}

}  // namespace
