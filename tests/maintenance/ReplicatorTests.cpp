// Copies: replication from nothing and again, refusals before any write, rejected packs,
// a copy ahead of its source, backups made into a copy, stops at every write; repair from a
// copy; damaged shared trees and repeated listings read once; a copy's status.
#include <algorithm>
#include <numeric>

#include <gtest/gtest.h>

#include "core/Hex.h"

#include "MaintenanceFixture.h"
#include "engine/HoldRecord.h"
#include "engine/KeyFiles.h"
#include "engine/RetentionRecord.h"
#include "format/IndexFile.h"
#include "format/RepositoryLayout.h"
#include "format/SignedFile.h"
#include "maintenance/Pruner.h"
#include "maintenance/ReplicaStateRecord.h"
#include "maintenance/Replicator.h"

namespace wm::test {
namespace {

ReplicationReport replicate(Fixture& f, Destination& target) {
    return Replicator().replicate(*f.repository, target, f.keys);
}
// A copy made by one replication.
std::shared_ptr<InMemoryDestination> replicated(Fixture& f) {
    auto copy = std::make_shared<InMemoryDestination>();
    replicate(f, *copy);
    return copy;
}
std::string packPath(const PackID& pack) { return RepositoryLayout::pack(pack).string(); }

// Whole or ranged reads of one file in the destination's log.
std::size_t readsOf(const FaultyDestination& destination, const RepoPath& path) {
    const auto calls = destination.calls();
    return static_cast<std::size_t>(std::count_if(calls.begin(), calls.end(), [&](const auto& call) {
        return call.operation == FaultyDestination::Operation::read && call.path == path;
    }));
}

TEST(Replicator, CopiesEverythingThenOnlyWhatIsNew) {
    Fixture f;
    addHold(*f.repository, RetentionHold{HoldID::random(), HoldReason::anomalyDetected(), day(1), day(1), {}});
    setRetentionPolicy(*f.repository, RetentionPolicy::lastN(5));
    f.memory->put(*RepoPath::parse("holds/forged.hold"), randomBytes(100, 5));
    const auto misfiled = RepositoryLayout::pack(f.packs[1]);  // copied from another fan-out folder to its own
    f.memory->put(*RepoPath::parse("packs/zz/" + misfiled.fileName()), f.memory->files().at(misfiled.string()));
    f.memory->remove(misfiled);

    InMemoryDestination target;
    const auto first = replicate(f, target);
    EXPECT_EQ(std::tuple(first.isCurrent, first.packsCopied), std::tuple(true, 3));
    const auto files = target.files();
    EXPECT_EQ(files.at("refs/head"), f.memory->files().at("refs/head"));
    EXPECT_EQ(files.count(misfiled.string()) + files.count("refs/retention"), 2u);
    EXPECT_EQ(filesUnder(target, "holds").size(), 1u);  // not the forged one
    const auto state = SignedFile::open<ReplicaStateRecord>(
        files.at(RepositoryLayout::replicaState(target.id()).string()), f.keys, f.repository->cipher());
    EXPECT_EQ(state.holdsSnapshots, f.repository->head().snapshots);
    EXPECT_EQ(state.holdsPacksDigest, Replicator::digest({f.packs.begin(), f.packs.end()}));

    const auto later = commitFile(*f.repository, {randomBytes(900, 7)}, "later", day(5));
    const auto second = replicate(f, target);
    EXPECT_EQ(std::tuple(second.packsCopied, second.packsAlreadyPresent), std::tuple(1, 3));
    EXPECT_EQ(expectSound(copyOf(target), f.keys, "copy").back(), later);

    Fixture firstFormat(1);  // blobs sealed without a stored nonce read back from the copy too
    InMemoryDestination firstFormatCopy;
    EXPECT_TRUE(replicate(firstFormat, firstFormatCopy).isCurrent);
}

TEST(Replicator, RefusesBeforeWritingAnything) {
    const Fixture other;
    enum Refusal { foreignTarget, configMissing, foreignKeys, headUnreadable };
    for (const Refusal refusal : {foreignTarget, configMissing, foreignKeys, headUnreadable}) {
        Fixture source;
        auto target = std::make_shared<InMemoryDestination>();
        if (refusal == foreignTarget || refusal == configMissing) target = copyOf(*other.memory);
        if (refusal == configMissing) target->remove(RepositoryLayout::configFile());
        if (refusal == headUnreadable) source.memory->put(RepositoryLayout::head(), randomBytes(200, 3));
        const auto before = target->files();
        FaultyDestination watched(target);
        const auto& keys = refusal == foreignKeys ? other.keys : source.keys;
        EXPECT_ANY_THROW(Replicator().replicate(*source.repository, watched, keys)) << refusal;
        EXPECT_EQ(watched.mutatingCallCount(), 0) << refusal;
        EXPECT_EQ(target->files(), before) << refusal;
    }
}

TEST(Replicator, HeadStaysWhenAPackIsRejectedOrTheCopyIsAhead) {
    Fixture f;
    auto memory = std::make_shared<InMemoryDestination>();
    FaultyDestination target(memory);
    target.flipBitOnRead("packs/*/" + f.packs[0].hex() + ".pack", 800);
    const auto rejected = replicate(f, target);
    EXPECT_EQ(std::pair(rejected.failedObjects, rejected.isCurrent), std::pair(std::vector{f.packs[0]}, false));
    EXPECT_TRUE(openRepository(memory, f.keys).repository->snapshotIDs().empty());

    target.clearFaults();
    const Bytes older = f.memory->files().at("refs/head");
    commitFile(*f.repository, {randomBytes(50, 8)}, "later", day(6));
    EXPECT_TRUE(replicate(f, target).isCurrent);
    // A copy whose head moved on past the source's (put back to an older head) keeps it, and
    // is not current.
    f.memory->put(RepositoryLayout::head(), older);
    const Bytes ahead = memory->files().at("refs/head");
    EXPECT_FALSE(replicate(f, target).isCurrent);
    EXPECT_EQ(memory->files().at("refs/head"), ahead);
    // The snapshot a replication put there stays vouched for: the next run does not take it for
    // a backup made into the copy.
    EXPECT_TRUE(replicate(f, target).madeIntoCopy.empty());
}

// A backup made into the copy, at an equal or a lower source counter, leaves the copy exactly
// as it was: the source's head would take it out of the copy's list. It is named by its record,
// or by its identity alone where that record is gone.
TEST(Replicator, LeavesACopyWithABackupMadeIntoIt) {
    enum Case { equalCounters, sourceBehind, recordGone };
    for (const Case c : {equalCounters, sourceBehind, recordGone}) {
        Fixture f;
        auto copy = replicated(f);
        if (c != sourceBehind) commitFile(*f.repository, {randomBytes(900, 7)}, "later", day(5));
        const auto made =
            commitFile(*openRepository(copy, f.keys).repository, {randomBytes(50, 8)}, "only on the copy", day(6));
        ReplicationReport::CopyOnlyBackup named{made, day(6), "test device"};
        if (c == recordGone) {
            copy->remove(RepositoryLayout::snapshot(made));
            named = {made, std::nullopt, ""};
        }
        const auto before = copy->files();
        FaultyDestination watched(copy);
        const auto report = replicate(f, watched);
        EXPECT_EQ(std::tuple(report.isCurrent, report.madeIntoCopy), std::tuple(false, std::vector{named})) << c;
        EXPECT_EQ(watched.mutatingCallCount(), 0) << c;
        EXPECT_EQ(copy->files(), before) << c;
    }
}

// Snapshots a replica state lists and the source no longer does were pruned at the source: they
// leave the copy's list, and only a backup made into the copy is kept back.
TEST(Replicator, FollowsSnapshotsPrunedAtTheSource) {
    Fixture f;
    auto copy = replicated(f);
    Pruner().mark(*f.repository, RetentionPolicy::lastN(1), {}, day(2));
    Pruner().sweep(*f.repository, {}, {}, day(10));
    auto backedUpInto = copyOf(*copy);
    const auto made =
        commitFile(*openRepository(backedUpInto, f.keys).repository, {randomBytes(50, 8)}, "made", day(6));
    const auto kept = replicate(f, *backedUpInto).madeIntoCopy;
    EXPECT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept.at(0).id, made);

    const auto report = replicate(f, *copy);
    EXPECT_TRUE(report.isCurrent && report.madeIntoCopy.empty());
    EXPECT_EQ(expectSound(copy, f.keys, "pruned at the source"), std::vector{f.snapshots[2]});
}

// A copy's file that is there by name but does not open is written again; a key file that
// merely differs stays; what a failed run left in tmp goes, and nothing else there.
TEST(Replicator, RewritesWhatTheCopyHoldsOnlyByName) {
    Fixture f, other;
    f.repository->keyFiles().addRecoveryKey(std::nullopt);
    other.repository->keyFiles().addRecoveryKey(std::nullopt);
    auto copy = replicated(f);
    const auto key = filesUnder(*f.memory, "keys").front();
    const auto otherKey = other.memory->files().at(filesUnder(*other.memory, "keys").front());
    const std::vector<std::tuple<std::string, Bytes, bool>> cases = {
        {filesUnder(*f.memory, "index").front(), randomBytes(300, 1), true},
        {RepositoryLayout::snapshot(f.snapshots[1]).string(), randomBytes(300, 2), true},
        {key, randomBytes(300, 3), true},
        {key, otherKey, false},
    };
    for (const auto& [path, bytes, rewritten] : cases) {
        copy->put(*RepoPath::parse(path), bytes);
        copy->put(*RepoPath::parse("tmp/0123456789abcdef0123456789abcdef"), randomBytes(10, 4));
        copy->put(*RepoPath::parse("tmp/leftover"), randomBytes(10, 4));
        copy->put(*RepoPath::parse("tmp/fedcba9876543210fedcba9876543210/inside"), randomBytes(10, 4));
        EXPECT_EQ(replicate(f, *copy).isCurrent, true) << path;
        EXPECT_EQ(copy->files().at(path), rewritten ? f.memory->files().at(path) : bytes) << path;
        EXPECT_EQ(filesUnder(*copy, "tmp"),
                  (std::vector<std::string>{"tmp/fedcba9876543210fedcba9876543210/inside", "tmp/leftover"}));
    }
}

// A sweep of the source run between any two writes of a replication, and a replication run
// between any two writes of a sweep: the copy's head lists only snapshots it holds whole, the
// source stays sound, and the next replication brings the copy up to date.
TEST(Replicator, SweepAndReplicationInterleavedAnywhereLeaveBothSound) {
    for (const bool sweepInside : {true, false}) {
        std::int64_t writes = 0;
        for (std::int64_t n = 0; n <= writes; ++n) {
            Fixture f;
            Pruner().mark(*f.repository, RetentionPolicy::lastN(1), {}, day(2));
            auto copy = std::make_shared<InMemoryDestination>();
            FaultyDestination outer(sweepInside ? std::shared_ptr<Destination>(copy) : f.memory);
            const auto sweep = [&](Repository& repository) { Pruner().sweep(repository, {}, {}, day(10)); };
            const auto inner = [&] { sweepInside ? sweep(*f.repository) : void(replicate(f, *copy)); };
            if (n > 0) outer.pauseAtMutation(n, inner);
            try {
                if (sweepInside)
                    replicate(f, outer);
                else
                    sweep(
                        *openRepository(std::shared_ptr<Destination>(&outer, [](Destination*) {}), f.keys).repository);
            } catch (const DestinationError&) {
                // A pack the sweep took was still to be read.
            }
            if (n == 0) {  // the other after the last write
                writes = outer.mutatingCallCount();
                inner();
            }
            const std::string context =
                (sweepInside ? "sweep before write " : "replication before write ") + std::to_string(n);
            expectSound(f.memory, f.keys, context);
            const auto listed = expectSound(copy, f.keys, context);
            EXPECT_TRUE(listed.empty() || listed == f.snapshots || listed == std::vector{f.snapshots[2]}) << context;
            const auto reopened = openRepository(f.memory, f.keys).repository;
            EXPECT_TRUE(Replicator().replicate(*reopened, *copy, f.keys).isCurrent) << context;
            EXPECT_EQ(expectSound(copy, f.keys, context), std::vector{f.snapshots[2]}) << context;
        }
    }
}

// A source pack that no longer validates is not reported as copied: the copy lacks its blobs,
// unless it already holds that pack whole from an earlier run.
TEST(Replicator, ADamagedSourcePackMissingFromTheCopyIsNotCurrent) {
    for (const bool copiedBefore : {false, true}) {
        Fixture f;
        InMemoryDestination target;
        if (copiedBefore) replicate(f, target);
        Bytes bytes = f.memory->files().at(packPath(f.packs[0]));
        bytes[bytes.size() / 2] ^= 0x10;
        f.memory->put(RepositoryLayout::pack(f.packs[0]), bytes);
        EXPECT_EQ(replicate(f, target).isCurrent, copiedBefore) << copiedBefore;
    }
}

// A stop at every write of a refresh: files present before stay, the copy opens whole, and
// the next run ends as one uninterrupted run does.
TEST(Replicator, RefreshStoppedAnywhereKeepsTheCopySound) {
    Fixture f;
    InMemoryDestination start;
    replicate(f, start);
    commitFile(*f.repository, {randomBytes(900, 7)}, "later", day(5));
    auto reference = copyOf(start);
    FaultyDestination counting(reference);
    replicate(f, counting);
    const std::int64_t mutations = counting.mutatingCallCount();
    ASSERT_GE(mutations, 10);
    for (std::int64_t n = 1; n < mutations; ++n) {
        const std::string context = "crash at mutation " + std::to_string(n);
        auto copy = copyOf(start);
        FaultyDestination crashing(copy);
        crashing.crashAtMutation(n);
        EXPECT_THROW(replicate(f, crashing), SimulatedCrash) << context;
        for (const auto& [path, bytes] : start.files()) EXPECT_EQ(copy->files().count(path), 1u) << context << path;
        expectSound(copy, f.keys, context);
        EXPECT_TRUE(replicate(f, *copy).isCurrent) << context;
        EXPECT_EQ(filesUnder(*copy, "packs"), filesUnder(*reference, "packs")) << context;
        EXPECT_EQ(copy->files().at("refs/head"), reference->files().at("refs/head")) << context;
    }
}

TEST(Replicator, RepairTakesOnlyExactCopies) {
    Fixture f;
    auto copy = replicated(f);
    const Bytes good = copy->files().at(packPath(f.packs[0]));
    f.memory->put(RepositoryLayout::pack(f.packs[0]), randomBytes(good.size(), 1));  // damaged on the primary
    copy->put(RepositoryLayout::pack(f.packs[1]), randomBytes(300, 2));              // damaged on the copy too
    copy->remove(RepositoryLayout::pack(f.packs[2]));                                // missing on the copy
    auto expected = f.memory->files();
    expected[packPath(f.packs[0])] = good;

    const auto result = Replicator().repair({f.packs[0], f.packs[1], f.packs[2]}, *copy, *f.memory, f.keys);
    EXPECT_EQ(result.repaired, std::vector{f.packs[0]});
    EXPECT_EQ(result.refused, (std::vector{f.packs[1], f.packs[2]}));
    EXPECT_EQ(f.memory->files(), expected);

    // Stopped at any write, a repair leaves the damaged file or the sound one, never less.
    for (std::int64_t n = 1; n <= 3; ++n) {
        auto primary = copyOf(*f.memory);
        primary->put(RepositoryLayout::pack(f.packs[0]), randomBytes(good.size(), 1));
        FaultyDestination crashing(primary);
        crashing.crashAtMutation(n);
        EXPECT_THROW(Replicator().repair({f.packs[0]}, *copy, crashing, f.keys), SimulatedCrash);
        EXPECT_EQ(filesOutside(*primary, {"tmp"}).size(), filesOutside(*f.memory, {"tmp"}).size()) << n;
        EXPECT_EQ(Replicator().repair({f.packs[0]}, *copy, *primary, f.keys).repaired.size(), 1u) << n;
        EXPECT_EQ(primary->files().at(packPath(f.packs[0])), good) << n;
    }
}

// Repair finds what the listed snapshots need, also where the index no longer names the pack,
// and indexes what it fetched; what not even the copy holds is left unreadable and said so.
TEST(Replicator, RepairFindsWhatTheSnapshotsNeed) {
    enum Loss { packAndItsIndexFile, damagedPack, goneFromTheCopyToo };
    for (const Loss loss : {packAndItsIndexFile, damagedPack, goneFromTheCopyToo}) {
        Fixture f;
        auto copy = replicated(f);
        const auto lost = RepositoryLayout::pack(f.packs[1]);
        if (loss == damagedPack)
            f.memory->put(lost, randomBytes(300, 1));
        else
            f.memory->remove(lost);
        if (loss == goneFromTheCopyToo) copy->remove(lost);
        for (const auto& path : filesUnder(*f.memory, "index")) {
            const auto body = IndexFile::decode(f.repository->cipher().openMetadata(f.memory->files().at(path)));
            if (loss == packAndItsIndexFile && body.front().pack == f.packs[1])
                f.memory->remove(*RepoPath::parse(path));
        }
        auto repository = openRepository(f.memory, f.keys).repository;
        const auto plan = Replicator::planRepair(*repository, *copy, f.keys);
        EXPECT_EQ(plan.packs, std::vector{f.packs[1]}) << loss;
        auto fetched = Replicator().repair(plan.packs, *copy, *f.memory, f.keys).repaired;
        fetched.insert(fetched.end(), plan.indexAgain.begin(), plan.indexAgain.end());
        const auto unreadable = Replicator::indexAgain(*repository, fetched);
        EXPECT_EQ(unreadable, loss == goneFromTheCopyToo ? std::vector{f.snapshots[1]} : std::vector<SnapshotID>{});
        if (loss != goneFromTheCopyToo) {
            EXPECT_EQ(expectSound(f.memory, f.keys, "repaired").size(), 3u) << loss;
        }
    }
}

// Levels of two folders naming one tree, above a file whose content is gone or whose own tree
// does not read: the walk reads the bottom tree once (4,096 paths lead to it), and a later
// snapshot naming the damaged trees is not whole; the sound snapshots stay whole.
TEST(Replicator, ADamagedTreeSharedByManyFoldersIsReadOnce) {
    for (const bool unreadableTree : {false, true}) {
        Fixture f;
        Repository& repository = *f.repository;
        const auto store = [&](std::vector<TreeObject::Entry> entries) {
            return repository.store(TreeObject::encode(entries), BlobType::tree).id;
        };
        const auto entry = [](Node node, std::optional<BlobID> tree, std::optional<std::vector<BlobID>> content) {
            std::tie(node.entry.childTree, node.entry.contentBlobs) = std::pair(tree, std::move(content));
            return node.entry;
        };
        BlobID content;
        content.bytes.fill(0x5A);  // never stored
        if (unreadableTree) content = repository.store(bytesOf("content"), BlobType::data).id;
        const BlobID bottom = store({entry(Node::file("file"), {}, std::vector{content})});
        const SnapshotID atBottom = commitRoot(repository, bottom, day(3));  // its tree in a pack of its own
        BlobID top = bottom;
        for (int level = 0; level < 12; ++level)
            top = store({entry(Node::folder("a"), top, {}), entry(Node::folder("b"), top, {})});
        const std::vector damaged{atBottom, commitRoot(repository, top, day(4)),
                                  commitRoot(repository, store({entry(Node::folder("again"), top, {})}), day(5))};
        const RepoPath bottomPack = RepositoryLayout::pack(packOf(repository, bottom));
        auto memory = std::make_shared<InMemoryDestination>();
        FaultyDestination copy(memory);
        if (unreadableTree)
            copy.failCalls(bottomPack.string(), DestinationError::ioFailed(bottomPack, "EIO"),
                           {FaultyDestination::Operation::read});
        const auto report = replicate(f, copy);
        EXPECT_EQ(std::pair(report.snapshotsNotWhole, report.isCurrent), std::pair(damaged, false)) << unreadableTree;
        EXPECT_EQ(readsOf(copy, bottomPack), 1u) << unreadableTree;
    }
}

// A head that lists each snapshot many times: replication, repair, mark and sweep read each
// record once (the sweep again once it holds the writing guard), and decide as for every
// listing: the copy's head is the source's, and counts and lists hold every listing.
TEST(Replicator, AHeadListingEachSnapshotManyTimesReadsEachRecordOnce) {
    Fixture f;
    auto watched = std::make_shared<FaultyDestination>(f.memory);
    auto repository = openRepository(watched, f.keys).repository;
    std::vector<SnapshotID> listing;
    for (std::size_t i = 0; i < 60; ++i) listing.push_back(f.snapshots[i % 3]);
    repository->setHead(repository->lockWriting(), listing, day(3));
    const auto mostReads = [&](FaultyDestination& destination) {
        std::size_t most = 0;
        for (const auto& id : f.snapshots) most = std::max(most, readsOf(destination, RepositoryLayout::snapshot(id)));
        destination.clearLog();
        return most;
    };

    auto memory = std::make_shared<InMemoryDestination>();
    FaultyDestination copy(memory);
    EXPECT_TRUE(Replicator().replicate(*repository, copy, f.keys).isCurrent);
    EXPECT_EQ(memory->files().at("refs/head"), f.memory->files().at("refs/head"));
    EXPECT_EQ(mostReads(copy), 1u);

    // The oldest snapshot's pack gone: it is not whole at any of its listings.
    auto home = std::make_shared<FaultyDestination>(copyOf(*f.memory));
    home->remove(RepositoryLayout::pack(f.packs[0]));
    auto primary = openRepository(home, f.keys).repository;
    home->clearLog();
    EXPECT_EQ(Replicator::indexAgain(*primary, {}), std::vector(20, f.snapshots[0]));
    EXPECT_EQ(mostReads(*home), 1u);

    watched->clearLog();
    const auto mark = Pruner().mark(*repository, RetentionPolicy::lastN(1), {}, day(4));
    EXPECT_EQ(std::pair(mark.retainedSnapshots, mark.prunableSnapshots), std::pair(std::int64_t{1}, std::int64_t{40}));
    EXPECT_EQ(mostReads(*watched), 1u);
    const auto sweep = Pruner().sweep(*repository, {}, {}, day(12));
    EXPECT_EQ(std::pair(sweep.snapshotsDeleted, sweep.packsDeleted), std::pair(std::int64_t{2}, std::int64_t{3}));
    EXPECT_LE(mostReads(*watched), 2u);
    EXPECT_EQ(repository->snapshotIDs(), std::vector(20, f.snapshots[2]));
}

// The fingerprint of the blobs a mark keeps and of the packs a copy holds: SHA-256 over the
// raw identities in ascending byte order, whatever order the set was built in.
TEST(Replicator, IdentityDigestsGiveTheKnownAnswers) {
    Bytes counting(32);
    std::iota(counting.begin(), counting.end(), std::uint8_t{0});
    std::unordered_set<PackID> packs;
    std::unordered_set<BlobID> blobs;
    for (const Bytes& bytes : {Bytes(32, 0xFF), Bytes(32, 0x01), counting}) {
        packs.insert(*PackID::fromBytes(bytes));
        blobs.insert(*BlobID::fromBytes(bytes));
    }
    const auto known = *Hex::decode("8d06bd67ae15b870334af79cafe75332bec660b9e0fa0621ade38e3dc8a9ce01");
    const auto empty = *Hex::decode("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(std::tuple(Replicator::digest(packs), Pruner::digest(blobs)), std::tuple(known, known));
    EXPECT_EQ(std::tuple(Replicator::digest({}), Pruner::digest({})), std::tuple(empty, empty));
}

TEST(Replicator, StatusOfADestination) {
    Fixture f, other;
    auto behind = replicated(f);
    commitFile(*f.repository, {randomBytes(900, 7)}, "later", day(5));
    auto ahead = copyOf(*behind);
    replicate(f, *ahead);
    commitFile(*openRepository(ahead, f.keys).repository, {randomBytes(50, 8)}, "only on the copy", day(6));
    auto away = std::make_shared<InMemoryDestination>();
    away->setAvailability(Availability::unreachable("gone"));
    auto configLost = copyOf(*behind);  // refused by replication, yet holds no repository to compare
    configLost->remove(RepositoryLayout::configFile());
    std::int64_t pending = 0;  // the new snapshot's pack
    for (const auto& p : filesUnder(*f.memory, "packs"))
        if (behind->files().count(p) == 0 && p != packPath(f.orphan)) pending += std::ssize(f.memory->files().at(p));

    const std::vector<std::pair<std::shared_ptr<InMemoryDestination>, DestinationStatus>> cases = {
        {std::make_shared<InMemoryDestination>(), DestinationStatus::empty()},
        {other.memory, DestinationStatus::foreignRepository(other.keys.repositoryID)},
        {behind, DestinationStatus::behind(1, pending, f.repository->snapshot(f.snapshots[2]).createdAt)},
        {ahead, DestinationStatus::ahead(1)},
        {away, DestinationStatus::notReachable("not connected")},
        {configLost, DestinationStatus::empty()},
    };
    for (const auto& [destination, expected] : cases)
        EXPECT_EQ(Replicator().inspect(*destination, *f.repository, f.keys), expected)
            << static_cast<int>(expected.kind);
    // The primary's own failure is never the copy's being empty or away.
    f.memory->setAvailability(Availability::unreachable("gone"));
    EXPECT_EQ(Replicator().inspect(*behind, *f.repository, f.keys).kind, DestinationStatus::Kind::unreadable);
}

}  // namespace
}  // namespace wm::test
