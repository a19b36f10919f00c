#include "storage/RepoPath.h"

#include <gtest/gtest.h>


namespace wm {
namespace {

TEST(RepoPath, ComponentValidation) {
    struct Row {
        std::vector<std::string> components;
        bool valid;
    };
    const std::vector<Row> rows = {
        {{}, true},          {{"packs"}, true},   {{"packs", "ab", "ab12.pack"}, true}, {{"..."}, true},
        {{".hidden"}, true}, {{"a b", "ü"}, true}, {{""}, false},  {{"."}, false},  {{".."}, false},
        {{"a/b"}, false},    {{"/"}, false},       {{"packs", ""}, false},           {{"ok", ".."}, false},
        {{std::string("a\0b", 3)}, false},
    };
    for (const auto& row : rows) {
        auto path = RepoPath::make(row.components);
        EXPECT_EQ(path.has_value(), row.valid) << ::testing::PrintToString(row.components);
        if (path) {
            EXPECT_EQ(path->components(), row.components);
        }
    }
}

TEST(RepoPath, ParseNamesAndAncestors) {
    EXPECT_TRUE(RepoPath::parse("")->isRoot());
    EXPECT_EQ(*RepoPath::parse("refs/head"), RepoPath() / "refs" / "head");
    for (const char* bad : {"/refs", "refs/", "refs//head", "refs/../head"}) EXPECT_FALSE(RepoPath::parse(bad)) << bad;
    auto path = RepoPath() / "packs" / "ab" / "abcd.pack";
    EXPECT_EQ(path.string(), "packs/ab/abcd.pack");
    EXPECT_EQ(path.fileName(), "abcd.pack");
    EXPECT_EQ(path.parent(), RepoPath() / "packs" / "ab");
    EXPECT_EQ(RepoPath().parent(), RepoPath());
    EXPECT_TRUE((RepoPath() / "packs").isAncestorOf(path));
    EXPECT_TRUE(RepoPath().isAncestorOf(path));
    EXPECT_FALSE(path.isAncestorOf(path));
    EXPECT_FALSE((RepoPath() / "pack").isAncestorOf(path));
    EXPECT_FALSE((RepoPath() / "packs").appending("a/b"));
}

TEST(RepoPathDeathTest, AppendingAnInvalidComponentStopsTheProgram) {
    EXPECT_DEATH({ (void)(RepoPath() / ".."); }, "invalid component");
}

}  // namespace
}  // namespace wm
