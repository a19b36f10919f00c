// The name rule of the search and the collation of several snapshots' hits.
#include <random>

#include <gtest/gtest.h>

#include "core/Unicode.h"

#include "engine/DeletedFileSearch.h"

namespace wm::test {
namespace {

using Match = DeletedFileSearch::Match;
using Finding = DeletedFileSearch::Finding;

std::vector<std::string> split(const std::string& path) {
    std::vector<std::string> out(1);
    for (const char c : path) {
        if (c == '/') out.emplace_back();
        else out.back() += c;
    }
    return out;
}

TEST(DeletedFileSearchMatches, Table) {
    struct Case {
        const char* name;
        const char* query;
        bool matches;
    };
    const Case cases[] = {
        {"", "", false},
        {"anything", "", false},
        {"", "a", false},
        {"Annual-Report-2023.pdf", "report", true},
        {"REPORT.TXT", "report", true},
        {"R\xC3\xA9sum\xC3\xA9.pdf", "resume", true},             // precomposed accents
        {"Re\xCC\x81sume\xCC\x81.pdf", "R\xC3\xA9SUM\xC3\xA9", true},  // decomposed name, precomposed query
        {"report-txt", "report.txt", false},
        {"my report.txt", "my report", true},
        {"my report.txt", " my", false},  // nothing is trimmed
        {"photo*.jpg", "*", true},        // no wildcards: "*" is a character
        {"photo1.jpg", "photo*", false},
        {"STRASSE", "stra", true},
        {"\xE2\x84\xAA" "elvin", "kelvin", true},  // the Kelvin sign folds to k
        {"pro\xEF\xAC\x81le.txt", "profile", true},  // the ligature to f and i
        {"Resume.pdf", "r\xC3\xA9sum\xC3\xA9", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(DeletedFileSearch::matches(c.name, c.query), c.matches) << c.name << " / " << c.query;
}

// Plain ASCII takes a shorter road that must agree with the Unicode search.
TEST(DeletedFileSearchMatches, AsciiAgreesWithTheUnicodeSearch) {
    std::mt19937_64 rng(7);
    const std::string alphabet = "aAbBzZ09 .-_~@[]`{}\x7f\x01";
    for (int round = 0; round < 20000; ++round) {
        std::string name, query;
        const std::size_t nameLength = rng() % 8, queryLength = 1 + rng() % 3;
        for (std::size_t i = 0; i < nameLength; ++i) name += alphabet[rng() % alphabet.size()];
        for (std::size_t i = 0; i < queryLength; ++i) query += alphabet[rng() % alphabet.size()];
        ASSERT_EQ(DeletedFileSearch::matches(name, query), Unicode::containsInsensitive(name, query))
            << "'" << name << "' / '" << query << "'";
    }
}

TEST(DeletedFileSearchCollate, PathsAcrossThreeSnapshots) {
    const SnapshotID s1 = SnapshotID::random(), s2 = SnapshotID::random(), s3 = SnapshotID::random();
    const std::vector<Finding> findings = {
        {s1, {{split("a/x.txt"), 10}}},
        {s2, {{split("a/x.txt"), 12}, {split("b/y.txt"), 5}}},
        {s3, {{split("b/y.txt"), 5}}},
    };
    const auto matches = DeletedFileSearch::collate(findings);
    ASSERT_EQ(matches.size(), 2u);
    EXPECT_EQ(matches[0], (Match{split("a/x.txt"), 12, {s1, s2}, true}));
    EXPECT_EQ(matches[0].lastSeenIn(), s2);
    EXPECT_EQ(matches[1], (Match{split("b/y.txt"), 5, {s2, s3}, false}));
    EXPECT_EQ(matches[1].lastSeenIn(), s3);
    // When the newest snapshot has no hits, everything is gone.
    const auto gone = DeletedFileSearch::collate({{s1, {{split("a"), 1}, {split("b"), 2}}}, {s2, {}}});
    ASSERT_EQ(gone.size(), 2u);
    EXPECT_TRUE(gone[0].isGone && gone[1].isGone);
}

// Gone first, then the file browser's order of names; one name in two folders: by path.
TEST(DeletedFileSearchCollate, SortOrder) {
    const SnapshotID old = SnapshotID::random(), now = SnapshotID::random();
    const auto matches = DeletedFileSearch::collate({
        {old, {{split("z/file10"), 1}, {split("gone/b"), 1}, {split("gone/A"), 1}}},
        {now, {{split("z/file10"), 1}, {split("y/File2"), 1}, {split("x/File2"), 1}, {split("Zeta"), 1}}},
    });
    const std::vector<std::string> expected = {"gone/A", "gone/b", "x/File2", "y/File2", "z/file10", "Zeta"};
    ASSERT_EQ(matches.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(matches[i].id(), expected[i]);
}

// Stored precomposed, then decomposed: one path, still present.
TEST(DeletedFileSearchCollate, PathsSpelledInEitherNormalFormAreOnePath) {
    const SnapshotID s1 = SnapshotID::random(), s2 = SnapshotID::random();
    const std::string precomposed = "Docs/R\xC3\xA9sum\xC3\xA9.pdf";
    const std::string decomposed = "Docs/Re\xCC\x81sume\xCC\x81.pdf";
    const auto matches = DeletedFileSearch::collate({{s1, {{split(precomposed), 10}}}, {s2, {{split(decomposed), 12}}}});
    ASSERT_EQ(matches.size(), 1u);
    EXPECT_EQ(matches[0], (Match{split(precomposed), 12, {s1, s2}, false}));
    EXPECT_EQ(matches[0].path, split(precomposed)) << "the path first met is the one kept";
}

}  // namespace
}  // namespace wm::test
