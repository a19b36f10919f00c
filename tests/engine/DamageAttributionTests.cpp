// What damaged packs cost: snapshots, files and folders that lose data.
#include <gtest/gtest.h>

#include "SnapshotBrowserFixture.h"
#include "engine/DamageAttribution.h"
#include "format/RepositoryLayout.h"

namespace wm::test {
namespace {

using Verification::Damage;

// Built in two steps: GCC 12 misreads the one-line form.
std::string numbered(const char* prefix, int n) {
    std::string text = prefix;
    text += std::to_string(n);
    return text;
}

Damage damageOf(const PackID& pack) { return Damage{pack, "it is damaged", {}, {}, 0, {}}; }

class Attribution : public FaultyRepositoryTest {
protected:
    // Every read of the blob's pack sees one bit of the blob flipped.
    void spoil(const BlobID& blob) {
        const auto location = repository->withIndex([&](const CompactIndex& index) { return index.location(blob); });
        ASSERT_TRUE(location);
        faulty->flipBitOnRead(RepositoryLayout::pack(location->pack).string(),
                              static_cast<std::int64_t>(location->entry.offset + location->entry.length / 2) * 8);
    }
};

TEST_F(Attribution, PackThatNoSnapshotReachesKeepsEmptyLists) {
    const auto s1 = commitTree(*repository, {Node::file("a", {bytesOf("a")})});
    // The second commit's pack holds only a blob that no snapshot uses: the tree is reused.
    const auto orphan = repository->store(bytesOf("orphan"), BlobType::data);
    commitRoot(*repository, rootOf(*repository, s1));
    const std::vector<Damage> records = {damageOf(packOf(*repository, orphan.id))};
    EXPECT_EQ(attributeDamage(*repository, records), records);
}

TEST_F(Attribution, FileInTwoDamagedPacksCountsUnderItsFirstLostBlob) {
    const Bytes first = randomBytes(300, 1), second = randomBytes(300, 2);
    const auto s1 = commitTree(*repository, {Node::file("x", {first})});
    const auto s2 = commitTree(*repository, {Node::file("y", {first, second}), Node::file("z", {second, first})});
    const BlobID root2 = rootOf(*repository, s2);
    const PackID p1 = packOf(*repository, contentOf(*repository, rootOf(*repository, s1), "x")[0]);
    const PackID p2 = packOf(*repository, contentOf(*repository, root2, "y")[1]);
    ASSERT_NE(p1, p2);

    const auto result = attributeDamage(*repository, {damageOf(p2), damageOf(p1)});
    ASSERT_EQ(result.size(), 2u);
    EXPECT_EQ(result[0].pack, p2);  // the order handed in
    EXPECT_EQ(result[0].affectedFiles, std::vector<std::string>{"z"});
    EXPECT_EQ(result[0].affectedSnapshots, std::vector<SnapshotID>{s2});
    EXPECT_EQ(result[1].pack, p1);
    EXPECT_EQ(result[1].affectedFiles, (std::vector<std::string>{"x", "y"}));
    EXPECT_EQ(result[1].affectedSnapshots, (std::vector<SnapshotID>{s1, s2}));
}

// An unreadable folder is named wherever a snapshot holds it; the files beside it are listed.
TEST_F(Attribution, UnreadableFolderIsNamedWhereverItIs) {
    const std::vector<Node> year = {Node::file("beach.jpg", {bytesOf("b")})};
    const auto s1 = commitTree(*repository, {Node::folder("Photos", {Node::folder("2019", year),
                                                                     Node::file("cat.png", {bytesOf("c")})}),
                                             Node::file("notes.txt", {bytesOf("n")})});
    const auto s2 = commitTree(*repository, {Node::folder("Archive", {Node::folder("2019", year)}),
                                             Node::folder("Again", {Node::folder("2019", year)})});
    const BlobID tree = treeOf(*repository, rootOf(*repository, s1), "Photos/2019");
    spoil(tree);
    const auto result = attributeDamage(*repository, {damageOf(packOf(*repository, tree))});
    EXPECT_EQ(result[0].unreachableSubtrees,
              (std::vector<std::string>{"everything inside Photos/2019", "everything inside Archive/2019",
                                        "everything inside Again/2019"}));
    EXPECT_EQ(result[0].affectedFiles, (std::vector<std::string>{"Photos/cat.png", "notes.txt"}));
    EXPECT_EQ(result[0].affectedSnapshots, (std::vector<SnapshotID>{s1, s2}));
}

TEST_F(Attribution, EachTreeIsReadOnceHoweverManySnapshotsShareIt) {
    std::vector<Node> folders;
    for (int f = 0; f < 4; ++f) {
        std::vector<Node> files;
        for (int i = 0; i < 5; ++i) files.push_back(Node::file(numbered("f", i), {randomBytes(64, static_cast<std::uint64_t>(f * 10 + i))}));
        folders.push_back(Node::folder(numbered("d", f), files));
    }
    const BlobID shared = storeTree(*repository, folders);
    std::vector<SnapshotID> snapshots;
    for (int k = 0; k < 6; ++k) snapshots.push_back(commitRoot(*repository, shared));
    snapshots.push_back(commitTree(*repository, {Node::folder("copy", folders)}));
    const PackID pack = packOf(*repository, shared);

    faulty->clearLog();
    const auto result = attributeDamage(*repository, {damageOf(pack)});
    // 5 trees under the shared root (itself and 4 folders) and the last snapshot's root.
    EXPECT_EQ(packReads(*faulty), 6u);
    EXPECT_EQ(result[0].affectedFileCount, 7 * 20);
    EXPECT_EQ(result[0].affectedSnapshots, snapshots);
    ASSERT_EQ(result[0].affectedFiles.size(), 20u);
    EXPECT_EQ(result[0].affectedFiles.front(), "d0/f0");
    EXPECT_EQ(result[0].affectedFiles[19], "d3/f4");
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
