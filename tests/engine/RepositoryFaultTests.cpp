// Faults during a backup (a failing call, a power cut at any step), rollback and damaged
// files: the head is the old or the new one, and damage is an error, never wrong data.
#include <algorithm>
#include <set>

#include <gtest/gtest.h>

#include "SnapshotBrowserFixture.h"
#include "format/RepositoryLayout.h"
#include "support/SimulatedCrash.h"

namespace wm::test {
namespace {

std::vector<Bytes> backupChunks() { return {randomBytes(70000, 11), randomBytes(5000, 12), randomBytes(123, 13)}; }

// One snapshot committed: where every fault run starts.
struct Base {
    std::shared_ptr<InMemoryDestination> memory = std::make_shared<InMemoryDestination>();
    std::shared_ptr<FaultyDestination> faulty = std::make_shared<FaultyDestination>(memory);
    RepositoryKeys keys = makeKeys();
    std::shared_ptr<Repository> repository = createRepository(faulty, keys);
    SnapshotID first = commitFile(*repository, {randomBytes(40000, 1), randomBytes(300, 2)}, "first");
};

// Opens the destination afresh and checks what a reader may rely on.
void expectSound(const std::shared_ptr<Destination>& destination, const RepositoryKeys& keys, std::uint64_t atLeast,
                 const SnapshotID& first, const std::string& context) {
    auto opened = openRepository(destination, keys, Repository::Access::readWrite, atLeast);
    const auto& repository = *opened.repository;
    EXPECT_FALSE(opened.verdict.isSuspicious()) << context;
    EXPECT_GE(repository.counter(), atLeast) << context;
    const auto ids = repository.snapshotIDs();
    ASSERT_FALSE(ids.empty()) << context;
    EXPECT_EQ(ids.front(), first) << context;
    EXPECT_EQ(ids.size(), repository.counter()) << context;
    for (const auto& id : ids) EXPECT_NO_THROW(readWhole(repository, id)) << context;
}

TEST(RepositoryFaults, FailingTheNthMutatingCallOfABackupLosesNothing) {
    Base probe;
    const auto before = probe.faulty->mutatingCallCount();
    commitFile(*probe.repository, backupChunks(), "second");
    const std::int64_t total = probe.faulty->mutatingCallCount() - before;
    ASSERT_GE(total, 12);
    for (std::int64_t n = 1; n <= total; ++n) {
        const std::string context = "mutating call " + std::to_string(n) + " of " + std::to_string(total);
        Base base;
        base.faulty->failMutation(n, DestinationError::ioFailed(RepoPath(), "injected"));
        const BlobID root = storeTree(*base.repository, {Node::file("second", backupChunks())});
        bool failed = false;
        try {
            commitRoot(*base.repository, root);
        } catch (const DestinationError&) {
            failed = true;
        }
        base.faulty->clearFaults();
        const std::uint64_t counter = base.repository->counter();
        EXPECT_TRUE(counter == 1 || (counter == 2 && !failed)) << context;
        expectSound(base.memory, base.keys, counter, base.first, context);

        // Committed again without storing anew: the chunks accepted before are written now.
        const auto retried = commitRoot(*base.repository, root);
        EXPECT_FALSE(base.repository->hasUnwrittenChunks()) << context;
        expectSound(base.memory, base.keys, counter + 1, base.first, context);
        EXPECT_EQ(readWhole(*openRepository(base.memory, base.keys).repository, retried), 75123u) << context;
    }
}

// A writer that ignores the writing lock commits between any two steps of a backup: one of
// the two commits is refused with headChanged, none is dropped from the head unnoticed, and
// the refused one leaves no snapshot record behind. The one step left out is the rename that
// puts the new head into place: it cannot be made to depend on what it replaces, so only the
// writing lock keeps a second writer out of that instant.
TEST(RepositoryFaults, ASecondCommitBetweenAnyTwoStepsOfABackupDropsNoSnapshot) {
    Base probe;
    probe.faulty->clearLog();
    commitFile(*probe.repository, backupChunks(), "second");
    using Op = FaultyDestination::Operation;
    std::vector<FaultyDestination::Call> steps;  // the mutating calls
    for (const auto& call : probe.faulty->calls())
        if (std::set{Op::openWrite, Op::write, Op::commit, Op::remove}.count(call.operation)) steps.push_back(call);
    std::size_t refusals = 0;
    for (std::int64_t n = 1; n <= std::ssize(steps); ++n) {
        const auto& step = steps[static_cast<std::size_t>(n - 1)];
        if (step.operation == Op::commit && step.path == RepositoryLayout::head()) continue;
        const std::string context = "second commit before mutating call " + std::to_string(n);
        Base base;
        std::vector<SnapshotID> committed;
        std::size_t refused = 0;
        const auto attempt = [&](Repository& repository, const std::vector<Bytes>& chunks) {
            try {
                committed.push_back(commitFile(repository, chunks));
            } catch (const Repository::Error& e) {
                EXPECT_EQ(e.kind, Repository::Error::Kind::headChanged) << context;
                ++refused;
            }
        };
        base.faulty->pauseAtMutation(
            n, [&] { attempt(*openRepository(base.memory, base.keys).repository, {randomBytes(9000, 21)}); });
        attempt(*base.repository, backupChunks());
        EXPECT_EQ(committed.size(), 2u - refused) << context;
        EXPECT_LE(refused, 1u) << context;
        refusals += refused;

        expectSound(base.memory, base.keys, 1 + committed.size(), base.first, context);
        const auto reopened = openRepository(base.memory, base.keys).repository;
        const auto listed = reopened->snapshotIDs();
        for (const auto& id : committed) EXPECT_TRUE(std::ranges::count(listed, id)) << context;
        EXPECT_EQ(filesUnder(*base.memory, "snapshots").size(), listed.size()) << context;
        for (const auto& pack : reopened->withIndex([](const CompactIndex& i) { return i.packs(); }))
            EXPECT_TRUE(base.memory->files().count(RepositoryLayout::pack(pack).string())) << context;
    }
    EXPECT_GT(refusals, 0u);
}

TEST(RepositoryFaults, PowerCutAtAnyStepLeavesTheOldHeadOrTheNew) {
    int completedAt = 0;
    for (std::int64_t step = 1; step < 500; ++step) {
        const std::string context = "power cut at step " + std::to_string(step);
        Base base;
        base.memory->cutPowerAtStep(step);
        bool crashed = false;
        try {
            commitFile(*base.repository, backupChunks(), "second");
        } catch (const SimulatedCrash&) {
            crashed = true;
        }
        if (!crashed) {
            completedAt = static_cast<int>(step);
            expectSound(base.memory, base.keys, 2, base.first, context);
            break;
        }
        base.memory->simulateReset();
        expectSound(base.memory, base.keys, 1, base.first, context);

        // After the reset a new instance makes the next backup as usual.
        auto opened = openRepository(base.memory, base.keys);
        opened.repository->discardCrashDebris();
        const auto counter = opened.repository->counter();
        const auto next = commitFile(*opened.repository, backupChunks(), "after reset");
        EXPECT_EQ(opened.repository->counter(), counter + 1) << context;
        expectSound(base.memory, base.keys, counter + 1, base.first, context);
        EXPECT_EQ(readWhole(*opened.repository, next), 75123u) << context;
        EXPECT_TRUE(filesUnder(*base.memory, "tmp").empty()) << context;
    }
    EXPECT_GT(completedAt, 10) << "the backup never completed without a cut";
}

TEST(RepositoryFaults, FlippedBitInAPackIsAnErrorAndTheRebuildPassesThePackOver) {
    Base base;
    const auto second = commitFile(*base.repository, backupChunks(), "second");
    const BlobID big = base.repository->cipher().identity(backupChunks()[0]);
    const auto location = base.repository->withIndex([&](const CompactIndex& i) { return *i.location(big); });
    const auto path = RepositoryLayout::pack(location.pack);
    Bytes bytes = base.memory->files().at(path.string());
    bytes[static_cast<std::size_t>(location.entry.offset + 1000)] ^= 0x10;
    base.memory->put(path, bytes);

    auto opened = openRepository(base.memory, base.keys, Repository::Access::readOnly);
    EXPECT_EQ(thrown<BlobCipherError>([&] { readWhole(*opened.repository, second); }).id, big);
    const auto rebuilt = opened.repository->rebuildIndexFromPacks();
    EXPECT_FALSE(rebuilt.contains(big));
}

}  // namespace
}  // namespace wm::test
