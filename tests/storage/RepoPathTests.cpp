#include "storage/RepoPath.h"

#include <gtest/gtest.h>

namespace wm {
namespace {

// Paths come from names read off the backup drive: none may leave the repository.
TEST(RepoPath, ComponentValidationAndParsing) {
    const std::vector<std::pair<std::vector<std::string>, bool>> rows = {
        {{}, true},
        {{"packs", "ab", "ab12.pack"}, true},
        {{".hidden"}, true},
        {{""}, false},
        {{"."}, false},
        {{".."}, false},
        {{"a/b"}, false},
        {{"ok", ".."}, false},
        {{std::string("a\0b", 3)}, false},
    };
    for (const auto& [components, valid] : rows)
        EXPECT_EQ(RepoPath::make(components).has_value(), valid) << ::testing::PrintToString(components);
    EXPECT_EQ(*RepoPath::parse("refs/head"), RepoPath() / "refs" / "head");
    for (const char* bad : {"/refs", "refs/", "refs//head", "refs/../head"}) EXPECT_FALSE(RepoPath::parse(bad)) << bad;
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
