// Faults during a backup (a failing call, a power cut at any step), rollback and damaged
// files: the head is the old or the new one, and damage is an error, never wrong data.
#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <set>
#include <thread>

#include <gtest/gtest.h>

#include "crypto/KeyFile.h"
#include "crypto/Passphrase.h"
#include "crypto/RecoveryKey.h"
#include "engine/KeyFiles.h"
#include "format/RepositoryLayout.h"
#include "storage/LocalFolderDestination.h"
#include "support/EngineTestSupport.h"
#include "support/SimulatedCrash.h"
#include "support/TempFolder.h"

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

// The backups the enumerations below interrupt. The one-file backup stores its file in one
// call. The many-file backup stores four files as the backup tool does: three threads at
// once, each file through calls of two chunks, into packs of three blobs, so that calls
// fill packs (and write them) while others append; the first failed call stops the others
// before their next call, and the trees and the commit follow only when none failed.
struct Backup {
    bool concurrent = false;
    struct Call {
        std::vector<BlobID> ids;
        std::exception_ptr error;
    };
    std::vector<Call> calls;
    std::optional<BlobID> root;  // once the trees are stored
    std::exception_ptr commitError;

    static std::vector<Node> files(bool concurrent) {
        if (!concurrent) return {Node::file("second", backupChunks())};
        std::vector<Node> nodes;
        for (std::uint64_t f = 0; f < 4; ++f) {
            std::vector<Bytes> chunks;
            for (std::uint64_t c = 0; c < 5; ++c) chunks.push_back(randomBytes(1500 + 700 * c, 100 + 10 * f + c));
            nodes.push_back(Node::file("file-" + std::to_string(f), std::move(chunks)));
        }
        return nodes;
    }
    std::uint64_t bytes() const { return concurrent ? 4 * (5 * 1500 + 700 * 10) : 75123; }

    // Throws what the commit threw, or the first call's error; nothing when it committed.
    void run(Repository& repository) {
        calls.clear();
        root.reset();
        commitError = nullptr;
        const std::vector<Node> nodes = files(concurrent);
        if (concurrent) {
            repository.setPackBlobLimitForTesting(3);
            std::mutex mutex;
            std::atomic<bool> failed{false};
            auto storeFiles = [&](std::size_t thread) {
                for (std::size_t f = thread; f < nodes.size() && !failed; f += 3) {
                    const auto& chunks = nodes[f].chunks;
                    for (std::size_t c = 0; c < chunks.size() && !failed; c += 2) {
                        const std::vector<Bytes> batch(
                            chunks.begin() + static_cast<std::ptrdiff_t>(c),
                            chunks.begin() + static_cast<std::ptrdiff_t>(std::min(c + 2, chunks.size())));
                        Call call;
                        for (const auto& chunk : batch) call.ids.push_back(repository.cipher().identity(chunk));
                        try {
                            repository.storeChunks(batch, BlobType::data);
                        } catch (...) {
                            call.error = std::current_exception();
                            failed = true;
                        }
                        std::lock_guard lock(mutex);
                        calls.push_back(std::move(call));
                    }
                }
            };
            std::vector<std::thread> threads;
            for (std::size_t t = 0; t < 3; ++t) threads.emplace_back(storeFiles, t);
            for (auto& thread : threads) thread.join();
            for (const auto& call : calls)
                if (call.error) std::rethrow_exception(call.error);
        }
        try {
            root = storeTree(repository, nodes);
            commitRoot(repository, *root);
        } catch (...) {
            commitError = std::current_exception();
            throw;
        }
    }
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

// The failed write reached the one call it belongs to: a pack to the store call whose blob
// filled it (its last blob), or else to the commit; a drive read-me file to no one.
void expectFailureReachedItsCall(const Backup& backup, const FaultyDestination& faulty, const Repository& repository,
                                 const std::string& context) {
    std::optional<RepoPath> path;
    for (const auto& call : faulty.calls())
        if (call.failed) path = call.path;
    ASSERT_TRUE(path) << context;
    std::vector<const Backup::Call*> failedCalls;
    for (const auto& call : backup.calls)
        if (call.error) failedCalls.push_back(&call);
    const bool toCommit = backup.commitError != nullptr;
    const auto pack = RepositoryLayout::packID(path->fileName());
    if (!pack || path->string().rfind("packs/", 0) != 0) {
        EXPECT_TRUE(failedCalls.empty()) << context << ": " << path->string();
        EXPECT_EQ(toCommit, path->string().rfind("index/", 0) == 0 || path->string().rfind("snapshots/", 0) == 0 ||
                                path->string() == "refs/head")
            << context << ": " << path->string();
        return;
    }
    ASSERT_EQ(failedCalls.size() + (toCommit ? 1 : 0), 1u) << context;
    if (failedCalls.empty()) return;
    // The call holding the blob at the greatest offset of that pack is the one that filled it.
    const Backup::Call* filler = nullptr;
    std::optional<std::uint64_t> last;
    repository.withIndex([&](const CompactIndex& index) {
        for (const auto& call : backup.calls) {
            for (const auto& id : call.ids) {
                const auto location = index.location(id);
                if (location && location->pack == *pack && (!last || location->entry.offset > *last)) {
                    last = location->entry.offset;
                    filler = &call;
                }
            }
        }
    });
    EXPECT_EQ(filler, failedCalls.front()) << context;
}

TEST(RepositoryFaults, FailingTheNthMutatingCallOfABackupLosesNothing) {
    for (const bool concurrent : {false, true}) {
        Base probe;
        Backup backup{concurrent};
        const auto before = probe.faulty->mutatingCallCount();
        backup.run(*probe.repository);
        const std::int64_t total = probe.faulty->mutatingCallCount() - before;
        ASSERT_GE(total, concurrent ? 30 : 12);
        for (std::int64_t n = 1; n <= total; ++n) {
            const std::string context = std::string(concurrent ? "many files" : "one file") + ", mutating call " +
                                        std::to_string(n) + " of " + std::to_string(total);
            Base base;
            base.faulty->failMutation(n, DestinationError::ioFailed(RepoPath(), "injected"));
            bool failed = false;
            try {
                backup.run(*base.repository);
            } catch (const DestinationError&) {
                failed = true;
            }
            base.faulty->clearFaults();
            const std::uint64_t counter = base.repository->counter();
            EXPECT_TRUE(counter == 1 || (counter == 2 && !failed)) << context;
            expectSound(base.memory, base.keys, counter, base.first, context);
            // Every chunk a call was told is stored is still held.
            for (const auto& call : backup.calls)
                for (const auto& id : call.ids)
                    if (!call.error) {
                        EXPECT_TRUE(base.repository->contains(id)) << context;
                    }

            // Committed again without storing anew once the trees were stored (the chunks
            // accepted before are written now), else run again.
            const Backup interrupted = backup;
            if (interrupted.root) {
                commitRoot(*base.repository, *interrupted.root);
            } else {
                backup.run(*base.repository);
            }
            EXPECT_FALSE(base.repository->hasUnwrittenChunks()) << context;
            expectSound(base.memory, base.keys, counter + 1, base.first, context);
            auto reopened = openRepository(base.memory, base.keys);
            EXPECT_EQ(readWhole(*reopened.repository, reopened.repository->snapshotIDs().back()), backup.bytes())
                << context;
            expectFailureReachedItsCall(interrupted, *base.faulty, *reopened.repository, context);
        }
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
    for (const bool concurrent : {false, true}) {
        Backup backup{concurrent};
        int completedAt = 0;
        for (std::int64_t step = 1; step < 1000; ++step) {
            const std::string context =
                std::string(concurrent ? "many files" : "one file") + ", power cut at step " + std::to_string(step);
            Base base;
            base.memory->cutPowerAtStep(step);
            bool crashed = false;
            try {
                backup.run(*base.repository);
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
            backup.run(*opened.repository);
            EXPECT_EQ(opened.repository->counter(), counter + 1) << context;
            expectSound(base.memory, base.keys, counter + 1, base.first, context);
            EXPECT_EQ(readWhole(*opened.repository, opened.repository->snapshotIDs().back()), backup.bytes())
                << context;
            EXPECT_TRUE(filesUnder(*base.memory, "tmp").empty()) << context;
        }
        EXPECT_GT(completedAt, concurrent ? 40 : 10) << "the backup never completed without a cut";
    }
}

// A caller of the engine that keeps the secrets it creates with, as the backup tool does: a
// passphrase, and a recovery key that the step before the head keeps outside the destination.
// A run creates, or takes what a stopped creation left: a creation without its head is
// finished with the secrets kept (with a new recovery key when none was kept), anything less
// is made afresh.
struct Creator {
    std::string passphrase = "a long enough passphrase";
    std::optional<RecoveryKey> kept;

    std::shared_ptr<Repository> run(const std::shared_ptr<Destination>& destination) {
        if (destination->exists(RepositoryLayout::configFile()) && !Repository::unfinishedCreation(*destination))
            return Repository::unlock(destination, passphrase, testDevice(), std::string(kAppVersion), std::nullopt,
                                      Repository::Access::readWrite)
                .repository;
        if (Repository::unfinishedCreation(*destination)) {
            const auto byPassphrase = Repository::openKeyFile(*destination, passphrase);
            if (!byPassphrase) throw std::runtime_error("the passphrase opens no key file");
            const RepositoryKeys& keys = byPassphrase->keys;
            const auto byKey = kept ? Repository::openKeyFile(*destination, *kept) : std::nullopt;
            const RecoveryKey next = byKey ? *kept : RecoveryKey::generate();
            const KeyFile nextFile =
                byKey ? byKey->keyFile : KeyFile::wrap(keys.master, next, keys.repositoryID, std::nullopt, fixedNow());
            return Repository::finishCreation(destination, keys, testDevice(), std::string(kAppVersion), fixedNow(),
                                              {byPassphrase->keyFile, nextFile}, {{}, [this, next] { kept = next; }});
        }
        const RepositoryKeys keys = makeKeys();
        const RecoveryKey key = RecoveryKey::generate();
        const auto settings = Passphrase::makeSettings(1000);
        return Repository::create(
            destination, keys, testDevice(), std::string(kAppVersion),
            RepositoryConfig::KDF{settings.algorithm, settings.salt, settings.iterations}, 2, fixedNow(),
            {KeyFile::wrap(keys.master, key, keys.repositoryID, std::nullopt, fixedNow()),
             KeyFile::wrap(keys.master, passphrase, settings.salt, settings.iterations, std::nullopt, fixedNow())},
            {{}, [this, key] { kept = key; }});
    }

    // Each secret kept opens the one repository there, whose key list holds their two files.
    void expectOpens(const std::shared_ptr<Destination>& destination, const std::string& context) const {
        ASSERT_TRUE(kept) << context;
        const auto access = Repository::Access::readOnly;
        try {
            const auto byPassphrase =
                Repository::unlock(destination, passphrase, testDevice(), "1", std::nullopt, access);
            const auto byKey = Repository::unlock(destination, *kept, testDevice(), "1", std::nullopt, access);
            EXPECT_TRUE(byPassphrase.keys.master == byKey.keys.master) << context;
            EXPECT_EQ(byKey.repository->counter(), 0u) << context;
            EXPECT_EQ(byKey.repository->keyFiles().all().size(), 2u) << context;
        } catch (const std::exception& e) {
            ADD_FAILURE() << context << ": " << e.what();
        }
    }
};

// A creation stopped at any moment (a crash at any write; a power cut at any durable step,
// after which only what the disk kept is there) is taken by the next run, also when that run
// is stopped in turn: the repository opens with each secret kept, and no key file whose
// secret nobody keeps stays to be counted.
TEST(RepositoryFaults, ACreationStoppedAtAnyMomentIsTakenByTheNextRun) {
    auto probe = std::make_shared<FaultyDestination>(std::make_shared<InMemoryDestination>());
    Creator().run(probe);
    const std::int64_t total = probe->mutatingCallCount();
    ASSERT_GE(total, 8);
    for (std::int64_t n = 1; n <= total; ++n) {
        // The second run is stopped too, at each of its own writes; then a third one runs.
        for (std::int64_t m = 1;; ++m) {
            const std::string context = "crash at write " + std::to_string(n) + ", then at " + std::to_string(m);
            auto memory = std::make_shared<InMemoryDestination>();
            auto faulty = std::make_shared<FaultyDestination>(memory);
            Creator creator;
            faulty->crashAtMutation(n);
            EXPECT_THROW(creator.run(faulty), SimulatedCrash) << context;
            faulty->clearFaults();
            faulty->crashAtMutation(m);
            bool stoppedAgain = false;
            try {
                creator.run(faulty);
            } catch (const SimulatedCrash&) {
                stoppedAgain = true;
            }
            faulty->clearFaults();
            if (stoppedAgain) creator.run(faulty);
            creator.expectOpens(memory, context);
            if (!stoppedAgain) break;
        }
    }
    for (std::int64_t step = 1;; ++step) {
        const std::string context = "power cut at step " + std::to_string(step);
        auto memory = std::make_shared<InMemoryDestination>();
        Creator creator;
        memory->cutPowerAtStep(step);
        try {
            creator.run(memory);
            creator.expectOpens(memory, context);
            EXPECT_GT(step, 20) << "a creation takes more steps than that";
            break;
        } catch (const SimulatedCrash&) {
        }
        memory->simulateReset();
        creator.run(memory);
        creator.expectOpens(memory, context);
        // What the run left lasts: the power lost once more right after it changes nothing.
        memory->simulateReset();
        creator.expectOpens(memory, context + ", reset after the next run");
    }
}

// A creation that fails at any write, also once that write is already in place, is taken
// back whole before its caller's step (no config, head or key file stays, a person's file
// beside it is untouched); after it, what is there stays and is finished. Either way the next
// run succeeds.
TEST(RepositoryFaults, ACreationThatFailsAtAnyWriteIsTakenBackOrFinished) {
    // Whether it failed.
    const auto creation = [](Creator& creator, const std::shared_ptr<Destination>& destination) {
        try {
            creator.run(destination);
            return false;
        } catch (const DestinationError&) {
            return true;
        }
    };
    const auto expectOutcome = [&](Creator& creator, const std::shared_ptr<Destination>& destination, bool failed,
                                   const std::string& context) {
        // Taken back exactly when nothing was kept outside.
        const bool takenBack = failed && !creator.kept;
        EXPECT_EQ(destination->exists(RepositoryLayout::configFile()), !takenBack) << context;
        if (takenBack) {
            EXPECT_FALSE(destination->exists(RepositoryLayout::head())) << context;
            EXPECT_TRUE(destination->list(RepositoryLayout::keysDirectory()).empty()) << context;
        }
        EXPECT_EQ(stringOf(destination->read(*RepoPath::parse("photos/a.jpg"))), "kept") << context;
        EXPECT_FALSE(failed && creation(creator, destination)) << context << ", again";
        creator.expectOpens(destination, context);
    };

    auto probe = std::make_shared<FaultyDestination>(std::make_shared<InMemoryDestination>());
    Creator().run(probe);
    const std::int64_t total = probe->mutatingCallCount();
    std::int64_t failures = 0;
    for (std::int64_t n = 1; n <= total; ++n) {
        auto memory = std::make_shared<InMemoryDestination>();
        memory->put(*RepoPath::parse("photos/a.jpg"), "kept");
        auto faulty = std::make_shared<FaultyDestination>(memory);
        faulty->failMutation(n, DestinationError::outOfSpace(100, 0));
        Creator creator;
        const bool failed = creation(creator, faulty);
        failures += failed;
        faulty->clearFaults();
        expectOutcome(creator, faulty, failed, "mutating call " + std::to_string(n));
    }
    EXPECT_GT(failures, total / 2);

    // Put in place, then failed (the folder could not be made durable).
    using Interruption = LocalFolderDestination::WriteInterruption;
    for (int before = 0; before < 7; ++before) {
        const std::string context = "in place, commit " + std::to_string(before + 1);
        TempFolder folder;
        folder.writeFile("photos/a.jpg", "kept");
        Creator creator;
        const bool failed =
            creation(creator, std::make_shared<LocalFolderDestination>(
                                  DestinationID::random(), DestinationKind::localFolder(), folder.path(),
                                  Interruption{Interruption::Stage::beforeFolderSync, before},
                                  LocalFolderDestination::Preparation::preparing()));
        EXPECT_TRUE(failed || before >= 4) << context;  // the read-me files' failures are passed over
        expectOutcome(creator,
                      std::make_shared<LocalFolderDestination>(DestinationID::random(), DestinationKind::localFolder(),
                                                               folder.path(), std::nullopt,
                                                               LocalFolderDestination::Preparation::readingOnly()),
                      failed, context);
    }
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
