// Verification of packs: presence, sampling, reasons, streaming checks; what damaged packs cost:
// snapshots, files and folders that lose data.
#include <limits>

#include <gtest/gtest.h>

#include "engine/DamageAttribution.h"
#include "engine/Verification.h"
#include "format/RepositoryLayout.h"
#include "support/EngineTestSupport.h"

namespace wm::test {
namespace {

using Verification::Depth;

class Verifying : public FaultyRepositoryTest {
protected:
    // One pack per commit.
    void commitPacks(int count) {
        for (int i = 0; i < count; ++i)
            commitTree(*repository, {Node::file("file" + std::to_string(i), {randomBytes(1000 + 10 * i, 100 + i)})});
    }
};

TEST(VerificationSampling, PacksToReadTable) {
    const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
    // Fraction, packs that can be checked, packs read.
    const std::tuple<double, std::size_t, std::size_t> rows[] = {
        {0.05, 100, 5}, {0.05, 10, 1}, {0.05, 0, 0}, {0, 3, 1}, {0.5, 3, 2}, {-0.5, 4, 1}, {nan, 4, 1}, {inf, 4, 4}};
    for (const auto& [fraction, checkable, read] : rows)
        EXPECT_EQ(Verification::packsToRead(Depth::sampling(fraction), checkable), read)
            << fraction << " of " << checkable;
    EXPECT_EQ(Verification::packsToRead(Depth::deep(), 12), 12u);
}

// A sample, however healthy, is not a full verification.
TEST_F(Verifying, OnlyTheDeepCheckVerifiesFully) {
    commitPacks(3);
    EXPECT_FALSE(verify(*repository, Depth::sampling(0.5), fixedNow()).isFullyVerified());
    EXPECT_TRUE(verify(*repository, Depth::deep(), fixedNow()).isFullyVerified());
}

TEST_F(Verifying, EveryKindOfDamageWithItsReason) {
    commitPacks(10);
    const auto set = repository->withIndex([](const CompactIndex& index) { return index.packs(); });
    std::vector<PackID> packs(set.begin(), set.end());
    std::sort(packs.begin(), packs.end());
    const auto at = [&](std::size_t i) { return RepositoryLayout::pack(packs[i]); };
    std::uint64_t expectedBytes = 19 + 100;  // the two cut short, then the three left whole
    for (std::size_t i : {4, 8, 9}) expectedBytes += static_cast<std::uint64_t>(memory->size(at(i)).value());

    for (std::size_t i = 0; i < 3; ++i) memory->remove(at(i));
    memory->put(at(3), ByteView(memory->read(at(3))).first(19));
    Bytes flipped = memory->read(at(4));
    flipped[flipped.size() / 2] ^= 0x10;
    memory->put(at(4), flipped);
    memory->put(at(5), ByteView(memory->read(at(5))).first(100));
    const DestinationError readFailure = DestinationError::ioFailed(at(6), "EIO");
    faulty->failCalls(at(6).string(), readFailure,
                      {FaultyDestination::Operation::readInto, FaultyDestination::Operation::read});
    // In the wrong fan-out folder: listed, then not found where it belongs.
    memory->put(RepositoryLayout::packsDirectory() / "zz" / (packs[7].hex() + ".pack"), memory->read(at(7)));
    memory->remove(at(7));
    // Stray files and unknown packs are passed over; a plain file in "packs" is no unreadable drive.
    for (const std::string& path : {std::string("packs/.DS_Store"), std::string("packs/ab/abc.pack"),
                                    "packs/ab/" + std::string(64, 'a') + ".pack.partial"})
        memory->put(*RepoPath::parse(path), "x");
    memory->put(RepositoryLayout::pack(PackID{}), "an unknown pack");

    const auto report = verify(*repository, Depth::deep(), fixedNow());
    EXPECT_EQ(report.packsChecked, 10);
    EXPECT_EQ(report.bytesRead, expectedBytes);
    ASSERT_EQ(report.damaged.size(), 8u);
    std::map<PackID, std::string> reasons;
    for (const auto& damage : report.damaged) reasons[damage.pack] = damage.reason;
    const std::string missing = "it is missing", changed = "its contents no longer match its name";
    EXPECT_EQ(report.damaged[2].reason, missing);  // missing ones come first
    const std::string expected[] = {
        missing, missing, missing, "it is shorter than a pack can be", changed, changed, readFailure.what(), missing};
    for (std::size_t i = 0; i < 8; ++i) EXPECT_EQ(reasons[packs[i]], expected[i]) << i;
    // Each pack held one snapshot's file and root tree: what it costs is attributed.
    EXPECT_EQ(report.damaged[0].unreachableSubtrees, std::vector<std::string>{"everything in this snapshot"});
}

Verification::Damage damageOf(const PackID& pack) { return {pack, "it is damaged", {}, {}, 0, {}}; }

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
