// The maintenance tool end to end, as separate processes: back up twice, mark, sweep after the
// cooling period, replicate, damage every pack, repair them from the copy; and replication
// killed with SIGKILL at several moments.
#if defined(WM_MAINTAIN_TOOL) && defined(WM_TEST_BACKUP_TOOL)

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include <gtest/gtest.h>

#include "EngineTestSupport.h"
#include "core/SecretFile.h"
#include "crypto/RecoveryKey.h"
#include "storage/LocalFolderDestination.h"
#include "support/TempFolder.h"

namespace wm::test {
namespace {

namespace fs = std::filesystem;

// The exit status and standard output of a tool run.
std::pair<int, std::string> run(const std::string& tool, const std::vector<std::string>& arguments) {
    std::string command = tool, out;
    for (const auto& a : arguments) command += " '" + a + "'";
    FILE* pipe = ::popen((command + " 2>/dev/null").c_str(), "r");
    char buffer[512];
    while (pipe && std::fgets(buffer, sizeof buffer, pipe)) out += buffer;
    const int status = pipe ? ::pclose(pipe) : -1;
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

// The exit status when out holds `expected`, -2 when it does not.
int maintain(std::vector<std::string> arguments, const fs::path& key, const std::string& expected = "") {
    arguments.insert(arguments.end(), {"--secret-file", key.string()});
    const auto [status, out] = run(WM_MAINTAIN_TOOL, arguments);
    return out.find(expected) == std::string::npos ? -2 : status;
}

int backUp(const fs::path& folder, const fs::path& repo, const fs::path& key) {
    return run(WM_TEST_BACKUP_TOOL, {folder.string(), repo.string(), "--recovery-key-file", key.string()}).first;
}

std::shared_ptr<Repository> openFolder(const fs::path& path, const fs::path& keyFile) {
    auto destination =
        std::make_shared<LocalFolderDestination>(DestinationID::random(), DestinationKind::localFolder(), path,
                                                 std::nullopt, LocalFolderDestination::Preparation::readingOnly());
    return Repository::unlock(destination, RecoveryKey::parse(SecretFile::read(keyFile).secret), testDevice(), "9",
                              std::nullopt, Repository::Access::readOnly)
        .repository;
}

TEST(MaintainTool, BackUpPruneCopyRepairAndRestore) {
    TempFolder t;
    const auto repo = t / "repo", copy = t / "copy", key = t / "key";
    t.writeFile("src/a", randomBytes(300000, 1));
    ASSERT_EQ(backUp(t / "src", repo, key), 0);
    fs::remove(t / "src/a");
    t.writeFile("src/c", "changed");
    ASSERT_EQ(backUp(t / "src", repo, key), 0);

    const std::string r = repo.string();
    EXPECT_EQ(maintain({"mark", r, "--keep-last", "1", "--now", "2030-01-01T00:00:00.000Z"}, key, "1 candidate pack,"),
              0);
    EXPECT_EQ(maintain({"sweep", r, "--now", "2030-01-08T00:00:00.000Z"}, key, "1 pack deleted"), 0);
    EXPECT_EQ(maintain({"replicate", r, copy.string()}, key, ", current"), 0);
    EXPECT_EQ(maintain({"status", r, copy.string()}, key, "status: current"), 0);
    for (const auto& entry : fs::recursive_directory_iterator(repo / "packs"))
        if (entry.is_regular_file()) fs::resize_file(entry.path(), 100);
    EXPECT_EQ(maintain({"repair", r, copy.string()}, key), 0);

    const auto repository = openFolder(repo, key);  // only the second backup's "changed", and whole
    ASSERT_EQ(repository->snapshotIDs().size(), 1u);
    EXPECT_EQ(readWhole(*repository, repository->snapshotIDs()[0]), 7u);
}

TEST(MaintainTool, ReplicationKilledAtAnyMomentIsCompletedByTheNextRun) {
    TempFolder t;
    const auto repo = t / "repo", key = t / "key";
    for (int i = 0; i < 8; ++i) t.writeFile("src/f" + std::to_string(i), randomBytes(2'000'000, 40 + i));
    ASSERT_EQ(backUp(t / "src", repo, key), 0);
    for (int delayMs : {0, 3, 10, 25, 60}) {
        const auto copy = t / ("copy" + std::to_string(delayMs));
        const pid_t child = ::fork();
        if (child == 0) {
            ::execl(WM_MAINTAIN_TOOL, WM_MAINTAIN_TOOL, "replicate", repo.c_str(), copy.c_str(), "--secret-file",
                    key.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        EXPECT_EQ(maintain({"replicate", repo.string(), copy.string()}, key, ", current"), 0) << delayMs;
        const auto replica = openFolder(copy, key);
        for (const auto& id : replica->snapshotIDs()) EXPECT_EQ(readWhole(*replica, id), 16'000'000u) << delayMs;
    }
}

}  // namespace
}  // namespace wm::test

#endif
