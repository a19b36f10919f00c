#include "storage/RepoPath.h"

#include <gtest/gtest.h>

#include "support/DataTable.h"

namespace wm {
namespace {

TEST(RepoPath, ComponentValidationAndParsing) {
    test::expectAnswers(
        "storage/repo-paths.tsv",
        {{"make",
          [](const std::string& components) {
              return test::yesNo(
                  RepoPath::make(components.empty() ? std::vector<std::string>{} : test::split(components, '|'))
                      .has_value());
          }},
         {"parse", [](const std::string& text) { return test::yesNo(RepoPath::parse(text).has_value()); }}});
    EXPECT_EQ(*RepoPath::parse("refs/head"), RepoPath() / "refs" / "head");
    EXPECT_FALSE((RepoPath() / "packs").appending("a/b"));
    const auto path = RepoPath() / "packs" / "ab" / "abcd.pack";
    EXPECT_TRUE((RepoPath() / "packs").isAncestorOf(path));
    EXPECT_FALSE(path.isAncestorOf(path));
    EXPECT_FALSE((RepoPath() / "pack").isAncestorOf(path));
}

TEST(RepoPathDeathTest, AppendingAnInvalidComponentStopsTheProgram) {
    EXPECT_DEATH({ (void)(RepoPath() / ".."); }, "invalid component");
}

}  // namespace
}  // namespace wm
