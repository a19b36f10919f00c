// Comparing two backups file by file and planning repairs from another copy.
#include <gtest/gtest.h>

#include "policy/SelfHealing.h"
#include "policy/SnapshotComparison.h"

namespace {

using namespace wm;

TEST(SnapshotComparison, RemovedThenModifiedThenAddedInFileBrowserOrder) {
    using Kind = SnapshotComparison::Change::Kind;
    const std::string composed = "caf\xc3\xa9", decomposed = "cafe\xcc\x81";
    const auto list = SnapshotComparison::changes(
        {{"b.txt", "1"}, {"docs/a.txt", "1"}, {"same", "x"}, {composed, composed}, {"nfc/" + composed, "1"}},
        {{"a.txt", "2"}, {"docs/a.txt", "2"}, {"same", "x"}, {composed, decomposed}, {"nfc/" + decomposed, "1"},
         {"file10", "3"}, {"a//file2/", "3"}, {"File3", "3"}, {"/", "3"}},
        {{"b.txt", 7}, {"docs/a.txt", 9}, {"a//file2/", 4}});
    std::vector<std::string> ids;
    for (const auto& change : list) ids.push_back(change.id());
    EXPECT_EQ(ids, (std::vector<std::string>{"b.txtremoved", "docs/a.txtmodified", "added", "a.txtadded",
                                             "a/file2added", "File3added", "file10added"}));
    EXPECT_EQ(list[0], (SnapshotComparison::Change{{"b.txt"}, Kind::removed, 7}));
    EXPECT_EQ(list[4], (SnapshotComparison::Change{{"a", "file2"}, Kind::added, 4}));
    EXPECT_EQ(list[3].size, 0u);
    EXPECT_TRUE(SnapshotComparison::changes({{"a", "1"}}, {{"a", "1"}}, {}).empty());
}

TEST(SelfHealing, SplitsDamageIntoRepairableAndLost) {
    const std::string composed = "caf\xc3\xa9", decomposed = "cafe\xcc\x81";
    EXPECT_EQ(SelfHealing::plan({"b", "a", "B", decomposed, "x"}, {"a", "b", "B", "c", composed}, "Office"),
              (SelfHealing::Plan{{"B", "a", "b", decomposed}, {"x"}, "Office"}));
    EXPECT_FALSE(SelfHealing::plan({"x"}, {}, "Office").canRepair());
    EXPECT_EQ(SelfHealing::plan({}, {"a"}, "Office"), (SelfHealing::Plan{{}, {}, "Office"}));
}

}  // namespace
