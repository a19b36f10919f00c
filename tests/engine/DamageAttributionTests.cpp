// What damaged packs cost: snapshots, files and folders that lose data.
#include <gtest/gtest.h>

#include "SnapshotBrowserFixture.h"
#include "engine/DamageAttribution.h"
#include "format/RepositoryLayout.h"

namespace wm::test {
namespace {

using Verification::Damage;

Damage damageOf(const PackID& pack) { return Damage{pack, "it is damaged", {}, {}, 0, {}}; }

using Attribution = FaultyRepositoryTest;

// An unreadable folder is named wherever a snapshot holds it; the files beside it are listed.
TEST_F(Attribution, UnreadableFolderIsNamedWhereverItIs) {
    const std::vector<Node> year = {Node::file("beach.jpg", {bytesOf("b")})};
    const auto s1 = commitTree(
        *repository, {Node::folder("Photos", {Node::folder("2019", year), Node::file("cat.png", {bytesOf("c")})}),
                      Node::file("notes.txt", {bytesOf("n")})});
    const auto s2 = commitTree(*repository, {Node::folder("Archive", {Node::folder("2019", year)}),
                                             Node::folder("Again", {Node::folder("2019", year)})});
    const BlobID tree = treeOf(*repository, rootOf(*repository, s1), "Photos/2019");
    const auto at = repository->withIndex([&](const CompactIndex& index) { return index.location(tree); }).value();
    faulty->flipBitOnRead(RepositoryLayout::pack(at.pack).string(),
                          static_cast<std::int64_t>(at.entry.offset + at.entry.length / 2) * 8);  // every read of it
    const auto result = attributeDamage(*repository, {damageOf(packOf(*repository, tree))});
    EXPECT_EQ(result[0].unreachableSubtrees,
              (std::vector<std::string>{"everything inside Photos/2019", "everything inside Archive/2019",
                                        "everything inside Again/2019"}));
    EXPECT_EQ(result[0].affectedFiles, (std::vector<std::string>{"Photos/cat.png", "notes.txt"}));
    EXPECT_EQ(result[0].affectedSnapshots, (std::vector<SnapshotID>{s1, s2}));
}

TEST_F(Attribution, UnreadableSnapshotRecordsAreSkipped) {
    const auto s1 = commitTree(*repository, {Node::file("a", {bytesOf("a")})});
    const auto s2 = commitTree(*repository, {Node::file("b", {bytesOf("a")})});
    Bytes record = memory->read(RepositoryLayout::snapshot(s1));
    record[record.size() - 1] ^= 1;  // the signature fails
    memory->put(RepositoryLayout::snapshot(s1), record);
    const BlobID blob = contentOf(*repository, rootOf(*repository, s2), "b")[0];
    const auto result = attributeDamage(*repository, {damageOf(packOf(*repository, blob))});
    EXPECT_EQ(result[0].affectedSnapshots, std::vector<SnapshotID>{s2});
    EXPECT_EQ(result[0].affectedFiles, std::vector<std::string>{"b"});
}

}  // namespace
}  // namespace wm::test
