// The name rule of the search and the collation of several snapshots' hits.
#include <random>

#include <gtest/gtest.h>

#include "core/Unicode.h"
#include "engine/DeletedFileSearch.h"
#include "support/DataTable.h"

namespace wm::test {
namespace {

using Match = DeletedFileSearch::Match;

std::vector<std::string> path(const std::string& text) { return split(text, '/'); }

TEST(DeletedFileSearchMatches, Table) {
    for (const auto& row : dataTable("engine/deleted-file-matches.tsv", 3))
        EXPECT_EQ(yesNo(DeletedFileSearch::matches(unescaped(row[0]), unescaped(row[1]))), row[2])
            << row[0] << " / " << row[1];
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

// A path is gone when the newest snapshot lacks it; its size is the latest seen. Gone first,
// then the file browser's order of names; a name spelled in either normal form is one path,
// kept as first met.
TEST(DeletedFileSearchCollate, GoneFirstThenNamesInOrder) {
    const SnapshotID s1 = SnapshotID::random(), s2 = SnapshotID::random(), s3 = SnapshotID::random();
    const std::string precomposed = "R\xC3\xA9sum\xC3\xA9", decomposed = "Re\xCC\x81sume\xCC\x81";
    const auto matches = DeletedFileSearch::collate({
        {s1, {{path("z/file10"), 1}, {path("gone/b"), 10}, {path("gone/A"), 1}, {path(precomposed), 3}}},
        {s2, {{path("z/file10"), 1}, {path("gone/b"), 12}, {path("y/File2"), 1}, {path(decomposed), 4}}},
        {s3, {{path("z/file10"), 1}, {path("y/File2"), 1}, {path("x/File2"), 1}, {path(precomposed), 5}}},
    });
    std::vector<std::string> order;
    for (const auto& m : matches) order.push_back(m.id());
    ASSERT_EQ(order, (std::vector<std::string>{"gone/A", "gone/b", "x/File2", "y/File2", "z/file10", precomposed}));
    EXPECT_EQ(matches[1], (Match{path("gone/b"), 12, {s1, s2}, true}));
    EXPECT_EQ(matches[1].lastSeenIn(), s2);
    EXPECT_EQ(matches[5], (Match{path(precomposed), 5, {s1, s2, s3}, false}));
    EXPECT_TRUE(DeletedFileSearch::collate({{s1, {{path("a"), 1}}}, {s2, {}}}).at(0).isGone);  // newest has no hits
}

}  // namespace
}  // namespace wm::test
