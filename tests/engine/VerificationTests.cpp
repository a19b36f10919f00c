// Verification of packs: presence, sampling, reasons, streaming checks; what damaged packs cost:
// snapshots, files and folders that lose data.
#include <functional>
#include <limits>
#include <set>

#include <gtest/gtest.h>

#include "core/Unicode.h"
#include "engine/DamageAttribution.h"
#include "engine/Verification.h"
#include "format/RepositoryLayout.h"
#include "format/TreeObject.h"
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

Verification::Damage damageOf(const PackID& pack) { return {pack, "it is damaged", {}, {}, 0, {}, 0}; }

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

// Attribution as plainly defined: every listing of the head walked on its own, every path
// followed and spelt out. Only for shapes small enough to follow path by path.
std::vector<Verification::Damage> attributedPathByPath(const Repository& repository,
                                                       std::vector<Verification::Damage> damaged) {
    std::map<PackID, Verification::Damage> records;
    for (const auto& damage : damaged) records.insert_or_assign(damage.pack, damage);
    const auto recordOf = [&](const BlobID& blob) -> Verification::Damage* {
        const auto at = repository.withIndex([&](const CompactIndex& index) { return index.location(blob); });
        return at && records.count(at->pack) != 0 ? &records.at(at->pack) : nullptr;
    };
    std::set<SnapshotID> seen;
    for (const SnapshotID& id : repository.snapshotIDs()) {
        const bool firstListing = seen.insert(id).second;
        const auto note = [&](Verification::Damage& damage, bool subtree, const std::string& text) {
            auto& snapshots = damage.affectedSnapshots;
            if (std::find(snapshots.begin(), snapshots.end(), id) == snapshots.end()) snapshots.push_back(id);
            auto& kept = subtree ? damage.unreachableSubtrees : damage.affectedFiles;
            if (!subtree) ++damage.affectedFileCount;
            if (subtree && firstListing) ++damage.unreachableSubtreeCount;  // counted over distinct snapshots
            if (kept.size() < 20 && (!subtree || std::find(kept.begin(), kept.end(), text) == kept.end()))
                kept.push_back(text);
        };
        std::function<void(const BlobID&, const std::string&)> walk = [&](const BlobID& tree, const std::string& at) {
            std::vector<TreeObject::Entry> entries;
            try {
                entries = TreeObject::decode(repository.blob(tree));
            } catch (const std::exception&) {
                if (auto* damage = recordOf(tree))
                    note(*damage, true, at.empty() ? "everything in this snapshot" : "everything inside " + at);
                return;
            }
            for (const auto& entry : entries) {
                const std::string path = (at.empty() ? "" : at + "/") + Unicode::decodeUTF8Repairing(entry.name);
                if (entry.childTree) walk(*entry.childTree, path);
                for (const BlobID& blob : entry.contentBlobs.value_or(std::vector<BlobID>{}))
                    if (auto* damage = recordOf(blob)) {
                        note(*damage, false, path);  // a file counts once, in its first damaged pack
                        break;
                    }
            }
        };
        try {
            if (const auto root = BlobID::fromBytes(repository.snapshot(id).rootTree)) walk(*root, "");
        } catch (const std::exception&) {  // an unreadable record is skipped
        }
    }
    for (auto& damage : damaged) damage = records.at(damage.pack);
    return damaged;
}

// A repository whose every blob lies in a pack of its own, built entry by entry.
struct DamageShape {
    std::shared_ptr<FaultyDestination> faulty =
        std::make_shared<FaultyDestination>(std::make_shared<InMemoryDestination>());
    std::shared_ptr<Repository> repository = createRepository(faulty, makeKeys());
    std::vector<Verification::Damage> damaged;

    DamageShape() { repository->setPackBlobLimitForTesting(1); }

    BlobID content(const std::string& text) { return repository->store(bytesOf(text), BlobType::data).id; }
    BlobID tree(const std::vector<TreeObject::Entry>& entries) {
        return repository->store(TreeObject::encode(entries), BlobType::tree).id;
    }
    static TreeObject::Entry file(const std::string& name, std::vector<BlobID> blobs) {
        TreeObject::Entry entry = Node::rawFile(bytesOf(name)).entry;  // names need not be UTF-8
        entry.contentBlobs = std::move(blobs);
        return entry;
    }
    static TreeObject::Entry folder(const std::string& name, const BlobID& child) {
        TreeObject::Entry entry = Node::folder("").entry;
        std::tie(entry.name, entry.childTree) = std::pair(bytesOf(name), child);
        return entry;
    }
    // Levels of two folders, "a" and "b", naming the level below.
    BlobID levels(BlobID bottom, int count) {
        for (int level = 0; level < count; ++level) bottom = tree({folder("a", bottom), folder("b", bottom)});
        return bottom;
    }
    // Levels above a file "f" of a damaged pack and a folder "u" that cannot be read.
    BlobID levelsAboveLoss(int count) {
        const BlobID lost = content("lost"), u = tree({file("g", {content("g")})});
        damage(lost);
        unreadable(u);
        return levels(tree({file("f", {lost}), folder("u", u)}), count);
    }
    // 25 folders named `name` and a number, whose trees lie in one pack.
    std::vector<TreeObject::Entry> crowded(const std::string& name) {
        std::vector<TreeObject::Entry> folders;
        repository->setPackBlobLimitForTesting(25);
        for (int i = 0; i < 25; ++i)
            folders.push_back(folder(name + std::to_string(i), tree({file(name + std::to_string(i), {})})));
        repository->setPackBlobLimitForTesting(1);
        return folders;
    }
    SnapshotID commit(const BlobID& root) { return commitRoot(*repository, root); }
    void list(const std::vector<SnapshotID>& listing) {
        repository->setHead(repository->lockWriting(), listing, fixedNow());
    }
    void damage(const BlobID& blob, const std::string& reason = "it is damaged") {
        damaged.push_back({packOf(*repository, blob), reason, {}, {}, 0, {}, 0});
    }
    // Every read of the tree's pack fails; the pack is damaged unless said otherwise.
    void unreadable(const BlobID& tree, bool damaged = true) {
        const RepoPath pack = RepositoryLayout::pack(packOf(*repository, tree));
        faulty->failCalls(pack.string(), DestinationError::ioFailed(pack, "EIO"),
                          {FaultyDestination::Operation::read, FaultyDestination::Operation::readInto});
        if (damaged) damage(tree);
    }
};

// Each distinct tree is traced once and paths are counted, not followed; the records come out
// as following every path gives them.
TEST(DamageTracing, AgreesWithFollowingEveryPath) {
    const std::pair<std::string, std::function<void(DamageShape&)>> shapes[] = {
        {"repeated listings, the examples filled across them",
         [](DamageShape& s) {
             std::vector<TreeObject::Entry> first, second;
             for (int i = 0; i < 3; ++i) first.push_back(s.file("f" + std::to_string(i), {s.content("f")}));
             for (int i = 0; i < 4; ++i) second.push_back(s.file("g" + std::to_string(i), {s.content("f")}));
             const BlobID unreadable = s.tree({s.file("h", {s.content("h")})}), lostRoot = s.tree({});
             second.push_back(s.folder("u", unreadable));
             const SnapshotID one = s.commit(s.tree(first)), two = s.commit(s.tree(second)), three = s.commit(lostRoot);
             s.list({one, two, one, two, one, two, one, three, three, two});
             s.damage(s.content("f"));
             s.unreadable(unreadable);
             s.unreadable(lostRoot);
         }},
        {"files of several damaged packs at several depths",
         [](DamageShape& s) {
             const BlobID x1 = s.content("x1"), x2 = s.content("x2"), x3 = s.content("x3"), sound = s.content("s");
             const BlobID deep = s.tree({s.file("c", {sound, x3}), s.file("d", {x2, x1})});
             const BlobID middle = s.tree({s.folder("d3", deep), s.file("b", {x1})});
             const BlobID faulty = s.tree({s.file("e", {x1})});
             const BlobID root = s.tree({s.file("a", {x1}), s.folder("d1", s.tree({s.folder("d2", middle)})),
                                         s.folder("z", faulty), s.file("last", {sound, x2})});
             s.commit(root);
             s.commit(s.tree({s.folder("old", middle), s.file("a", {x1})}));
             s.unreadable(faulty, false);  // in a pack found sound
             s.damage(x1, "first");
             s.damage(x2);
             s.damage(middle);  // damaged where the tree lies, yet it reads
             s.damage(x3);
             s.damage(x1, "again");
             s.damaged.push_back({PackID{}, "it is missing", {}, {}, 0, {}, 0});
         }},
        {"more unreadable folders than are named, one under names that read alike",
         [](DamageShape& s) {
             const auto many = s.crowded("f");
             const BlobID shared = many[0].childTree.value();
             const BlobID alike = s.tree({s.folder("\xFF", shared), s.folder("\xFE", shared),
                                          s.file("\xC0", {s.content("c")}), s.file("\xC1", {s.content("c")})});
             s.commit(s.tree({s.folder("x", alike), s.folder("y", alike)}));
             s.commit(s.tree(many));
             s.commit(s.tree({s.folder("f0", shared), s.folder("x", alike)}));
             s.unreadable(shared);  // and with it every tree of its pack
             s.damage(s.content("c"));
         }},
        {"shared levels above unreadable folders of several packs, one crowded, and a lost file",
         [](DamageShape& s) {
             auto bottom = s.crowded("c");
             s.unreadable(bottom[0].childTree.value());
             for (int i = 0; i < 4; ++i) {
                 bottom.push_back(s.folder("u" + std::to_string(i), s.tree({s.file("u" + std::to_string(i), {})})));
                 s.unreadable(*bottom.back().childTree);
             }
             const BlobID lost = s.content("lost");
             bottom.push_back(s.file("f", {lost}));
             s.damage(lost);
             const BlobID top = s.levels(s.tree(bottom), 3);
             const SnapshotID one = s.commit(top), two = s.commit(s.tree({s.folder("again", top)}));
             // The same levels at a path searched before, with examples of the file still wanted.
             const SnapshotID three = s.commit(s.tree({s.folder("again", top), s.file("x", {})}));
             s.list({one, two, three, one});
         }},
    };
    for (const auto& [name, build] : shapes) {
        DamageShape shape;
        build(shape);
        EXPECT_EQ(attributeDamage(*shape.repository, shape.damaged),
                  attributedPathByPath(*shape.repository, shape.damaged))
            << name;
    }
}

// A tree named through 2^levels paths is read once and its paths counted exactly, saturating
// past the largest count; each distinct record is read once; files count at every listing.
TEST(DamageTracing, SharedLevelsAreReadOnceAndCountedExactly) {
    constexpr auto most = std::numeric_limits<std::int64_t>::max();
    // Levels, files over three listings, unreachable paths.
    for (const auto& [levels, files, subtrees] :
         {std::tuple(24, std::int64_t{3} << 24, std::int64_t{1} << 24), std::tuple(70, most, most)}) {
        DamageShape s;
        const SnapshotID id = s.commit(s.levelsAboveLoss(levels));
        s.list({id, id, id});
        s.faulty->clearLog();
        const auto result = attributeDamage(*s.repository, s.damaged);
        std::size_t recordReads = 0;
        for (const auto& call : s.faulty->calls())
            recordReads += call.path.string().starts_with("snapshots/") &&
                           (call.operation == FaultyDestination::Operation::read ||
                            call.operation == FaultyDestination::Operation::readInto);
        EXPECT_EQ(
            std::tuple(packReads(*s.faulty), recordReads, result[0].affectedFileCount,
                       result[1].unreachableSubtreeCount, result[0].affectedSnapshots, result[1].affectedSnapshots),
            std::tuple(std::size_t(levels + 2), std::size_t{1}, files, subtrees, std::vector{id}, std::vector{id}))
            << levels;
        std::string down = "a";
        for (int level = 1; level < levels; ++level) down += "/a";
        ASSERT_EQ(std::pair(result[0].affectedFiles.size(), result[1].unreachableSubtrees.size()),
                  std::pair(std::size_t{20}, std::size_t{20}));
        EXPECT_EQ(
            std::tuple(result[0].affectedFiles[0], result[1].unreachableSubtrees[0], result[1].unreachableSubtrees[1]),
            std::tuple(down + "/f", "everything inside " + down + "/u",
                       "everything inside " + down.substr(0, down.size() - 1) + "b/u"));
    }
}

// Two names that read alike at every level spell one path text 2^40 times: its phrase is
// looked for below each tree once.
TEST(DamageTracing, PathsThatReadAlikeAreFollowedOnce) {
    DamageShape s;
    const BlobID unreadable = s.tree({s.file("g", {s.content("g")})});
    BlobID top = unreadable;
    std::string path = "everything inside \uFFFD";
    for (int level = 0; level < 40; ++level) top = s.tree({s.folder("\xFF", top), s.folder("\xFE", top)});
    for (int level = 1; level < 40; ++level) path += "/\uFFFD";
    s.commit(top);
    s.unreadable(unreadable);
    const auto result = attributeDamage(*s.repository, s.damaged);
    EXPECT_EQ(std::pair(result[0].unreachableSubtrees, result[0].unreachableSubtreeCount),
              std::pair(std::vector{path}, std::int64_t{1} << 40));
}

}  // namespace
}  // namespace wm::test
