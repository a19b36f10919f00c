#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/Hex.h"
#include "core/Unicode.h"
#include "support/DataTable.h"

namespace {

using namespace wm;

TEST(UTF8Repair, EachIllFormedSequenceBecomesOneReplacement) {
    for (const auto& row : test::dataTable(test::dataFile("core/utf8-repair.tsv"), 3, '\t')) {
        const std::string input = stringOf(*Hex::decode(row.at(1))), expected = stringOf(*Hex::decode(row.at(2)));
        EXPECT_EQ(Unicode::decodeUTF8Repairing(input), expected) << row[0];
        EXPECT_EQ(Unicode::isValidUTF8(viewOf(input)), input == expected) << row[0];
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
