// A writer that lost its writing lock while paused (the machine asleep for longer than a lock
// stays fresh, another device taking it over) stops before its next step that makes its work
// visible or deletes: through the library at a pause before every mutating call of each
// writer, and through the built tools. The sweep's head check, as late as the commit's.
#include <fnmatch.h>
#include <atomic>
#include <chrono>
#include <thread>

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
    const char* name;
    std::function<void(Scene&)> prepare;
    // Given the destination the writer holds the lock of and the check it is to call.
    std::function<void(Scene&, const std::shared_ptr<FaultyDestination>&, const std::function<void()>&)> run;
    std::vector<std::pair<Operation, const char*>> acts;
    // Which side the lock guards: the repository (false) or a copy replicated into (true).
    bool copy = false;
};

std::shared_ptr<Repository> reopened(Fixture& f, const std::shared_ptr<Destination>& destination,
                                     const std::function<void()>& check) {
    auto repository = openRepository(destination, f.keys).repository;
    repository->setWritingCheck(check);
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
    static const std::vector<Writer> all = {
        {"backup",
         [](Scene&) {},
         [](Scene& s, const auto& faulty, const auto& check) {
             commitFile(*reopened(s.f, faulty, check), {randomBytes(4000, 50), randomBytes(4000, 51)}, "new", day(3));
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
    return all;
}

enum class Loss { clockMoved, takenOver };

// The ordinals (from 1) of the writer's mutating calls in the log, and which are acts.
std::vector<bool> actsAmongMutations(const FaultyDestination& faulty, const Writer& writer) {
    std::vector<bool> acts;
    for (const auto& call : faulty.calls()) {
        const auto op = call.operation;
        if (op != Operation::openWrite && op != Operation::write && op != Operation::commit && op != Operation::remove)
            continue;
        bool act = false;
        for (const auto& [operation, pattern] : writer.acts)
            act = act || (op == operation && ::fnmatch(pattern, call.path.string().c_str(), 0) == 0);
        acts.push_back(act);
    }
    return acts;
}

struct Outcome {
    std::vector<bool> acts;            // per mutating call after the lock was held
    std::vector<std::string> mutated;  // the path of each
    bool lost = false;                 // the writer stopped with WritingLockLost
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
    HeldWritingLock::Holder holder{testDevice(), "This Mac", 60,
                                   [clockOffset] { return Date::repositoryNow().adding(*clockOffset); }};
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
        outcome.acts = actsAmongMutations(*faulty, writer);
        for (const auto& call : faulty->calls())
            if (call.operation == Operation::openWrite || call.operation == Operation::write ||
                call.operation == Operation::commit || call.operation == Operation::remove)
                outcome.mutated.push_back(call.path.string());
    }
    if (pauseAt && loss == Loss::takenOver) {
        const Bytes lockBytes = guarded->files().at("writing.lock");
        EXPECT_EQ(RepositoryLock::fromJSON(RepositoryJSON::decode(lockBytes)).deviceName, "Laptop")
            << "another device's lock stays";
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

// A replication stopped by the loss of the copy's lock says how far it came: stopped before it
// discarded the copy's pending files, before it put anything in place, while it copied the
// records, and once the copy's list had moved.
TEST(WritingLockLoss, AStoppedReplicationSaysWhatItHadCopiedAndWhetherTheListMoved) {
    const Writer& writer = writers().at(4);
    ASSERT_STREQ(writer.name, "replicate");
    const Outcome whole = runWriter(writer, std::nullopt, Loss::clockMoved);
    ASSERT_FALSE(whole.lost);
    const auto firstCallOn = [&](const char* pattern) {
        const auto at = std::find_if(whole.mutated.begin(), whole.mutated.end(),
                                     [&](const std::string& path) { return ::fnmatch(pattern, path.c_str(), 0) == 0; });
        EXPECT_NE(at, whole.mutated.end()) << pattern;
        return at - whole.mutated.begin() + 1;
    };
    const Outcome early = runWriter(writer, 0, Loss::takenOver);
    EXPECT_EQ(std::count(early.acts.begin(), early.acts.end(), true), 0) << "the pending file stays";
    EXPECT_NE(early.sentence.find("It had not written anything into the copy yet."), std::string::npos)
        << early.sentence;
    const std::vector<std::pair<const char*, std::string>> stops = {
        {"tmp/*", "It had not written anything into the copy yet."},
        {"snapshots/*", "and some of the records the copy lacked, but the copy's list of backups was left as it was."},
        {"replicas/*",
         "It had copied 1 pack and the records the copy lacked, and the copy's list of backups now "
         "matches this backup's."},
    };
    for (const auto& [pattern, done] : stops) {
        const Outcome paused = runWriter(writer, firstCallOn(pattern), Loss::takenOver);
        EXPECT_TRUE(paused.lost) << pattern;
        EXPECT_NE(paused.sentence.find(done), std::string::npos) << pattern << ": " << paused.sentence;
    }
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

// Through the built tools: another device takes the lock over while a backup, then a sweep,
// derives its key (many iterations make that last long enough to step in). Each stops with
// exit 1 and its sentence; the backup recorded no snapshot, the sweep deleted nothing, and
// the other device's lock stays.
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
    ASSERT_EQ(runTool(WM_MAINTAIN_TOOL,
                      {"mark", repo.string(), "--secret-file", (t / "pass").string(), "--keep-last", "1"}, t.path())
                  .status,
              0);

    for (const auto& [tool, arguments, done] :
         std::vector<std::tuple<const char*, std::vector<std::string>, std::string>>{
             {WM_TEST_BACKUP_TOOL, backup, "It had stored this backup's new data"},
             {WM_MAINTAIN_TOOL, sweep, "It had not changed the backup yet."}}) {
        const Started started = startTool(tool, arguments, t.path());
        const auto end = std::chrono::steady_clock::now() + std::chrono::minutes(1);
        while (!fs::exists(repo / "writing.lock") && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        t.writeFile("repo/writing.lock", laptopLock());
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
        fs::remove(repo / "writing.lock");
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(repo / "gc"), fs::directory_iterator()), 1) << "the mark stays";
}

}  // namespace
}  // namespace wm::test
