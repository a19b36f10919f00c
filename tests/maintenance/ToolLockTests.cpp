// The tools' writing lock, replication's reading lock and remembered head counters: as parts,
// with a second writer put between any two steps of a backup, and through the built tools.
#include <chrono>
#include <fstream>
#include <thread>

#include <gtest/gtest.h>

#include "RememberedCounters.h"
#include "ToolProcess.h"
#include "ToolRun.h"
#include "core/RepositoryJSON.h"
#include "engine/HeldWritingLock.h"
#include "engine/WritingLock.h"
#include "format/RepositoryLayout.h"
#include "support/EngineTestSupport.h"
#include "support/TempFolder.h"

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

// Waits until the condition holds, at most a minute.
template <class Condition>
bool eventually(Condition condition) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (!condition())
        if (std::chrono::steady_clock::now() > end) return false;
    return true;
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
            if (cleared)
                fs::remove(t / "writing.lock");
            else
                Repository::write(RepositoryJSON::encodeBytes(theirs.toJSON(), false), RepositoryLayout::lockFile(),
                                  *folder);
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
    EXPECT_FALSE(counters.counter(a));
    for (const std::uint64_t c : {3u, 7u, 5u}) counters.remember(a, c);
    EXPECT_EQ(counters.counter(a), 7u);
    t.writeFile("state/head-counters.json", "{\"ab\": -1}");
    EXPECT_THROW(counters.counter(a), tools::ToolRefusal);
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

}  // namespace
}  // namespace wm::test
