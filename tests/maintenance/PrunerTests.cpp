// Marking and sweeping: exact candidates, the cooling period, what protects a pack or a
// snapshot between the phases, refusals that delete nothing, and stops at every step.
#include <fnmatch.h>

#include <gtest/gtest.h>

#include "MaintenanceFixture.h"
#include "engine/HoldRecord.h"
#include "format/IndexFile.h"
#include "format/SignedFile.h"
#include "maintenance/Pruner.h"
#include "support/RepositoryTestAccess.h"

namespace wm::test {
namespace {

using Operation = FaultyDestination::Operation;

const RetentionPolicy keepNewest = RetentionPolicy::lastN(1);

// The mark lists exactly the unreachable packs and changes nothing outside gc; the sweep waits
// out the cooling period to the second, then deletes them.
TEST(Pruner, MarkThenSweepAfterTheCoolingPeriod) {
    Fixture f;
    const auto before = filesOutside(*f.memory, {"gc"});
    Pruner().mark(*f.repository, keepNewest, {}, day(1));
    const Date marked = day(2).adding(0.000789);                               // a moment between two milliseconds
    const auto report = Pruner().mark(*f.repository, keepNewest, {}, marked);  // replaces the first
    EXPECT_EQ(filesOutside(*f.memory, {"gc"}), before);
    EXPECT_EQ(filesUnder(*f.memory, "gc").size(), 1u);
    EXPECT_EQ(std::tuple(report.retainedSnapshots, report.prunableSnapshots), std::tuple(1, 2));
    const auto mark = *f.repository->latestMark();
    std::set<Bytes> candidates(mark.candidates.begin(), mark.candidates.end());
    EXPECT_EQ(candidates, (std::set<Bytes>{f.packs[0].data(), f.packs[1].data(), f.orphan.data()}));
    const auto early =
        thrown<Pruner::Error>([&] { Pruner().sweep(*f.repository, keepNewest, {}, marked.adding(604799)); });
    EXPECT_EQ(early, Pruner::Error::stillCooling(report.sweepAllowedFrom));

    const auto swept = Pruner().sweep(*f.repository, keepNewest, {}, report.sweepAllowedFrom);
    EXPECT_EQ(std::tuple(swept.packsDeleted, swept.snapshotsDeleted), std::tuple(3, 2));
    EXPECT_EQ(filesUnder(*f.memory, "packs"), std::vector{RepositoryLayout::pack(f.packs[2]).string()});
    EXPECT_TRUE(filesUnder(*f.memory, "gc").empty());
    EXPECT_EQ(expectSound(f.memory, f.keys, "after the sweep"), std::vector{f.snapshots[2]});
    EXPECT_THROW(Pruner().sweep(*f.repository, keepNewest, {}, day(30)), Pruner::Error);  // no mark
}

// What happened between mark and sweep, and what the sweep must then keep or refuse.
TEST(Pruner, ChangesDuringTheCoolingPeriodProtectWhatTheyNeed) {
    {  // A snapshot committed after the mark that reuses a candidate's blobs keeps that pack.
        Fixture f;
        Pruner().mark(*f.repository, keepNewest, {}, day(2));
        const auto later = commitFile(*f.repository, {randomBytes(3000, 10)}, "again", day(3));
        EXPECT_EQ(Pruner().sweep(*f.repository, keepNewest, {}, day(10)).packsSpared, 1);
        EXPECT_EQ(expectSound(f.memory, f.keys, "reused"), (std::vector{f.snapshots[2], later}));
    }
    {  // A hold placed during the cooling period keeps the snapshot it covers, and its pack.
        Fixture f;
        Pruner().mark(*f.repository, keepNewest, {}, day(2));
        const RetentionHold hold{HoldID::random(), HoldReason::userRequested("keep"), day(0).adding(1), day(4), {}};
        EXPECT_EQ(Pruner().sweep(*f.repository, keepNewest, {hold}, day(10)).packsSpared, 1);
        EXPECT_EQ(expectSound(f.memory, f.keys, "held"), (std::vector{f.snapshots[0], f.snapshots[2]}));
    }
    {  // Storage-side retention: the packs stay on storage, out of the index, and are counted.
        Fixture f;
        auto faulty = std::make_shared<FaultyDestination>(f.memory);
        auto repository = openRepository(faulty, f.keys).repository;
        Pruner().mark(*repository, keepNewest, {}, day(2));
        faulty->refuseRemovalUntilRetentionExpires("packs/*");
        const auto swept = Pruner().sweep(*repository, keepNewest, {}, day(10));
        EXPECT_EQ(std::tuple(swept.packsHeld, swept.packsDeleted), std::tuple(3, 0));
        EXPECT_FALSE(openRepository(f.memory, f.keys).repository->withIndex([&](const CompactIndex& index) {
            return index.packs().count(f.packs[0]) != 0;
        }));
    }
}

// A pack that another record still places a blob in stays, and the record with it: an index
// file this repository did not load (another writer's), or the pack's own directory when the
// index lies about where a kept blob lies.
TEST(Pruner, SweepKeepsAPackAnotherRecordPlacesABlobIn) {
    for (const bool lyingIndex : {false, true}) {
        Fixture f;
        const Bytes reused = randomBytes(3000, 10);  // the oldest snapshot's content, in its pack only
        const auto content = f.repository->cipher().identity(reused);
        const auto entry = *f.repository->withIndex([&](const CompactIndex& index) { return index.location(content); });
        RepoPath foreign = RepositoryLayout::index(UUID::random());
        if (lyingIndex) {
            commitFile(*f.repository, {reused}, "again", day(3));
            RepositoryTestAccess::modifyIndex(*f.repository, [&](CompactIndex& index) {
                CompactIndex lying;
                index.forEach([&](const BlobID& id, const CompactIndex::Location& l) {
                    lying.merge(IndexFile::Section{id == content ? f.packs[1] : l.pack, {l.entry}});
                });
                index = lying;
            });
        }
        Pruner().mark(*f.repository, keepNewest, {}, day(4));
        if (!lyingIndex)
            f.memory->put(foreign,
                          f.repository->cipher().sealMetadata(IndexFile::encode({{entry.pack, {entry.entry}}})));
        const auto swept = Pruner().sweep(*f.repository, keepNewest, {}, day(20));
        EXPECT_EQ(std::tuple(swept.packsDeleted, swept.packsSpared), std::tuple(2, 1)) << lyingIndex;
        EXPECT_TRUE(f.memory->exists(RepositoryLayout::pack(f.packs[0]))) << lyingIndex;
        EXPECT_EQ(f.memory->exists(foreign), !lyingIndex);
        EXPECT_TRUE(f.repository->rebuildIndexFromPacks().contains(content)) << lyingIndex;
    }
}

// Each refusal leaves everything but the other marks as it was.
TEST(Pruner, SweepRefusesWithoutDeletingWhenItsPremisesFail) {
    const std::vector<std::tuple<const char*, std::function<void(Fixture&)>, Pruner::Error::Kind>> cases = {
        {"another writer moved the head",
         [](Fixture& f) {
             commitFile(*openRepository(f.memory, f.keys).repository, {randomBytes(10, 1)}, "other", day(3));
         },
         Pruner::Error::Kind::headMoved},
        {"an index file was skipped",
         [](Fixture& f) {
             // The newest snapshot's content lies in a pack the index no longer names.
             const auto content = f.repository->cipher().identity(randomBytes(3000, 12));
             RepositoryTestAccess::modifyIndex(*f.repository, [&](CompactIndex& index) {
                 CompactIndex partial;
                 index.forEach([&](const BlobID& id, const CompactIndex::Location& l) {
                     if (id != content) partial.merge(IndexFile::Section{l.pack, {l.entry}});
                 });
                 index = partial;
             });
         },
         Pruner::Error::Kind::indexIncomplete},
        {"the reachable set changed",
         [](Fixture& f) {
             auto mark = *f.repository->latestMark();
             mark.reachableDigest[0] ^= 1;
             mark.markedAt = mark.markedAt.adding(1);
             Repository::write(SignedFile::seal(mark, f.keys, f.repository->cipher()),
                               RepositoryLayout::gcMark(UUID::random()), *f.memory);
         },
         Pruner::Error::Kind::reachableSetChanged},
    };
    for (const auto& [name, between, expected] : cases) {
        Fixture f;
        Pruner().mark(*f.repository, keepNewest, {}, day(2));
        between(f);
        const auto before = filesOutside(*f.memory, {"gc"});
        EXPECT_EQ(thrown<Pruner::Error>([&] { Pruner().sweep(*f.repository, keepNewest, {}, day(10)); }).kind, expected)
            << name;
        EXPECT_EQ(filesOutside(*f.memory, {"gc"}), before) << name;
    }
}

// Another writer's commit just before the sweep puts its head in place, or just before it
// deletes a snapshot record: its snapshot stays listed, and the sweep stops saying what it had
// done by then.
TEST(Pruner, SweepStopsWhenAnotherWriterMovesTheHeadAndSaysWhatItHadDone) {
    const std::vector<std::tuple<Operation, std::string, std::string>> cases = {
        {Operation::openWrite, "refs/head", ""},
        {Operation::remove, "snapshots/*",
         "It had taken 2 snapshots out of the list of backups and deleted 2 snapshot records."}};
    for (const auto& [operation, pattern, alreadyDone] : cases) {
        Fixture f;
        Pruner().mark(*f.repository, keepNewest, {}, day(2));
        auto reference = std::make_shared<FaultyDestination>(copyOf(*f.memory));
        Pruner().sweep(*openRepository(reference, f.keys).repository, keepNewest, {}, day(10));
        std::int64_t n = 0;
        for (const auto& call : reference->calls()) {
            const bool mutating = call.operation == Operation::openWrite || call.operation == Operation::write ||
                                  call.operation == Operation::commit || call.operation == Operation::remove;
            n += mutating ? 1 : 0;
            if (call.operation == operation && ::fnmatch(pattern.c_str(), call.path.string().c_str(), 0) == 0) break;
        }
        auto faulty = std::make_shared<FaultyDestination>(f.memory);
        std::optional<SnapshotID> theirs;
        faulty->pauseAtMutation(n, [&] {
            theirs = commitFile(*openRepository(f.memory, f.keys).repository, {randomBytes(10, 1)}, "other", day(3));
        });
        const auto stopped = thrown<Pruner::Error>(
            [&] { Pruner().sweep(*openRepository(faulty, f.keys).repository, keepNewest, {}, day(10)); });
        EXPECT_EQ(stopped, Pruner::Error::headMoved(alreadyDone)) << pattern;
        const auto listed = expectSound(f.memory, f.keys, pattern);
        EXPECT_NE(std::find(listed.begin(), listed.end(), *theirs), listed.end()) << pattern;
        EXPECT_EQ(filesUnder(*f.memory, "packs").size(), 5u) << pattern;
    }
}

// A head that lists one snapshot, whose device name is a megabyte, hundreds of times among
// others: its listings share the one snapshot decoded from its record, each listing counts as
// one, and the sweep keeps every listing.
TEST(Pruner, AHeadRepeatingALargeRecordSharesItAndDecidesForEachListing) {
    Fixture f;
    const SnapshotID large = f.repository->commit(
        {.rootTree = rootOf(*f.repository, f.snapshots[2]), .deviceName = std::string(1'000'000, 'd'), .now = day(3)});
    std::vector<SnapshotID> listing{f.snapshots[0]};
    for (int i = 0; i < 300; ++i) listing.push_back(i == 150 ? f.snapshots[1] : large);
    listing.push_back(f.snapshots[2]);
    f.repository->setHead(f.repository->lockWriting(), listing, day(3));

    const auto snapshots = f.repository->allSnapshots();
    ASSERT_EQ(snapshots.size(), listing.size());
    for (std::size_t i = 0; i < listing.size(); ++i)
        EXPECT_EQ(std::pair(snapshots[i]->id, snapshots[i] == snapshots[1]),
                  std::pair(listing[i], listing[i] == large));
    EXPECT_EQ(std::pair(snapshots[1].use_count(), snapshots[1]->deviceName.size()),
              std::pair(299L, std::size_t{1'000'000}));
    // Each listing counts as one: two listings fill a count of two, and the sweep keeps every listing.
    EXPECT_EQ(Pruner().mark(*f.repository, RetentionPolicy::lastN(2), {}, day(4)).prunableSnapshots, 3);
    EXPECT_EQ(Pruner().sweep(*f.repository, {}, {}, day(12)).snapshotsDeleted, 3);
    EXPECT_EQ(f.repository->snapshotIDs(), std::vector(299, large));
}

// A stop at every mutating call of a sweep (process death) and at every durable step (power
// loss): the repository stays sound, and a second sweep ends where one uninterrupted sweep does.
TEST(Pruner, SweepStoppedAnywhereIsSoundAndCompletesOnTheNextRun) {
    Fixture f;
    Pruner().mark(*f.repository, keepNewest, {}, day(2));
    auto reference = copyOf(*f.memory);
    auto faulty = std::make_shared<FaultyDestination>(reference);
    Pruner().sweep(*openRepository(faulty, f.keys).repository, keepNewest, {}, day(10));
    const std::int64_t mutations = faulty->mutatingCallCount();
    ASSERT_GE(mutations, 8);
    const auto expectedPacks = filesUnder(*reference, "packs");

    auto finishAndCompare = [&](const std::shared_ptr<InMemoryDestination>& copy, const std::string& context) {
        expectSound(copy, f.keys, context);  // as the stop left it
        Pruner().sweep(*openRepository(copy, f.keys).repository, keepNewest, {}, day(10));
        EXPECT_EQ(expectSound(copy, f.keys, context), std::vector{f.snapshots[2]}) << context;
        EXPECT_EQ(filesUnder(*copy, "packs"), expectedPacks) << context;
        EXPECT_TRUE(filesUnder(*copy, "gc").empty()) << context;
    };
    for (std::int64_t n = 1; n < mutations; ++n) {
        auto copy = copyOf(*f.memory);
        auto crashing = std::make_shared<FaultyDestination>(copy);
        crashing->crashAtMutation(n);
        EXPECT_THROW(Pruner().sweep(*openRepository(crashing, f.keys).repository, keepNewest, {}, day(10)),
                     SimulatedCrash);
        finishAndCompare(copy, "crash at mutation " + std::to_string(n));
    }
    for (std::int64_t step = 1;; ++step) {
        auto copy = copyOf(*f.memory);
        auto repository = openRepository(copy, f.keys).repository;
        copy->cutPowerAtStep(step);
        try {
            Pruner().sweep(*repository, keepNewest, {}, day(10));
            break;
        } catch (const SimulatedCrash&) {
        }
        copy->simulateReset();
        finishAndCompare(copy, "power cut at step " + std::to_string(step));
    }
}

}  // namespace
}  // namespace wm::test
