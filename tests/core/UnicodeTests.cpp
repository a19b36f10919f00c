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

TEST(UnicodeComparison, CanonicalEquivalenceAndInsensitiveContainment) {
    const std::string composed = "caf\xC3\xA9", decomposed = "cafe\xCC\x81";
    EXPECT_TRUE(Unicode::canonicallyEqual(composed, decomposed));
    EXPECT_EQ(Unicode::nfc(decomposed), composed);
    EXPECT_FALSE(Unicode::canonicallyEqual("Cafe", "cafe"));
    // Bytes that are not UTF-8 stay as they are (Latin-1 e acute is not e grave); the
    // well-formed stretches around them are still composed.
    EXPECT_FALSE(Unicode::canonicallyEqual("caf\xE9", "caf\xE8"));
    EXPECT_EQ(Unicode::canonicalName(decomposed + "\xE9" + decomposed), composed + "\xE9" + composed);
    EXPECT_TRUE(Unicode::isCanonicalName(composed + "\xE9"));
    EXPECT_FALSE(Unicode::isCanonicalName("\xE9" + decomposed));
    const std::tuple<const char*, const char*, bool> contains[] = {{"my R\xC3\x89SUM\xC3\x89.pdf", "Resume", true},
                                                                   {"my resume.pdf", "R\xC3\x89SUM\xC3\x89", true},
                                                                   {"Stra\xC3\x9F"
                                                                    "e",
                                                                    "STRASSE", true},
                                                                   {"cafe\xCC\x81 notes", "CAF\xC3\x89", true},
                                                                   {"anything", "", false},
                                                                   {"", "", false},
                                                                   {"report.txt", "reports", false},
                                                                   {"", "a", false}};
    for (const auto& [text, part, found] : contains) EXPECT_EQ(Unicode::containsInsensitive(text, part), found) << part;
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
