// The tools' writing lock, replication's reading lock and remembered head counters: as parts,
// with a second writer put between any two steps of a backup, and through the built tools.
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <thread>

#include <gtest/gtest.h>

#include "RememberedCounters.h"
#include "ToolProcess.h"
#include "ToolRun.h"
#include "core/DurableReplace.h"
#include "core/RepositoryJSON.h"
#include "engine/HeldWritingLock.h"
#include "engine/WritingLock.h"
#include "format/RepositoryLayout.h"
#include "support/EngineTestSupport.h"
#include "support/ScopedEnvironment.h"
#include "support/TempFolder.h"
#include "support/Thrown.h"
#include "support/Unprivileged.h"

namespace wm::test {
namespace {

namespace fs = std::filesystem;

HeldWritingLock::Holder holder(std::uint8_t device, double refreshInterval = 60) {
    DeviceID id;
    id.bytes.fill(device);
    return {id, "Device " + std::to_string(device), refreshInterval};
}

std::optional<RepositoryLock> lockFile(const fs::path& root) {
    std::ifstream in(root / "writing.lock", std::ios::binary);
    if (!in) return std::nullopt;
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return RepositoryLock::fromJSON(RepositoryJSON::decode(bytesOf(text)));
}

// While a backup holds the lock, another process of this machine and another device are
// refused between any two of its steps, and a replication may read; when the backup ends
// its lock is gone.
TEST(ToolLock, NoOtherWriterGetsInBetweenAnyTwoStepsOfABackup) {
    TempFolder t;
    const auto faulty = std::make_shared<FaultyDestination>(localFolder(t.path()));
    const RepositoryKeys keys = makeKeys();
    auto repository = createRepository(faulty, keys);
    for (std::int64_t n = 1;; ++n) {
        std::size_t refusals = 0;
        {
            const HeldWritingLock lock(t.path(), faulty, HeldWritingLock::Scope::writing, holder(1));
            faulty->pauseAtMutation(n, [&] {
                for (const auto other : {1, 2}) {  // this device in another process, another device
                    try {
                        HeldWritingLock second(t.path(), localFolder(t.path()), HeldWritingLock::Scope::sweeping,
                                               holder(static_cast<std::uint8_t>(other)));
                    } catch (const WritingLockRefusal&) {
                        ++refusals;
                    }
                }
                EXPECT_FALSE(
                    claimWriting(*localFolder(t.path()), holder(2).device, "Device 2", Date::now()).holdsLock());
                EXPECT_NO_THROW(ReadingLock{t.path()});
            });
            const auto before = faulty->mutatingCallCount();
            commitFile(*repository, {randomBytes(5000, static_cast<std::uint64_t>(n))});
            if (faulty->mutatingCallCount() - before < n) break;
            EXPECT_EQ(refusals, 2u) << n;
            EXPECT_EQ(lockFile(t.path())->deviceID, holder(1).device.hex()) << n;
        }
        EXPECT_FALSE(lockFile(t.path())) << n;
        for (const auto& id : repository->snapshotIDs()) EXPECT_NO_THROW(readWhole(*repository, id)) << n;
    }
}

// The refresh keeps the lock fresh and writes only over the run's own lock: one cleared by
// hand or taken over by another device is lost for good, never written again or removed.
// No replication reads while a sweep runs.
TEST(ToolLock, RefreshesOnlyItsOwnLockAndNeverRemovesALockItDoesNotHold) {
    TempFolder t;
    const auto folder = localFolder(t.path());
    fs::create_directory(t / "packs");
    const RepositoryLock theirs{"Device 2", holder(2).device.hex(), Date::repositoryNow(),
                                Date::repositoryNow().adding(3600)};
    for (const bool cleared : {true, false}) {
        {
            const HeldWritingLock lock(t.path(), folder, HeldWritingLock::Scope::sweeping, holder(1, 0.005));
            EXPECT_THROW(ReadingLock{t.path()}, WritingLockRefusal);
            const Date acquired = lockFile(t.path())->acquiredAt;
            EXPECT_TRUE(eventually([&] { return lockFile(t.path())->heartbeatAt != acquired; }));
            EXPECT_NO_THROW(lock.confirmHeld());
            const auto takeOver = [&] {
                if (cleared)
                    fs::remove(t / "writing.lock");
                else
                    Repository::write(RepositoryJSON::encodeBytes(theirs.toJSON(), false), RepositoryLayout::lockFile(),
                                      *folder);
            };
            // A refresh between its last reading and its rename may still put its lock back, as
            // two devices writing one file can: the other side acts until this run sees the lock
            // lost, and once more when no refresh can be under way.
            EXPECT_TRUE(eventually([&] {
                takeOver();
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                try {
                    lock.confirmHeld();
                    return false;
                } catch (const WritingLockLost&) {
                    return true;
                }
            }));
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            takeOver();
            std::this_thread::sleep_for(std::chrono::milliseconds(100));  // twenty refreshes
            EXPECT_THROW(lock.confirmHeld(), WritingLockLost) << cleared;
        }
        if (cleared)
            EXPECT_FALSE(lockFile(t.path())) << "a cleared lock is not written again";
        else
            EXPECT_EQ(lockFile(t.path()), theirs);
    }
}

TEST(ToolLock, RemembersTheHighestCounterAndRefusesADamagedFile) {
    TempFolder t;
    const tools::RememberedCounters counters(t / "state/head-counters.json");
    const RepositoryID a;
    EXPECT_FALSE(counters.counter(a, t / "repo"));
    for (const std::uint64_t c : {3u, 7u, 5u}) counters.remember(a, t / "repo", c);
    EXPECT_EQ(counters.counter(a, t / "repo"), 7u);
    t.writeFile("state/head-counters.json", "{\"ab\": -1}");
    EXPECT_THROW(counters.counter(a, t / "repo"), tools::ToolRefusal);
}

// A named pipe, a folder or a link where the counters file should be: read and written alike,
// it is refused at once with the sentence for an unreadable file, never waited on while the
// tools hold a repository's lock, and the lock goes with them.
TEST(ToolLock, ACountersFileThatIsNotARegularFileIsRefusedAtOnce) {
    TempFolder t;
    t.writeFile("src/a", "hello");
    const auto repo = t / "repo", key = t / "key";
    const std::vector<std::string> backup = {(t / "src").string(), repo.string(), "--recovery-key-file", key.string()};
    const ScopedEnvironment state("XDG_STATE_HOME", (t / "state").string());
    ASSERT_EQ(runTool(WM_TEST_BACKUP_TOOL, backup, t.path()).status, 0);
    const Bytes head = t.readFile("repo/refs/head");
    const fs::path file = t / "state/wendlemarsh/head-counters.json";
    const tools::RememberedCounters counters(file);
    const std::string unreadable = "The file \"" + file.string() +
                                   "\", where this computer remembers how far each backup has come, cannot be read.";
    t.writeFile("state/wendlemarsh/elsewhere.json", "{}");
    const std::pair<const char*, std::function<void()>> rows[] = {
        {"named pipe", [&] { ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0); }},
        {"folder", [&] { fs::create_directory(file); }},
        {"link", [&] { fs::create_symlink("elsewhere.json", file); }},
    };
    for (const auto& [what, make] : rows) {
        SCOPED_TRACE(what);
        fs::remove_all(file);
        make();
        ::alarm(30);  // a read that waits on the pipe ends the run
        const auto refused = [&](auto&& call) {
            const std::string message = thrown<tools::ToolRefusal>(call).what();
            EXPECT_TRUE(message.starts_with(unreadable)) << message;
        };
        refused([&] { counters.counter(RepositoryID(), repo); });
        refused([&] { counters.remember(RepositoryID(), repo, 9); });
        ::alarm(0);
        for (const auto& [tool, arguments] : std::vector<std::pair<const char*, std::vector<std::string>>>{
                 {WM_TEST_BACKUP_TOOL, backup},
                 {WM_MAINTAIN_TOOL, {"mark", repo.string(), "--secret-file", key.string(), "--keep-last", "1"}}}) {
            const Answer answer = finishTool(startTool(tool, arguments, t.path()), 60);
            EXPECT_EQ(answer.status, 1) << tool;
            EXPECT_NE(answer.err.find(unreadable), std::string::npos) << answer.err;
            EXPECT_FALSE(fs::exists(repo / "writing.lock")) << tool;
        }
        EXPECT_EQ(t.readFile("repo/refs/head"), head);
        EXPECT_EQ(stringOf(t.readFile("state/wendlemarsh/elsewhere.json")), "{}");
    }
}

// The built tools: a held lock, another device's lock or one that does not decode refuses a
// backup with a sentence and stays as it was; a rolled-back head is refused; a sweep waits
// for no replication.
TEST(ToolLock, TheToolsRefuseWhatTheLockAndTheRememberedCounterForbid) {
    TempFolder t;
    t.writeFile("src/a", "hello");
    const auto repo = t / "repo", key = t / "key";
    const std::vector<std::string> backup = {(t / "src").string(), repo.string(), "--recovery-key-file", key.string()};
    ASSERT_EQ(runTool(WM_TEST_BACKUP_TOOL, backup, t.path()).status, 0);
    EXPECT_FALSE(fs::exists(repo / "writing.lock"));
    const Bytes firstHead = t.readFile("repo/refs/head");
    ASSERT_EQ(runTool(WM_TEST_BACKUP_TOOL, backup, t.path()).status, 0);

    const auto expectRefused = [&](const char* tool, const std::vector<std::string>& arguments,
                                   const std::string& words) {
        const Answer answer = runTool(tool, arguments, t.path());
        EXPECT_EQ(answer.status, 1) << words;
        EXPECT_NE(answer.err.find(words), std::string::npos) << answer.err;
    };
    const RepositoryLock laptop{"Laptop", holder(9).device.hex(), Date::now(), Date::now()};
    for (const auto& [lock, words] : std::vector<std::pair<std::string, std::string>>{
             {"", "Another program on this computer is writing to"},
             {RepositoryJSON::encode(laptop.toJSON(), false), "Laptop has been writing to"},
             {"{\"deviceID\":", "delete that file by hand"}}) {
        std::optional<FolderLock> process;
        if (lock.empty())
            process = FolderLock::tryLock(repo, FolderLock::Mode::exclusive);
        else
            t.writeFile("repo/writing.lock", lock);
        expectRefused(WM_TEST_BACKUP_TOOL, backup, words);
        if (!lock.empty()) {
            EXPECT_EQ(stringOf(t.readFile("repo/writing.lock")), lock);
        }
        fs::remove(repo / "writing.lock");
    }
    {
        const ReadingLock replicating(repo);
        expectRefused(WM_MAINTAIN_TOOL, {"sweep", repo.string(), "--secret-file", key.string()},
                      "A copy is being made from");
    }
    t.writeFile("repo/refs/head", firstHead);
    expectRefused(WM_TEST_BACKUP_TOOL, backup, "older than when this computer last saw it");
}

// The lines a test's backups left in the user's own state file are taken out again, and the
// file and folders are removed when the test made them.
struct StateLinesTakenBack {
    fs::path file;
    std::string folder;  // every line naming a folder below this one goes
    bool existed = fs::exists(file);
    fs::path firstMade = [this] {
        fs::path missing;
        for (fs::path p = file.parent_path(); !fs::exists(p); p = p.parent_path()) missing = p;
        return missing;
    }();
    ~StateLinesTakenBack() {
        std::error_code error;
        if (!existed) {
            fs::remove(file, error);
            for (fs::path p = file.parent_path(); !firstMade.empty() && fs::remove(p, error) && p != firstMade;
                 p = p.parent_path()) {
            }
            return;
        }
        try {
            std::ifstream in(file, std::ios::binary);
            JSON lines = RepositoryJSON::decode(bytesOf(std::string(std::istreambuf_iterator<char>(in), {})));
            for (auto it = lines.begin(); it != lines.end();)
                it = it.key().find(folder) == std::string::npos ? std::next(it) : lines.erase(it);
            replaceFileDurably(file, RepositoryJSON::encodeBytes(lines, true));
        } catch (const std::exception&) {
        }
    }
};

// With neither XDG_STATE_HOME nor HOME set, as a scheduled job often runs, the counters go below
// the home folder the password database gives, and a head put back is still refused. A user
// with no home folder at all is refused before anything is made.
TEST(ToolLock, WithoutHomeTheCountersGoBelowThePasswordDatabasesHomeFolder) {
    TempFolder t;
    t.writeFile("src/a", "hello");
    const auto repo = t / "repo", key = t / "key";
    const std::vector<std::string> backup = {(t / "src").string(), repo.string(), "--recovery-key-file", key.string()};
    const ScopedEnvironment noStateFolder("XDG_STATE_HOME", std::nullopt), noHome("HOME", std::nullopt);
    const std::optional<fs::path> file = tools::RememberedCounters::defaultFile();
    const passwd* me = ::getpwuid(::getuid());
    ASSERT_TRUE(me && file && file->string().starts_with(me->pw_dir)) << "no home folder here";
    const StateLinesTakenBack takenBack{*file, t.string()};
    ASSERT_EQ(runTool(WM_TEST_BACKUP_TOOL, backup, t.path()).status, 0);
    const Bytes firstHead = t.readFile("repo/refs/head");
    ASSERT_EQ(runTool(WM_TEST_BACKUP_TOOL, backup, t.path()).status, 0);
    t.writeFile("repo/refs/head", firstHead);
    const Answer answer = runTool(WM_TEST_BACKUP_TOOL, backup, t.path());
    EXPECT_EQ(answer.status, 1);
    EXPECT_NE(answer.err.find("has been rewritten 1 time, where this computer has seen it rewritten 2 times."),
              std::string::npos)
        << answer.err;

    if (::geteuid() != 0) return;  // only root can be a user the password database does not know
    uid_t stranger = 40000;
    while (::getpwuid(stranger)) ++stranger;
    fs::permissions(t.path(), fs::perms::others_exec, fs::perm_options::add);
    fs::create_directory(t / "theirs");
    fs::permissions(t / "theirs", fs::perms::all);
    const ChildOutcome child = runUnprivileged(
        [&](const auto& report) {
            const Answer theirs = runTool(WM_TEST_BACKUP_TOOL,
                                          {(t / "src").string(), (t / "theirs/repo").string(), "--recovery-key-file",
                                           (t / "theirs/key").string()},
                                          t / "theirs");
            report(theirs.err);
            return theirs.status;
        },
        stranger);
    EXPECT_EQ(child.status, 1);
    EXPECT_NE(child.output.find("this user has no home folder"), std::string::npos) << child.output;
    EXPECT_FALSE(fs::exists(t / "theirs/repo"));
}

// A state folder that cannot be written stops a backup before it stores anything, into a new
// repository and into one whose counter is already remembered (run by a user whom permissions
// bind, as root is not).
TEST(ToolLock, AStateFolderThatCannotBeWrittenStopsABackupBeforeItStoresAnything) {
    TempFolder t;
    fs::permissions(t.path(), fs::perms::others_exec, fs::perm_options::add);
    fs::create_directory(t / "theirs");
    fs::permissions(t / "theirs", fs::perms::all);
    const fs::path u = t / "theirs";
    const ChildOutcome child = runUnprivileged([&](const auto& report) {
        ::setenv("XDG_STATE_HOME", (u / "state").c_str(), 1);
        t.writeFile("theirs/src/a", "hello");
        const auto backUp = [&](const std::string& repository) {
            return runTool(WM_TEST_BACKUP_TOOL,
                           {(u / "src").string(), (u / repository).string(), "--recovery-key-file",
                            (u / (repository + ".key")).string()},
                           u);
        };
        if (backUp("repo").status != 0) report("the first backup failed");
        fs::permissions(u / "state/wendlemarsh", fs::perms::owner_read | fs::perms::owner_exec);
        const Bytes head = t.readFile("theirs/repo/refs/head");
        for (const std::string repository : {"repo", "new"}) {
            const Answer refused = backUp(repository);
            if (refused.status != 1 || refused.err.find("could not be written") == std::string::npos)
                report(repository + ": " + refused.err);
        }
        if (t.readFile("theirs/repo/refs/head") != head) report("a snapshot was committed");
        if (fs::exists(u / "new/wendlemarsh.repo") || fs::exists(u / "new.key")) report("a repository was made");
        return 0;
    });
    EXPECT_TRUE(child.exited && child.status == 0 && child.output.empty()) << child.output;
}

// Copies share their repository's ID: a backup made into a copy moves the copy's counter on,
// and the repository it was copied from is still not taken for one put back.
TEST(ToolLock, ABackupIntoACopyDoesNotMakeItsRepositoryLookPutBack) {
    TempFolder t;
    t.writeFile("src/a", "hello");
    const auto repo = t / "repo", copy = t / "copy", key = t / "key";
    const auto backUp = [&](const fs::path& into) {
        const Answer answer = runTool(
            WM_TEST_BACKUP_TOOL, {(t / "src").string(), into.string(), "--recovery-key-file", key.string()}, t.path());
        return answer.status == 0 ? answer.status : (ADD_FAILURE() << answer.err, answer.status);
    };
    ASSERT_EQ(backUp(repo), 0);
    ASSERT_EQ(
        runTool(WM_MAINTAIN_TOOL, {"replicate", repo.string(), copy.string(), "--secret-file", key.string()}, t.path())
            .status,
        0);
    ASSERT_EQ(backUp(copy), 0);
    EXPECT_EQ(backUp(repo), 0);
}

}  // namespace
}  // namespace wm::test
