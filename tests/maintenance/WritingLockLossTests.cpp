// A writer that lost its writing lock while paused (the machine asleep for longer than a lock
// stays fresh, another device taking it over) stops before its next step that makes its work
// visible or deletes: through the library at a pause before every mutating call of each
// writer, and through the built tools. The sweep's head check, as late as the commit's.
#include <fnmatch.h>
#include <atomic>

#include <gtest/gtest.h>

#include "MaintenanceFixture.h"
#include "ToolFailure.h"
#include "ToolProcess.h"
#include "core/RepositoryJSON.h"
#include "core/RepositoryLock.h"
#include "engine/HeldWritingLock.h"
#include "engine/HoldRecord.h"
#include "engine/RetentionRecord.h"
#include "format/SignedFile.h"
#include "maintenance/Pruner.h"
#include "maintenance/ReplicaStateRecord.h"
#include "maintenance/Replicator.h"
#include "support/TempFolder.h"

namespace wm::test {
namespace {

namespace fs = std::filesystem;
using Operation = FaultyDestination::Operation;

const RetentionPolicy keepNewest = RetentionPolicy::lastN(1);

// Another device's fresh lock.
Bytes laptopLock() {
    DeviceID laptop;
    laptop.bytes.fill(9);
    const Date now = Date::repositoryNow();
    return RepositoryJSON::encodeBytes(RepositoryLock{"Laptop", laptop.hex(), now, now}.toJSON(), false);
}

// The lock file on the destination, when there is one.
std::optional<RepositoryLock> lockOn(const InMemoryDestination& memory) {
    const auto files = memory.files();
    const auto it = files.find(RepositoryLayout::lockFile().string());
    if (it == files.end()) return std::nullopt;
    return RepositoryLock::fromJSON(RepositoryJSON::decode(it->second));
}

// This machine as the holder of a lock, its wall clock moved on by `offset` seconds.
HeldWritingLock::Holder holderWithClock(const std::shared_ptr<std::atomic<double>>& offset, double refreshInterval) {
    return {testDevice(), "This Mac", refreshInterval, [offset] { return Date::repositoryNow().adding(*offset); }};
}

bool mutates(Operation op) {
    return op == Operation::openWrite || op == Operation::write || op == Operation::commit || op == Operation::remove;
}

// Where an unfinished write of an earlier run left its bytes.
const RepoPath pendingDebris = *RepoPath::parse("tmp/0123456789abcdef0123456789abcdef");

// The fixture, and a copy of it for the writers that need one.
struct Scene {
    Fixture f;
    std::shared_ptr<InMemoryDestination> copy = std::make_shared<InMemoryDestination>();
};

// One writer under its lock: `prepare` readies the scene before the faulty destination
// wraps it, `run` writes through it. The acts are the calls that make work visible or delete
// (operation and path pattern): none may run once the lock is lost.
struct Writer {
    std::string name;
    std::function<void(Scene&)> prepare;
    // Given the destination the writer holds the lock of and the check it is to call.
    std::function<void(Scene&, const std::shared_ptr<FaultyDestination>&, const std::function<void()>&)> run;
    std::vector<std::pair<Operation, const char*>> acts;
    // Which side the lock guards: the repository (false) or a copy replicated into (true).
    bool copy = false;
};

// Opened by a writer as the tools open it: the check installed, then pending writes cleared.
std::shared_ptr<Repository> reopened(Fixture& f, const std::shared_ptr<Destination>& destination,
                                     const std::function<void()>& check) {
    auto repository = openRepository(destination, f.keys).repository;
    repository->setWritingCheck(check);
    repository->discardCrashDebris();
    return repository;
}

// Everything a replication writes on the copy, and the pending files it discards there.
const std::vector<std::pair<Operation, const char*>> copyActs = {{Operation::remove, "tmp/*"},
                                                                 {Operation::commit, "wendlemarsh.repo"},
                                                                 {Operation::commit, "refs/*"},
                                                                 {Operation::commit, "keys/*"},
                                                                 {Operation::commit, "packs/*"},
                                                                 {Operation::commit, "index/*"},
                                                                 {Operation::commit, "snapshots/*"},
                                                                 {Operation::commit, "holds/*"},
                                                                 {Operation::commit, "replicas/*"},
                                                                 {Operation::commit, "Read Me First.txt"},
                                                                 {Operation::commit, "Repository Format.md"}};

const std::vector<Writer>& writers() {
    static const std::vector<Writer> all = [] {
        std::vector<Writer> writers = {
            {"backup",
             [](Scene&) {},
             [](Scene& s, const auto& faulty, const auto& check) {
                 commitFile(*reopened(s.f, faulty, check), {randomBytes(4000, 50), randomBytes(4000, 51)}, "new",
                            day(3));
             },
             {{Operation::commit, "snapshots/*"}, {Operation::commit, "refs/head"}}},
            {"mark",
             [](Scene&) {},
             [](Scene& s, const auto& faulty, const auto& check) {
                 Pruner().mark(*reopened(s.f, faulty, check), keepNewest, {}, day(3));
             },
             {{Operation::commit, "gc/*"}}},
            {"sweep",
             [](Scene& s) { Pruner().mark(*s.f.repository, keepNewest, {}, day(2)); },
             [](Scene& s, const auto& faulty, const auto& check) {
                 Pruner().sweep(*reopened(s.f, faulty, check), keepNewest, {}, day(20));
             },
             {{Operation::commit, "refs/head"},
              {Operation::remove, "snapshots/*"},
              {Operation::commit, "index/*"},
              {Operation::remove, "packs/*"},
              {Operation::remove, "gc/*"}}},
            {"repair",
             [](Scene& s) {
                 // A sound copy, then two packs of the repository damaged.
                 s.copy = copyOf(*s.f.memory);
                 for (int k : {0, 1}) s.f.memory->put(RepositoryLayout::pack(s.f.packs[k]), randomBytes(300, 70 + k));
             },
             [](Scene& s, const auto& faulty, const auto& check) {
                 const auto repository = reopened(s.f, faulty, check);
                 const auto plan = Replicator::planRepair(*repository, *s.copy, s.f.keys);
                 ASSERT_EQ(plan.packs.size(), 2u);
                 const auto repaired = Replicator().repair(plan.packs, *s.copy, *faulty, s.f.keys, check).repaired;
                 Replicator::indexAgain(*repository, repaired);
             },
             {{Operation::commit, "packs/*"}, {Operation::commit, "index/*"}}},
            {"replicate",
             [](Scene& s) {
                 Replicator().replicate(*s.f.repository, *s.copy, s.f.keys);
                 commitFile(*s.f.repository, {randomBytes(4000, 60)}, "later", day(3));
                 s.copy->put(pendingDebris, randomBytes(40, 61));
             },
             [](Scene& s, const auto& faulty, const auto& check) {
                 Replicator().replicate(*s.f.repository, *faulty, s.f.keys, check);
             },
             copyActs, true},
            {"replicate anew",
             [](Scene& s) {
                 addHold(*s.f.repository,
                         RetentionHold{HoldID::random(), HoldReason::anomalyDetected(), day(1), day(1), {}});
                 setRetentionPolicy(*s.f.repository, RetentionPolicy::lastN(5));
             },
             [](Scene& s, const auto& faulty, const auto& check) {
                 Replicator().replicate(*s.f.repository, *faulty, s.f.keys, check);
             },
             copyActs, true},
        };
        // Each writer of the repository again, with debris in "tmp" and two older marks that
        // do not open: the first act clears "tmp", and a mark and a sweep remove the marks.
        for (std::size_t k = 0, n = writers.size(); k < n; ++k) {
            if (writers[k].copy) continue;
            Writer again = writers[k];
            again.name += " over debris and older marks";
            again.prepare = [prepare = writers[k].prepare](Scene& s) {
                prepare(s);
                s.f.memory->put(pendingDebris, randomBytes(100, 80));
                for (const char* name :
                     {"eeeeeeeeeeeeeeeeeeeeeeeeeeeeeeee.mark", "ffffffffffffffffffffffffffffffff.mark"})
                    s.f.memory->put(RepositoryLayout::gcDirectory() / name, randomBytes(90, 81));
            };
            again.acts.insert(again.acts.begin(), {Operation::remove, "tmp/*"});
            again.acts.emplace_back(Operation::remove, "gc/*");
            writers.push_back(std::move(again));
        }
        return writers;
    }();
    return all;
}

enum class Loss { clockMoved, takenOver };

// The ordinals (from 1) of the writer's mutating calls in the log, and which are acts.
bool matches(const FaultyDestination::Call& call, Operation operation, const char* pattern) {
    return call.operation == operation && ::fnmatch(pattern, call.path.string().c_str(), 0) == 0;
}

struct Outcome {
    std::vector<FaultyDestination::Call> mutations;  // the mutating calls after the lock was held
    std::vector<bool> acts;                          // whether each is an act
    bool lost = false;                               // the writer stopped with WritingLockLost
    std::string sentence;
};

// The writer under a lock whose loss, when pauseAt is given, happens just before that mutating
// call (0: before the writer starts).
Outcome runWriter(const Writer& writer, std::optional<std::int64_t> pauseAt, Loss loss) {
    Scene scene;
    writer.prepare(scene);
    const std::shared_ptr<InMemoryDestination> guarded = writer.copy ? scene.copy : scene.f.memory;
    const auto faulty = std::make_shared<FaultyDestination>(guarded);
    TempFolder root;
    auto clockOffset = std::make_shared<std::atomic<double>>(0);
    const HeldWritingLock::Holder holder = holderWithClock(clockOffset, 60);
    Outcome outcome;
    {
        const HeldWritingLock lock(root.path(), faulty, HeldWritingLock::Scope::writing, holder);
        faulty->clearLog();
        const auto lose = [&] {
            if (loss == Loss::clockMoved)
                *clockOffset = RepositoryLock::staleAfter + 1;
            else
                guarded->put(RepositoryLayout::lockFile(), laptopLock());
        };
        if (pauseAt == 0)
            lose();
        else if (pauseAt)
            faulty->pauseAtMutation(*pauseAt, lose);
        try {
            writer.run(scene, faulty, [&lock] { lock.confirmHeld(); });
        } catch (const WritingLockLost& lost) {
            outcome.lost = true;
            outcome.sentence = tools::failureSentence(lost);
        }
        for (const auto& call : faulty->calls()) {
            if (!mutates(call.operation)) continue;
            outcome.mutations.push_back(call);
            outcome.acts.push_back(std::any_of(writer.acts.begin(), writer.acts.end(),
                                               [&](const auto& act) { return matches(call, act.first, act.second); }));
        }
    }
    if (pauseAt && loss == Loss::takenOver) {
        const auto lock = lockOn(*guarded);
        EXPECT_TRUE(lock && lock->deviceName == "Laptop") << "another device's lock stays";
    }
    return outcome;
}

// Lost at a pause before any mutating call of a writer, the lock stops it before its next act:
// no act runs after the call it was paused before, and the writer says it stopped, what
// holds the lock now, and that running it again is safe.
TEST(WritingLockLoss, AWriterThatLostItsLockStopsBeforeItsNextAct) {
    for (const Writer& writer : writers()) {
        const Outcome whole = runWriter(writer, std::nullopt, Loss::clockMoved);
        ASSERT_FALSE(whole.lost) << writer.name;
        ASSERT_NE(std::count(whole.acts.begin(), whole.acts.end(), true), 0) << writer.name;
        const auto lastAct = std::find(whole.acts.rbegin(), whole.acts.rend(), true).base() - whole.acts.begin();
        for (std::int64_t n = 1; n <= std::ssize(whole.acts); ++n) {
            for (const Loss loss : {Loss::clockMoved, Loss::takenOver}) {
                const std::string context = std::string(writer.name) + " lost before call " + std::to_string(n) +
                                            (loss == Loss::clockMoved ? " (stale)" : " (taken over)");
                const Outcome paused = runWriter(writer, n, loss);
                for (std::size_t k = static_cast<std::size_t>(n); k < paused.acts.size(); ++k)
                    EXPECT_FALSE(paused.acts[k]) << context << ": act at call " << k + 1;
                if (n < lastAct) {
                    EXPECT_TRUE(paused.lost) << context;
                    const std::string holder = loss == Loss::takenOver ? ", and Laptop holds the lock now" : "";
                    EXPECT_NE(paused.sentence.find("paused for longer than its writing lock stays fresh" + holder +
                                                   ", so it stopped."),
                              std::string::npos)
                        << context << ": " << paused.sentence;
                    EXPECT_NE(paused.sentence.find("running it again is safe"), std::string::npos) << context;
                }
            }
        }
    }
}

// A writer stopped by the loss of its lock says what it had done, lost just before the given
// mutating call (the first, second, ... of that operation on a path of that pattern; none: before
// the writer starts). A removal runs once the check before it passed, a write's check comes
// after its bytes are written: the step the loss comes before, or the one after it, is the
// first left undone. Whatever the row, no act runs after the call it was paused before.
TEST(WritingLockLoss, AStoppedWriterSaysWhatItHadDone) {
    struct Row {
        const char* writer;
        Operation operation;
        const char* pattern;  // nullptr: lost before the writer starts
        int occurrence;
        std::string done;
    };
    const std::string listLeft = "the copy's list of backups was left as it was.";
    const Row rows[] = {
        {"mark over debris and older marks", Operation::remove, "tmp/*", 1, "It had not changed the backup yet."},
        {"mark over debris and older marks", Operation::commit, "gc/*", 1, "It had written a new mark. "},
        {"mark over debris and older marks", Operation::remove, "gc/*", 1,
         "It had written a new mark and deleted 1 older mark. "},
        {"sweep over debris and older marks", Operation::remove, "gc/*", 1, "It had deleted 1 older mark. "},
        {"sweep over debris and older marks", Operation::remove, "snapshots/*", 1,
         "It had deleted 2 older marks, taken 2 snapshots out of the list of backups and deleted 1 snapshot "
         "record. "},
        {"repair", Operation::openWrite, "packs/*", 1, "It had not changed the backup yet."},
        {"repair", Operation::openWrite, "packs/*", 2, "It had put back 1 pack. "},
        {"replicate", Operation::remove, nullptr, 0, "It had not written anything into the copy yet."},
        {"replicate", Operation::remove, "tmp/*", 1, "It had not written anything into the copy yet."},
        {"replicate", Operation::openWrite, "snapshots/*", 1,
         "It had copied 1 pack and some of the records the copy lacked, but " + listLeft},
        {"replicate", Operation::openWrite, "refs/head", 1,
         "It had copied 1 pack and the records the copy lacked, but " + listLeft},
        {"replicate", Operation::openWrite, "replicas/*", 1,
         "It had copied 1 pack and the records the copy lacked, and the copy's list of backups now matches this "
         "backup's."},
        {"replicate anew", Operation::openWrite, "packs/*", 1,
         "It had begun the copy but copied no pack yet, and " + listLeft},
        {"replicate anew", Operation::openWrite, "packs/*", 2, "It had copied 1 pack, but " + listLeft},
    };
    for (const Row& row : rows) {
        const std::string context = std::string(row.writer) + ", " + (row.pattern ? row.pattern : "at once") + " " +
                                    std::to_string(row.occurrence);
        const Writer& writer =
            *std::find_if(writers().begin(), writers().end(), [&](const Writer& w) { return w.name == row.writer; });
        std::int64_t pauseAt = 0;
        if (row.pattern) {
            const auto whole = runWriter(writer, std::nullopt, Loss::takenOver).mutations;
            for (int seen = 0; pauseAt < std::ssize(whole) && seen < row.occurrence; ++pauseAt)
                seen += matches(whole[static_cast<std::size_t>(pauseAt)], row.operation, row.pattern) ? 1 : 0;
            ASSERT_TRUE(pauseAt > 0 &&
                        matches(whole[static_cast<std::size_t>(pauseAt - 1)], row.operation, row.pattern))
                << context;
        }
        const Outcome paused = runWriter(writer, pauseAt, Loss::takenOver);
        EXPECT_TRUE(paused.lost) << context;
        EXPECT_NE(paused.sentence.find(row.done), std::string::npos) << context << ": " << paused.sentence;
        for (std::size_t k = static_cast<std::size_t>(pauseAt); k < paused.acts.size(); ++k)
            EXPECT_FALSE(paused.acts[k]) << context << ": act at call " << k + 1;
    }
}

// A lock file the refresher cannot read once is read again at the next heartbeat, and nothing
// is written meanwhile: the lock stays this run's and goes when the run ends. A lock file that
// was removed, or cannot be read back before a step, stops the run with its own sentence; a
// run removes its lock file at its end only while it is fresh.
TEST(WritingLockLoss, TheRefresherOutlivesAFailedReadAndEachLossHasItsSentence) {
    using Cause = WritingLockLost::Cause;
    const auto sentenceOf = [](const HeldWritingLock& lock) {
        try {
            lock.confirmHeld();
        } catch (const WritingLockLost& lost) {
            return std::pair{lost.cause, tools::failureSentence(lost)};
        }
        return std::pair{Cause::stale, std::string("held")};
    };
    TempFolder root;
    auto clockOffset = std::make_shared<std::atomic<double>>(0);
    const HeldWritingLock::Holder holder = holderWithClock(clockOffset, 0.002);
    const DestinationError unreadable = DestinationError::ioFailed(RepositoryLayout::lockFile(), "EIO");
    {
        const auto memory = std::make_shared<InMemoryDestination>();
        const auto faulty = std::make_shared<FaultyDestination>(memory);
        {
            const HeldWritingLock lock(root.path(), faulty, HeldWritingLock::Scope::writing, holder);
            faulty->clearLog();
            faulty->failCalls("writing.lock", unreadable, {Operation::read}, 1);
            // The failed read, then a refresh written after it.
            const auto failedRead = [&] {
                const auto calls = faulty->calls();
                return std::find_if(calls.begin(), calls.end(), [](const auto& c) { return c.failed; }) - calls.begin();
            };
            ASSERT_TRUE(eventually([&] {
                const auto calls = faulty->calls();
                const auto failed = failedRead();
                return std::any_of(calls.begin() + std::min<std::ptrdiff_t>(failed, std::ssize(calls)), calls.end(),
                                   [](const auto& c) { return c.operation == Operation::commit; });
            }));
            const auto calls = faulty->calls();
            const auto failed = static_cast<std::size_t>(failedRead());
            ASSERT_LT(failed + 1, calls.size());
            EXPECT_EQ(calls[failed + 1].operation, Operation::size) << "nothing written before the next read";
            EXPECT_NO_THROW(lock.confirmHeld());
            // Before a step, a read that fails is a lost lock, for good.
            faulty->failCalls("writing.lock", unreadable, {Operation::read}, 1);
            EXPECT_EQ(sentenceOf(lock),
                      std::pair(Cause::unreadable,
                                std::string("This run's writing lock file could not be read back, so it stopped. It "
                                            "had not changed the backup yet. Nothing more was added or deleted, and "
                                            "running it again is safe.")));
            EXPECT_EQ(sentenceOf(lock).first, Cause::unreadable) << "lost for good";
        }
        EXPECT_FALSE(lockOn(*memory)) << "this run's fresh lock is removed at its end";
    }
    {
        const auto memory = std::make_shared<InMemoryDestination>();
        const HeldWritingLock lock(root.path(), memory, HeldWritingLock::Scope::writing, holder);
        memory->remove(RepositoryLayout::lockFile());
        EXPECT_EQ(sentenceOf(lock),
                  std::pair(Cause::removed,
                            std::string("This run's writing lock file was removed while it ran, so it stopped. It had "
                                        "not changed the backup yet. Nothing more was added or deleted, and running "
                                        "it again is safe.")));
    }
    // Gone stale: left to lapse.
    const auto memory = std::make_shared<InMemoryDestination>();
    {
        const HeldWritingLock lock(root.path(), memory, HeldWritingLock::Scope::writing, holder);
        *clockOffset = RepositoryLock::staleAfter + 1;
        EXPECT_EQ(sentenceOf(lock).first, Cause::stale);
    }
    EXPECT_TRUE(lockOn(*memory)) << "a stale lock is left to lapse";
}

// A backup another device made into the copy while a replication ran (one that did not take
// the copy's lock) is not listed in the replica state as copied, so the next replication still
// finds it made into the copy and leaves it there.
TEST(WritingLockLoss, ABackupMadeIntoTheCopyMidRunIsNotVouchedForAsCopied) {
    Scene s;
    Replicator().replicate(*s.f.repository, *s.copy, s.f.keys);
    s.copy->put(pendingDebris, randomBytes(40, 61));
    const auto faulty = std::make_shared<FaultyDestination>(s.copy);
    SnapshotID made;
    faulty->pauseAtMutation(1, [&] {
        made = commitFile(*openRepository(s.copy, s.f.keys).repository, {randomBytes(500, 62)}, "mine", day(4));
    });
    EXPECT_FALSE(Replicator().replicate(*s.f.repository, *faulty, s.f.keys).isCurrent);
    const auto head = openRepository(s.copy, s.f.keys).repository->snapshotIDs();
    ASSERT_EQ(head.size(), 4u);
    EXPECT_EQ(head.back(), made);
    const auto state = SignedFile::open<ReplicaStateRecord>(
        s.copy->files().at(RepositoryLayout::replicaState(s.copy->id()).string()), s.f.keys, s.f.repository->cipher());
    EXPECT_EQ(state.holdsSnapshots, s.f.repository->head().snapshots);

    const auto again = Replicator().replicate(*s.f.repository, *s.copy, s.f.keys);
    ASSERT_EQ(again.madeIntoCopy.size(), 1u);
    EXPECT_EQ(again.madeIntoCopy[0].id, made);
}

// Through the built tools: another device takes the lock over while a backup, a mark, then a
// sweep derives its key (many iterations make that last long enough to step in) and starts
// writing into "tmp". Each stops with exit 1 and its sentence before it clears "tmp": the
// other device's pending file stays, the backup recorded no snapshot, the mark and the sweep
// deleted nothing, and the other device's lock stays.
TEST(WritingLockLoss, TheToolsStopWithASentenceAndExitOne) {
    TempFolder t;
    t.writeFile("src/a", "hello");
    t.writeFile("pass", "correct horse battery");
    const auto repo = t / "repo";
    const std::vector<std::string> backup = {(t / "src").string(), repo.string(), "--passphrase-file",
                                             (t / "pass").string()};
    std::vector<std::string> create = backup;
    for (const char* more : {"--recovery-key-file", "key", "--iterations", "3000000"}) create.push_back(more);
    ASSERT_EQ(runTool(WM_TEST_BACKUP_TOOL, create, t.path()).status, 0);
    const Bytes head = t.readFile("repo/refs/head");
    const std::vector<std::string> sweep = {"sweep",         repo.string(),
                                            "--secret-file", (t / "pass").string(),
                                            "--now",         RepositoryJSON::dateText(Date::now().adding(8 * 86400.0))};
    const std::vector<std::string> mark = {"mark", repo.string(), "--secret-file", (t / "pass").string(), "--keep-last",
                                           "1"};
    ASSERT_EQ(runTool(WM_MAINTAIN_TOOL, mark, t.path()).status, 0);
    const std::string pending = "repo/tmp/00112233445566778899aabbccddeeff";

    for (const auto& [tool, arguments, done] :
         std::vector<std::tuple<const char*, std::vector<std::string>, std::string>>{
             {WM_TEST_BACKUP_TOOL, backup, "It had not changed the backup yet."},
             {WM_MAINTAIN_TOOL, mark, "It had not changed the backup yet."},
             {WM_MAINTAIN_TOOL, sweep, "It had not changed the backup yet."}}) {
        const Started started = startTool(tool, arguments, t.path());
        EXPECT_TRUE(eventually([&] { return fs::exists(repo / "writing.lock"); })) << tool;
        t.writeFile("repo/writing.lock", laptopLock());
        t.writeFile(pending, "the laptop's pack, half written");
        const Answer answer = finishTool(started);
        EXPECT_EQ(answer.status, 1) << answer.err;
        EXPECT_NE(answer.err.find("paused for longer than its writing lock stays fresh, and Laptop holds the lock "
                                  "now, so it stopped. " +
                                  done),
                  std::string::npos)
            << answer.err;
        EXPECT_NE(answer.err.find("running it again is safe."), std::string::npos) << answer.err;
        EXPECT_EQ(t.readFile("repo/refs/head"), head) << tool;
        EXPECT_EQ(RepositoryLock::fromJSON(RepositoryJSON::decode(t.readFile("repo/writing.lock"))).deviceName,
                  "Laptop");
        EXPECT_TRUE(fs::exists(t / pending)) << tool << ": another device's pending file was deleted";
        fs::remove(repo / "writing.lock");
        fs::remove(t / pending);
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(repo / "gc"), fs::directory_iterator()), 1) << "the mark stays";
}

}  // namespace
}  // namespace wm::test
