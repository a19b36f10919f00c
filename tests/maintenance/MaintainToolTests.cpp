// The maintenance tool end to end, as separate processes: back up twice, mark, sweep after the
// cooling period, replicate, damage every pack, repair them from the copy; and replication
// killed with SIGKILL at several moments.

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <map>
#include <set>
#include <thread>

#include <gtest/gtest.h>

#include "ToolProcess.h"
#include "core/SecretFile.h"
#include "core/SystemCall.h"
#include "crypto/RecoveryKey.h"
#include "support/DataTable.h"
#include "support/EngineTestSupport.h"
#include "support/ScopedEnvironment.h"
#include "support/TempFolder.h"

namespace wm::test {
namespace {

namespace fs = std::filesystem;

// The exit status when the output (standard output or error) holds `expected`, -2 when it
// does not. Run beside the key file.
int maintain(std::vector<std::string> arguments, const fs::path& key, const std::string& expected = "") {
    arguments.insert(arguments.end(), {"--secret-file", key.string()});
    const Answer answer = runTool(WM_MAINTAIN_TOOL, arguments, key.parent_path());
    return (answer.out + answer.err).find(expected) == std::string::npos ? -2 : answer.status;
}

int backUp(const fs::path& folder, const fs::path& repo, const fs::path& key) {
    return runTool(WM_TEST_BACKUP_TOOL, {folder.string(), repo.string(), "--recovery-key-file", key.string()},
                   key.parent_path())
        .status;
}

std::shared_ptr<Repository> openFolder(const fs::path& path, const fs::path& keyFile) {
    return Repository::unlock(localFolder(path), RecoveryKey::parse(SecretFile::read(keyFile).secret), testDevice(),
                              "9", std::nullopt, Repository::Access::readOnly)
        .repository;
}

// Every file under a folder with its bytes, links as their targets.
std::map<std::string, std::string> treeOf(const fs::path& root) {
    std::map<std::string, std::string> tree;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        // Named as the entry itself is: a link is not resolved.
        const auto name = it->path().lexically_relative(root).string();
        if (it->is_symlink())
            tree[name] = "-> " + fs::read_symlink(it->path()).string();
        else if (it->is_regular_file())
            tree[name] = std::string(std::istreambuf_iterator<char>(std::ifstream(it->path()).rdbuf()), {});
        else
            tree[name] = "/";
    }
    return tree;
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
    // Copied into a user's folder, whose own files stay, its "tmp" and its read-me files too (one
    // a link that leads to what opens as the system's own, judged as the link itself).
    t.writeFile("copy/notes.txt", "mine");
    t.writeFile("copy/tmp/0123456789abcdef0123456789abcdef", "mine too");
    t.writeFile("copy/Read Me First.txt", "my own read-me");
    t.writeFile("elsewhere", "# Wendle Marsh repository format\nmine, through a link");
    fs::create_symlink(t / "elsewhere", copy / "Repository Format.md");
    fs::create_directories(copy / "tmp/fedcba9876543210fedcba9876543210");
    const auto users = treeOf(copy);
    EXPECT_EQ(maintain({"replicate", r, copy.string()}, key, ", current"), 0);
    for (const auto& [name, content] : users) EXPECT_EQ(treeOf(copy)[name], content) << name;
    EXPECT_EQ(t.readFile("elsewhere"), bytesOf("# Wendle Marsh repository format\nmine, through a link"));
    EXPECT_EQ(maintain({"status", r, copy.string()}, key, "status: current"), 0);
    for (const auto& entry : fs::recursive_directory_iterator(repo / "packs"))
        if (entry.is_regular_file()) fs::resize_file(entry.path(), 100);
    EXPECT_EQ(maintain({"repair", r, copy.string()}, key), 0);

    const auto repository = openFolder(repo, key);  // only the second backup's "changed", and whole
    ASSERT_EQ(repository->snapshotIDs().size(), 1u);
    EXPECT_EQ(readWhole(*repository, repository->snapshotIDs()[0]), 7u);
}

// Refusals of folders that are not what they seem: each exits 1 and changes nothing in the
// folder it names, nor anywhere a link inside it leads.
TEST(MaintainTool, RefusesFoldersThatAreNotWhatTheySeem) {
    TempFolder t;
    const auto repo = t / "repo", key = t / "key", elsewhere = t / "elsewhere";
    t.writeFile("src/a", randomBytes(3000, 1));
    ASSERT_EQ(backUp(t / "src", repo, key), 0);
    ASSERT_EQ(backUp(t / "src", t / "other", t / "other-key"), 0);
    const auto keyFile = fs::directory_iterator(repo / "keys")->path().filename();
    const std::map<std::string, std::function<void(const fs::path&)>> setups = {
        {"documents", [&](const fs::path& d) { t.writeFile(fs::relative(d / "tmp/draft", t.path()), "mine"); }},
        {"documents-linked-tmp",
         [&](const fs::path& d) {
             t.writeFile(fs::relative(d / "notes.txt", t.path()), "mine");
             t.writeFile("elsewhere/0123456789abcdef0123456789abcdef", "not the copy's");
             fs::create_directory_symlink(elsewhere, d / "tmp");
         }},
        {"a-file", [&](const fs::path& d) { t.writeFile(fs::relative(d, t.path()), "mine"); }},
        {"linked-gc",
         [&](const fs::path& d) {
             fs::copy(repo, d, fs::copy_options::recursive);
             fs::remove_all(d / "gc");
             t.writeFile("elsewhere/old.mark", "not a mark");
             fs::create_directory_symlink(elsewhere, d / "gc");
         }},
        {"damaged-hold",
         [&](const fs::path& d) {
             fs::copy(repo, d, fs::copy_options::recursive);
             t.writeFile(fs::relative(d / "holds/0123456789abcdef0123456789abcdef.hold", t.path()), "damaged");
         }},
        {"configless",
         [&](const fs::path& d) {
             fs::copy(t / "other", d, fs::copy_options::recursive);
             fs::remove(d / "wendlemarsh.repo");
         }},
        {"own-configless",
         [&](const fs::path& d) {
             fs::copy(repo, d, fs::copy_options::recursive);
             fs::remove(d / "wendlemarsh.repo");
         }},
        {"linked-packs",
         [&](const fs::path& d) {
             fs::copy(repo, d, fs::copy_options::recursive);
             fs::remove_all(d / "packs");
             fs::create_directory_symlink(elsewhere, d / "packs");
         }},
        {"wrong-key",
         [&](const fs::path& d) {
             fs::copy(repo, d, fs::copy_options::recursive);
             fs::copy_file(*fs::directory_iterator(t / "other/keys"), d / "keys" / keyFile,
                           fs::copy_options::overwrite_existing);
         }},
        {"holding-repo",
         [&](const fs::path& d) {
             t.writeFile(fs::relative(d / "notes.txt", t.path()), "mine");
             fs::copy(repo, d / "tmp", fs::copy_options::recursive);
         }},
        {"rolled-back",
         [&](const fs::path& d) {
             fs::copy(repo, d, fs::copy_options::recursive);
             const auto head = t.readFile(fs::relative(d / "refs/head", t.path()));
             ASSERT_EQ(backUp(t / "src", d, key), 0);
             t.writeFile(fs::relative(d / "refs/head", t.path()), head);
         }},
    };
    fs::create_directories(elsewhere);
    for (const auto& row : dataTable("maintenance/refusals.tsv", 4)) {
        const auto& [name, sentence, folder] = std::tie(row[0], row[1], row[3]);
        const auto root = t / folder;
        if (!fs::exists(root)) setups.at(folder)(root);
        const auto before = treeOf(root), elsewhereBefore = treeOf(elsewhere), repoBefore = treeOf(repo);
        std::vector<std::string> command;
        for (const auto& a : split(row[2], ' '))
            command.push_back(a.starts_with("ROOT") ? root.string() + a.substr(4)
                              : a == "REPO"         ? repo.string()
                              : a == "SOURCE"       ? (t / "src").string()
                                                    : a);
        if (command[0] == "backup") {
            command.erase(command.begin());
            command.insert(command.end(), {"--recovery-key-file", key.string()});
            const Answer answer = runTool(WM_TEST_BACKUP_TOOL, command, t.path());
            EXPECT_EQ(answer.status, 1) << name;
            EXPECT_NE(answer.err.find(sentence), std::string::npos) << name << ": " << answer.err;
        } else {
            EXPECT_EQ(maintain(command, key, sentence), 1) << name;
        }
        EXPECT_TRUE(folder == "wrong-key" || treeOf(root) == before) << name;
        EXPECT_EQ(treeOf(elsewhere), elsewhereBefore) << name;
        EXPECT_EQ(treeOf(repo), repoBefore) << name;
    }
}

// A folder chain deeper than a path can name below `root`: made, or removed again (no path
// reaches its bottom, so the temporary folder's own removal could not).
void deepTree(const fs::path& root, int depth, bool make) {
    if (make) fs::create_directories(root);
    std::vector<UniqueFd> chain;
    chain.emplace_back(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    const std::string name(100, 'd');
    for (int k = 0; k < depth && chain.back().get() >= 0; ++k) {
        if (make) ::mkdirat(chain.back().get(), name.c_str(), 0755);
        chain.emplace_back(::openat(chain.back().get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    }
    ASSERT_GE(chain.back().get(), 0);
    if (make) {
        ASSERT_GE(UniqueFd(::openat(chain.back().get(), "bottom", O_WRONLY | O_CREAT | O_CLOEXEC, 0644)).get(), 0);
        return;
    }
    ::unlinkat(chain.back().get(), "bottom", 0);
    for (std::size_t k = chain.size() - 1; k > 0; --k) ::unlinkat(chain[k - 1].get(), name.c_str(), AT_REMOVEDIR);
}

// What lies in "tmp" never fails a run. A folder where a backup is being created, and an opened
// backup, lose only the regular files there named as pending writes: no folder is entered or
// removed, a tree planted there stays whole, a link stays and so does what it points at.
TEST(MaintainTool, WhatLiesInTmpNeverFailsARunAndNoFolderIsEntered) {
    TempFolder t;
    const auto repo = t / "repo", key = t / "key", tmp = repo / "tmp";
    // The entries directly in "tmp", each with "/" for a folder, "@" for a link.
    const auto entries = [&] {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(tmp))
            names.insert(entry.path().filename().string() + (entry.is_symlink()     ? "@"
                                                             : entry.is_directory() ? "/"
                                                                                    : ""));
        return names;
    };
    const std::string pending = "0123456789abcdef0123456789abcdef", linked = "fedcba9876543210fedcba9876543210";
    t.writeFile("src/a", randomBytes(3000, 1));
    t.writeFile("outside", "not the backup's");
    for (const std::string& name : {pending, std::string("notes.txt"), pending + "0", "folder/" + pending})
        t.writeFile("repo/tmp/" + name, "someone's");
    fs::create_symlink(t / "outside", tmp / linked);
    deepTree(tmp / "deep", 60, true);
    ASSERT_EQ(backUp(t / "src", repo, key), 0);
    EXPECT_EQ(entries(), (std::set<std::string>{pending, "notes.txt", pending + "0", "folder/", linked + "@", "deep/"}))
        << "a folder being made a backup keeps all of it: there is no backup's writer yet";

    fs::create_directory(tmp / "empty");
    t.writeFile("repo/tmp/" + pending, "left by a write");
    EXPECT_EQ(maintain({"mark", repo.string(), "--keep-last", "1"}, key, "marked: "), 0);
    const std::set<std::string> kept = {"notes.txt", pending + "0", "folder/", linked + "@", "deep/", "empty/"};
    EXPECT_EQ(entries(), kept) << "an opened backup's writer takes pending writes only, too";
    EXPECT_TRUE(fs::exists(tmp / "folder" / pending));
    EXPECT_EQ(t.readFile("outside"), bytesOf("not the backup's"));
    EXPECT_EQ(backUp(t / "src", repo, key), 0);
    EXPECT_EQ(entries(), kept);
    deepTree(tmp / "deep", 60, false);
    EXPECT_TRUE(fs::is_empty(tmp / "deep")) << "the whole tree stayed";
}

// A backup made into the copy (from another computer, whose counters are its own), with the
// backup's head at a lower and then at an equal counter: replication leaves the copy as it was.
TEST(MaintainTool, ReplicationKeepsABackupMadeIntoTheCopy) {
    TempFolder t;
    const auto repo = t / "repo", copy = t / "copy", key = t / "key";
    const std::string r = repo.string(), c = copy.string();
    t.writeFile("src/a", randomBytes(3000, 1));
    ASSERT_EQ(backUp(t / "src", repo, key), 0);
    ASSERT_EQ(maintain({"replicate", r, c}, key, ", current"), 0);
    {
        const ScopedEnvironment elsewhere("XDG_STATE_HOME", (t / "elsewhere").string());
        t.writeFile("src/b", "made into the copy");
        ASSERT_EQ(backUp(t / "src", copy, key), 0);
    }
    char host[256] = {};
    ASSERT_EQ(::gethostname(host, sizeof host - 1), 0);
    const std::string kept = " on \"" + std::string(host) +
                             "\"), so the copy was left as it was. To keep it, restore what is needed from the copy, "
                             "or copy this backup into another folder.";
    for (const bool equal : {false, true}) {
        if (equal) {
            ASSERT_EQ(backUp(t / "src", repo, key), 0);
        }
        const auto before = treeOf(copy);
        EXPECT_EQ(maintain({"replicate", r, c}, key, kept), 1) << equal;
        EXPECT_TRUE(treeOf(copy) == before) << equal;
    }

    // More backups made into the copy than the refusal can name: it names the first whole ones
    // while it stays within 4,096 bytes, then counts the others exactly.
    {
        const ScopedEnvironment elsewhere("XDG_STATE_HOME", (t / "elsewhere").string());
        for (int i = 0; i < 150; ++i) {
            t.writeFile("src/b", "made into the copy " + std::to_string(i));
            ASSERT_EQ(backUp(t / "src", copy, key), 0);
        }
    }
    const Answer refused = runTool(WM_MAINTAIN_TOOL, {"replicate", r, c, "--secret-file", key.string()}, t.path());
    const std::string opening = "The copy holds 151 backups made into it that this backup does not have (";
    const std::string closing =
        "), so the copy was left as it was. To keep them, restore what is needed from the "
        "copy, or copy this backup into another folder.";
    const std::size_t from = refused.err.find(opening), to = refused.err.find(closing);
    ASSERT_TRUE(refused.status == 1 && from != std::string::npos && to != std::string::npos) << refused.err;
    EXPECT_LE(to + closing.size() - from, 4096u);
    const std::string named = refused.err.substr(from, to - from);
    std::size_t shown = 0;
    for (std::size_t at = 0; (at = named.find(" on \"" + std::string(host) + "\"", at)) != std::string::npos; ++at)
        ++shown;
    EXPECT_TRUE(shown > 50 && named.ends_with(", and " + std::to_string(151 - shown) + " more")) << named;
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
