#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "core/Hex.h"
#include "core/Unicode.h"
#include "support/DataTable.h"

namespace {

using namespace wm;

TEST(UTF8Repair, EachIllFormedSequenceBecomesOneReplacement) {
    for (const auto& row : test::dataTable("core/utf8-repair.tsv", 3)) {
        const std::string input = stringOf(*Hex::decode(row.at(1))), expected = stringOf(*Hex::decode(row.at(2)));
        EXPECT_EQ(Unicode::decodeUTF8Repairing(input), expected) << row[0];
        EXPECT_EQ(Unicode::isValidUTF8(viewOf(input)), input == expected) << row[0];
    }
}

// Shown text within a number of bytes: whole characters only, and "…" where it was cut.
TEST(UTF8Repair, TextShownWithinALimitIsCutAtACharacterBoundary) {
    const std::string face = "\xF0\x9F\x98\x80", replacement = "\xEF\xBF\xBD", ellipsis = "\xE2\x80\xA6";
    const std::tuple<std::string, std::string, std::size_t, std::string, bool> rows[] = {
        {"", "abc", 3, "abc", true},
        {"", "abcd", 3, "abc" + ellipsis, false},
        {"a/", face + face, 9, "a/" + face + ellipsis, false},  // the second face would end past 9
        {"ab", "\xFF", 4, "ab" + ellipsis, false},              // U+FFFD takes three bytes
        {"ab", "\xFF", 5, "ab" + replacement, true},
        {"abcd", "/", 4, "abcd" + ellipsis, false},
    };
    for (const auto& [before, bytes, limit, after, whole] : rows) {
        std::string text = before;
        EXPECT_EQ(Unicode::appendDecodedUTF8Within(text, viewOf(bytes), limit), whole) << after;
        EXPECT_EQ(text, after);
    }
}

TEST(UnicodeComparison, CanonicalEquivalenceAndInsensitiveContainment) {
    auto pair = [](auto compare) {
        return [compare](const std::string& both) {
            const auto bar = both.find('|');
            return test::yesNo(compare(both.substr(0, bar), both.substr(bar + 1)));
        };
    };
    test::expectAnswers(
        "core/unicode.tsv",
        {{"equal", pair(Unicode::canonicallyEqual)},
         {"nfc", Unicode::nfc},
         {"canonicalName", Unicode::canonicalName},
         {"isCanonicalName", [](const std::string& s) { return test::yesNo(Unicode::isCanonicalName(s)); }},
         {"contains", pair(Unicode::containsInsensitive)}});
}

TEST(UnicodeComparison, LocalizedStandardOrder) {
    std::vector<std::string> names = {"file10.txt", "File2.txt",         "file1.txt", "b",
                                      "a",          "\xC3\xA9t\xC3\xA9", "ete",       "B"};
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return Unicode::localizedStandardCompare(a, b) < 0; });
    const std::vector<std::string> expected = {"a",         "b",         "B",         "ete", "\xC3\xA9t\xC3\xA9",
                                               "file1.txt", "File2.txt", "file10.txt"};
    EXPECT_EQ(names, expected);
    // Canonically equal names still get a fixed order, by code point.
    const int ab = Unicode::localizedStandardCompare("\xC3\xA9", "e\xCC\x81");
    EXPECT_NE(ab, 0);
    EXPECT_EQ(Unicode::localizedStandardCompare("e\xCC\x81", "\xC3\xA9"), -ab);
}

}  // namespace
