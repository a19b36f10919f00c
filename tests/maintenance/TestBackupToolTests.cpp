// The test-backup tool as a separate process: what the main job and the maintenance run do not
// check.

#include <fcntl.h>
#include <sys/acl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <thread>
#include <unordered_set>

#include <gtest/gtest.h>

#include "SnapshotBuilder.h"
#include "ToolFailure.h"
#include "ToolProcess.h"
#include "core/SystemCall.h"
#include "crypto/RecoveryKey.h"
#include "restore/RestoreCoordinator.h"
#include "restore/RestoreTestSupport.h"
#include "storage/LocalFolderDestination.h"
#include "support/EngineTestSupport.h"
#include "support/TempFolder.h"

namespace wm::test {
namespace {

namespace fs = std::filesystem;

// Standard error goes to `errors`.
int runTool(const std::vector<std::string>& arguments, const fs::path& errors = "/dev/null") {
    std::string command = WM_TEST_BACKUP_TOOL;
    for (const auto& a : arguments) command += " '" + a + "'";
    const int status = std::system((command + " >/dev/null 2>'" + errors.string() + "'").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct TestBackupTool : ::testing::Test {
    TempFolder temp{"wm-test-backup"};
    fs::path source = temp / "source", repository = temp / "repository", passphrase = temp / "passphrase.txt";
    std::vector<std::string> create = {source.string(),       repository.string(),
                                       "--passphrase-file",   passphrase.string(),
                                       "--recovery-key-file", (temp / "recovery.txt").string(),
                                       "--iterations",        "1000"};

    void SetUp() override {
        temp.writeFile("source/big.bin", randomBytes(3'000'000, 7));
        acl_t acl = acl_from_text("u::rw-,u:65534:r--,g::r--,m::r--,o::r--");
        ASSERT_EQ(acl_set_file((source / "big.bin").c_str(), ACL_TYPE_ACCESS, acl), 0);
        acl_free(acl);
        ASSERT_EQ(::mkfifo((source / "pipe").c_str(), 0644), 0);
        ::mknod((source / "device").c_str(), S_IFCHR | 0600, makedev(1, 3));  // only as root
        temp.writeFile("passphrase.txt", "\xC2\xA0 a long enough passphrase \r\n\n");
    }
    std::shared_ptr<Repository> unlock() {
        auto destination = std::make_shared<LocalFolderDestination>(
            DestinationID::random(), DestinationKind::localFolder(), repository, std::nullopt,
            LocalFolderDestination::Preparation::readingOnly());
        return Repository::unlock(destination, std::string_view("a long enough passphrase"), testDevice(), "1.0",
                                  std::nullopt, Repository::Access::readOnly)
            .repository;
    }
};

// A later backup into the same repository (the refusals are in the tools' answer table).
TEST_F(TestBackupTool, CapturesAclsAndSpecialFilesAndDeduplicatesALaterBackup) {
    ASSERT_EQ(runTool(create), 0);
    ASSERT_EQ(runTool({source.string(), repository.string(), "--passphrase-file", passphrase.string()}), 0);
    const auto repo = unlock();
    const auto ids = repo->snapshotIDs();
    ASSERT_EQ(ids.size(), 2u);
    EXPECT_EQ(repo->snapshot(ids[1]).parent, ids[0].value);
    EXPECT_LT(repo->snapshot(ids[1]).stats.bytesNew, 1000u);
    std::size_t special = 0;
    forEachEntry(*repo, ids[1], [&](const TreeObject::Entry& entry, const std::string& path) {
        if (path == "big.bin") {
            ASSERT_TRUE(entry.acl.has_value());
            EXPECT_NE(stringOf(*entry.acl).find("user:nobody:r--"), std::string::npos) << stringOf(*entry.acl);
            return;
        }
        EXPECT_EQ(entry.entryType,
                  path == "pipe" ? TreeObject::EntryType::fifo : TreeObject::EntryType::characterDevice)
            << path;
        EXPECT_FALSE(entry.contentBlobs.has_value()) << path;
        ++special;
    });
    EXPECT_GE(special, 1u);
}

// Read-me files are leftovers of a creation cut short only with the system's own text (or
// none): a person's own makes the folder theirs, and it is refused.
TEST_F(TestBackupTool, APersonsOwnReadMeMakesTheFolderTheirs) {
    temp.writeFile("repository/Read Me First.txt", "my own notes");
    ASSERT_EQ(runTool(create, temp / "errors"), 1);
    EXPECT_NE(stringOf(temp.readFile("errors")).find("holds other files and no backup"), std::string::npos);
    EXPECT_EQ(temp.readFile("repository/Read Me First.txt"), bytesOf("my own notes"));
    temp.writeFile("repository/Read Me First.txt", "WENDLE MARSH BACKUP\n=====");
    temp.writeFile("repository/Repository Format.md", "");
    ASSERT_EQ(runTool(create), 0) << "the system's own leftovers are taken";
    EXPECT_GT(fs::file_size(repository / "Repository Format.md"), 1000u);
}

// A person's own file at a name a repository uses is never written over: the folder is refused
// with the sentence for a folder that holds other files and left as it was. What a creation
// cut short leaves is taken, and a creation that fails takes back what it wrote.
TEST_F(TestBackupTool, APersonsFileAtARepositoryNameMakesTheFolderTheirs) {
    ASSERT_EQ(runTool(create), 0);
    const std::string sealedHead = stringOf(temp.readFile("repository/refs/head"));
    const fs::path keyFile = fs::directory_iterator(repository / "keys")->path();
    const Bytes keyBytes = temp.readFile("repository/keys/" + keyFile.filename().string());
    for (const auto& [path, bytes] : std::vector<std::pair<std::string, std::string>>{
             {"refs/head", sealedHead},  // sealed: shows nothing of whose it is
             {"keys/mine.key", "not a key file"}}) {
        fs::remove_all(repository), fs::remove(temp / "recovery.txt");
        temp.writeFile("repository/" + path, bytes);
        const auto before = listTree(repository);
        ASSERT_EQ(runTool(create, temp / "errors"), 1) << path;
        EXPECT_NE(stringOf(temp.readFile("errors"))
                      .find(repository.string() +
                            "\" holds other files and no backup. A new backup goes into a new or empty folder."),
                  std::string::npos)
            << path;
        EXPECT_EQ(listTree(repository), before) << path;
        EXPECT_FALSE(fs::exists(temp / "recovery.txt")) << path;
    }

    // Empty folders, "tmp" with what it holds, the system's read-me, a lock record, a key file.
    fs::remove_all(repository);
    for (const char* name : {"packs", "index", "snapshots", "locks", "replicas", "devices", "gc", "holds", "refs"})
        fs::create_directories(repository / name);
    temp.writeFile("repository/tmp/notes", "a person's own");
    fs::create_directories(repository / "tmp" / "sub");
    temp.writeFile("repository/keys/" + keyFile.filename().string(), keyBytes);
    temp.writeFile("repository/writing.lock", R"({"acquiredAt":"2026-01-02T03:04:05.000Z","deviceID":"00",)"
                                              R"("deviceName":"Laptop","heartbeatAt":"2026-01-02T03:04:05.000Z"})");
    ASSERT_EQ(runTool(create), 0);
    EXPECT_EQ(stringOf(temp.readFile("repository/tmp/notes")), "a person's own");
    EXPECT_TRUE(fs::is_directory(repository / "tmp" / "sub"));

    // The recovery key cannot be written: nothing of the repository stays in the way.
    fs::remove_all(repository), fs::remove(temp / "recovery.txt");
    auto failing = create;
    failing[5] = (temp / "no-folder" / "key.txt").string();
    ASSERT_EQ(runTool(failing), 1);
    EXPECT_FALSE(fs::exists(repository / "wendlemarsh.repo") || fs::exists(repository / "refs" / "head"));
    ASSERT_EQ(runTool(create), 0);
}

// Makes the folders of `names` one in the other below `folder` (each one step from the last,
// as a path may be longer than the system takes whole); the deepest one, open.
UniqueFd makeNested(const fs::path& folder, const std::vector<std::string>& names) {
    UniqueFd at(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    for (const auto& name : names) {
        ::mkdirat(at.get(), name.c_str(), 0755);
        at = UniqueFd(::openat(at.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    }
    return at;
}

// The restore refuses a path of more than 512 components or 4096 bytes (each name and a
// separator): the tool leaves such entries out, says so with the restore's reason, and the
// snapshot restores whole. Paths right at the limits are kept.
TEST_F(TestBackupTool, LeavesOutWhatTheRestoreWouldRefuseAndTheRestRestoresWhole) {
    fs::remove_all(source);
    fs::create_directory(source);
    const std::vector<std::string> deep(520, "d");
    makeNested(source, deep);
    temp.writeFile("source/d/file", "kept");
    const std::vector<std::string> long16(16, std::string(250, 'n'));  // 16 * 251 bytes
    const UniqueFd longest = makeNested(source, long16);
    // 4096 bytes: kept, and read though the whole path is longer than the system takes.
    const UniqueFd atTheLimit(
        ::openat(longest.get(), std::string(79, 'y').c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
    ASSERT_EQ(::write(atTheLimit.get(), "kept", 4), 4);
    ::close(::openat(longest.get(), std::string(80, 'x').c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));

    ASSERT_EQ(runTool(create, temp / "errors"), 0);
    std::ifstream in(temp / "errors");
    const std::string errors{std::istreambuf_iterator<char>(in), {}};
    std::string tooDeep = "d";
    for (int level = 2; level <= 513; ++level) tooDeep += "/d";
    std::string tooLong;
    for (const auto& name : long16) tooLong += name + "/";
    tooLong += std::string(80, 'x');
    EXPECT_EQ(errors, "wm-test-backup: " + tooDeep +
                          ": not backed up, as the restore would refuse it. This entry is nested deeper than 512 "
                          "levels, which is refused as a safety limit.\nwm-test-backup: " +
                          tooLong +
                          ": not backed up, as the restore would refuse it. This entry's path is longer than 4096 "
                          "bytes, which is refused as a safety limit.\n");

    const auto repo = unlock();
    const RestoreResult restored =
        RestoreCoordinator().restore(repo->snapshotIDs().at(0), *repo, temp / "restored", {});
    EXPECT_TRUE(restored.failures.empty() && restored.skipped.empty());
    EXPECT_EQ(restored.directoriesRestored, 512u + 16);
    EXPECT_EQ(restored.filesRestored, 2u);
}

// Files that change between the scan and the read, read one after the other: one that shrinks
// to 300,000 bytes as its reading starts is read no further than that and recorded that long,
// under both its names and in the logical bytes, without the hole that now lies beyond; one
// that ends at the start of its second data region keeps the hole before it (where the file
// system has holes); one swapped for a named pipe is recorded as unreadable at once. The
// restore puts back what was read.
TEST_F(TestBackupTool, AFileThatChangesBetweenScanAndReadIsRecordedAsItWasRead) {
    constexpr std::uint64_t MiB = 1 << 20;
    fs::remove_all(source);
    fs::create_directory(source);
    const Bytes a = randomBytes(MiB, 1), b = randomBytes(MiB, 2);
    const auto makeSparse = [&](const std::string& name) {  // data, a hole, data
        const UniqueFd fd(::open((source / name).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
        EXPECT_EQ(::pwrite(fd.get(), a.data(), MiB, 0), static_cast<ssize_t>(MiB));
        EXPECT_EQ(::pwrite(fd.get(), b.data(), MiB, 2 * MiB), static_cast<ssize_t>(MiB));
    };
    makeSparse("shrinks");
    fs::create_hard_link(source / "shrinks", source / "shrinks-too");
    struct stat st {};
    ASSERT_EQ(::stat((source / "shrinks").c_str(), &st), 0);
    const bool holes = static_cast<std::uint64_t>(st.st_blocks) * 512 < 3 * MiB;
    if (holes) makeSparse("stops-at-the-hole");
    temp.writeFile("source/swapped", "soon a pipe");

    const auto repository = createRepository(std::make_shared<InMemoryDestination>(), makeKeys());
    SnapshotBuilder builder(*repository, source.string(), 16 * MiB, 1);
    std::map<std::string, std::vector<std::uint64_t>> reads;
    builder.setBeforeEachReadForTesting([&](const std::string& path, std::uint64_t offset) {
        reads[path].push_back(offset);
        if (path == "shrinks") {
            fs::resize_file(source / "shrinks", 300'000);
            fs::remove(source / "swapped");
            EXPECT_EQ(::mkfifo((source / "swapped").c_str(), 0644), 0);
        }
        if (path == "stops-at-the-hole" && offset == 2 * MiB)
            fs::resize_file(source / "stops-at-the-hole", MiB + MiB / 2);
    });
    ::alarm(60);  // a read that waits on the pipe ends the run
    const SnapshotBuilder::Result made = builder.run("test");
    ::alarm(0);
    EXPECT_EQ(reads["shrinks"], std::vector<std::uint64_t>{0});
    std::vector<std::string> problems = {"shrinks: the file changed while it was read",
                                         "swapped: the file could not be read: it is no longer a regular file"};
    if (holes) problems.insert(problems.begin() + 1, "stops-at-the-hole: the file changed while it was read");
    EXPECT_EQ(made.problems, problems);
    EXPECT_EQ(made.stats.bytesLogical, 2 * 300'000 + (holes ? 2 * MiB : 0) + 11);
    EXPECT_EQ(made.stats.unstableFiles, holes ? 3u : 2u);
    EXPECT_EQ(made.stats.unreadableFiles, 1u);
    using Holes = std::optional<std::vector<TreeObject::SparseRange>>;
    forEachEntry(*repository, made.id, [&](const TreeObject::Entry& entry, const std::string& path) {
        SCOPED_TRACE(path);
        if (path == "swapped") {
            EXPECT_EQ(entry.status, TreeObject::Status::unreadable);
            EXPECT_FALSE(entry.contentBlobs.has_value());
            return;
        }
        const bool stopped = path == "stops-at-the-hole";
        EXPECT_EQ(entry.status, TreeObject::Status::unstable);
        EXPECT_EQ(entry.size, stopped ? 2 * MiB : 300'000);
        EXPECT_EQ(entry.sparseRanges, (stopped ? Holes{{{MiB, MiB}}} : Holes{}));
    });

    const RestoreResult restored = RestoreCoordinator().restore(made.id, *repository, temp / "restored", {});
    EXPECT_TRUE(restored.isComplete());
    EXPECT_EQ(restored.hardLinksRestored, 1u);
    using Strings = std::vector<std::string>;
    Strings changed;
    for (const auto& record : restored.unpreserved)
        if (record.attribute == "content") changed.push_back(record.path);
    const Strings expected = holes ? Strings{"shrinks", "stops-at-the-hole"} : Strings{"shrinks"};
    EXPECT_EQ(changed, expected);
    EXPECT_EQ(temp.readFile("restored/shrinks"), Bytes(a.begin(), a.begin() + 300'000));
    if (!holes) return;
    Bytes stoppedAt = a;
    stoppedAt.resize(2 * MiB);
    EXPECT_EQ(temp.readFile("restored/stops-at-the-hole"), stoppedAt);
}

// Of a file with more holes than an entry records, the largest stay holes and of equal ones the
// earlier, so that one file is recorded the same way each time; the kept ones in file order.
TEST(HoleChoice, KeepsTheLargestHolesAndOfEqualOnesTheEarlier) {
    using Holes = std::vector<SparseLayout::Region>;
    const auto spaced = [](const std::vector<std::uint64_t>& lengths) {  // holes at 100, 200, ...
        Holes holes;
        for (std::size_t i = 0; i < lengths.size(); ++i) holes.push_back({100 * (i + 1), lengths[i]});
        return holes;
    };
    const std::tuple<const char*, Holes, std::size_t, Holes> rows[] = {
        // what, holes, limit, holes kept
        {"more than the limit", spaced({4, 1, 3, 2, 5}), 3, {{100, 4}, {300, 3}, {500, 5}}},
        {"equal ones: the earlier kept", spaced({2, 2, 2, 2}), 2, {{100, 2}, {200, 2}}},
        {"equal at the cut", spaced({5, 2, 4, 2, 2}), 3, {{100, 5}, {200, 2}, {300, 4}}},
        {"equal among the largest", spaced({1, 3, 3, 1, 3}), 2, {{200, 3}, {300, 3}}},
        {"given out of file order", {{500, 2}, {100, 1}, {300, 2}, {200, 2}}, 2, {{200, 2}, {300, 2}}},
        {"fewer than the limit", spaced({3, 1}), 5, spaced({3, 1})},
        {"no room", spaced({3}), 0, {}},
    };
    for (const auto& [what, holes, limit, kept] : rows)
        EXPECT_EQ(SparseLayout::holesToKeep(holes, limit), kept) << what;
}

// An entry a tree object cannot hold (metadata put in after the scan) is left out with a line
// naming it and why, and the rest is backed up and restores; the snapshot counts what it holds.
TEST_F(TestBackupTool, AnEntryATreeCannotHoldIsLeftOutWithItsReasonAndTheRunGoesOn) {
    fs::remove_all(source);
    for (const char* name : {"kept", "holes", "owner", "group", "attributes/inside", "attribute-name"})
        temp.writeFile(std::string("source/") + name, std::string(name));
    fs::create_symlink("kept", source / "link");
    const auto repository = createRepository(std::make_shared<InMemoryDestination>(), makeKeys());
    SnapshotBuilder builder(*repository, source.string(), 16u << 20, 1);
    builder.setAfterScanForTesting([](DirectoryScanner::Entry& root) {
        for (auto& child : root.children) {
            FileMetadata& m = child.metadata;
            if (child.name == "attributes") m.extendedAttributes.resize(65'536);
            if (child.name == "attribute-name") m.extendedAttributes = {{Bytes(65'536, 'x'), bytesOf("v")}};
            if (child.name == "holes") m.sparseRanges = std::vector<FileMetadata::SparseRange>(65'536, {1, 1});
            if (child.name == "link") m.symlinkTarget = Bytes(65'536, 's');
            if (child.name == "owner") m.userName = std::string(65'536, 'u');
            if (child.name == "group") m.groupName = std::string(65'536, 'g');
        }
    });
    const SnapshotBuilder::Result made = builder.run("test");
    const std::string because = ": not backed up, as ";
    EXPECT_EQ(made.problems,
              (std::vector<std::string>{
                  "attribute-name" + because +
                      "the name of one of its extended attributes is longer than a backup records (65,535 bytes)",
                  "attributes" + because + "it has more extended attributes than a backup records (65,535)",
                  "group" + because + "its group's name is longer than a backup records (65,535 bytes)",
                  "holes" + because + "it has more holes than a backup records (65,535)",
                  "link" + because + "the target of the link is longer than a backup records (65,535 bytes)",
                  "owner" + because + "its owner's name is longer than a backup records (65,535 bytes)",
              }));
    std::vector<std::string> recorded;
    forEachEntry(*repository, made.id,
                 [&](const TreeObject::Entry&, const std::string& path) { recorded.push_back(path); });
    EXPECT_EQ(recorded, std::vector<std::string>{"kept"});
    EXPECT_EQ(std::tuple(made.stats.files, made.stats.directories, made.stats.bytesLogical), std::tuple(1u, 0u, 4u));
    EXPECT_TRUE(RestoreCoordinator().restore(made.id, *repository, temp / "restored", {}).isComplete());
    EXPECT_EQ(temp.readFile("restored/kept"), bytesOf("kept"));
}

// An honest backup of any shape (links, pipes, hard links, empty files, files of several chunks,
// folders copied whole) is never stopped, even allowed nothing for what its record does not
// count: the entries its trees store are allowed for.
TEST_F(TestBackupTool, AnHonestBackupIsNeverStoppedWhateverItsShape) {
    const fs::path one = source / "one";
    fs::create_directories(one / "deep");
    temp.writeFile("source/one/linked", "linked");
    for (int i = 0; i < 300; ++i) {
        const std::string n = std::to_string(i);
        fs::create_symlink("../linked", one / "deep" / ("link" + n));
        ASSERT_EQ(::mkfifo((one / "deep" / ("pipe" + n)).c_str(), 0644), 0);
        temp.writeFile("source/one/deep/empty" + n, "");
        if (i < 100) fs::create_hard_link(one / "linked", one / ("hard" + n));
    }
    temp.writeFile("source/one/chunks.bin", randomBytes(5'000'000, 9));
    for (const fs::path& to : {source / "two", source / "two/three"})
        ASSERT_EQ(std::system(("cp -a '" + one.string() + "' '" + to.string() + "'").c_str()), 0);
    ASSERT_EQ(runTool(create), 0);
    const auto repo = unlock();
    const RestoreResult restored =
        RestoreCoordinator(std::nullopt, 0).restore(repo->snapshotIDs().at(0), *repo, temp / "restored", {});
    EXPECT_TRUE(restored.isComplete()) << restored.failures.total();
}

// Rotations of copies made with hard links (`cp -al`): the copies share their inodes, so the
// backup stores one tree for all, met once per copy by the restore. None is stopped, even
// allowed nothing beyond what its record counts; nor is a top folder of more links than that.
TEST_F(TestBackupTool, HardLinkedRotationsAndWideFoldersComeBackWhole) {
    const auto link = [](const fs::path& at, int i) { fs::create_symlink("../target" + std::to_string(i), at); };
    const auto hardLinked = [](const fs::path& at, int i) {  // ten names for each file
        if (i % 10 == 0)
            std::ofstream{at} << "content " << i;
        else
            fs::create_hard_link(at.parent_path() / ("e" + std::to_string(i - i % 10)), at);
    };
    struct Row {
        const char* shape;
        std::function<void(const fs::path&, int)> make;
        int copies;  // 0: the entries lie at the top of the backup
        std::uint64_t allowance;
        std::vector<std::uint64_t> counts;  // files, hard links, folders, links, skipped
    };
    for (const Row& row : {
             Row{"links", link, 5, 0, {0, 0, 5, 1500, 0}},
             Row{"pipes",
                 [](const fs::path&at, int) { ASSERT_EQ(::mkfifo(at.c_str(), 0644), 0); },
                 5,
                 0,
                 {0, 0, 5, 0, 1500}},
             Row{"empty files", [](const fs::path&at, int) { std::ofstream{at}; }, 5, 0, {300, 1200, 5, 0, 0}},
             Row{"hard-linked files", hardLinked, 5, 0, {30, 1470, 5, 0, 0}},
             Row{"one folder of links", link, 0, 100, {0, 0, 0, 300, 0}},
         }) {
        SCOPED_TRACE(row.shape);
        for (const fs::path& made : {source, repository, temp / "recovery.txt", temp / "restored"})
            fs::remove_all(made);
        const fs::path first = row.copies > 0 ? source / "s0" : source;
        fs::create_directories(first);
        for (int i = 0; i < 300; ++i) row.make(first / ("e" + std::to_string(i)), i);
        for (int copy = 1; copy < row.copies; ++copy)
            ASSERT_EQ(
                std::system(("cp -al '" + first.string() + "' '" + source.string() + "/s" + std::to_string(copy) + "'")
                                .c_str()),
                0);
        ASSERT_EQ(runTool(create), 0);
        const auto repo = unlock();
        const SnapshotID id = repo->snapshotIDs().at(0);
        std::unordered_set<BlobID> trees;
        forEachEntry(*repo, id, [&](const TreeObject::Entry& entry, const std::string&) {
            if (entry.childTree) trees.insert(*entry.childTree);
        });
        EXPECT_EQ(trees.size(), row.copies > 0 ? 1u : 0u) << "the copies are stored as one tree";
        const RestoreResult r =
            RestoreCoordinator(std::nullopt, row.allowance).restore(id, *repo, temp / "restored", {});
        EXPECT_TRUE(r.isComplete()) << r.failures.stop().value_or(RestoreResult::Failure{}).reason;
        EXPECT_EQ((std::vector{r.filesRestored, r.hardLinksRestored, r.directoriesRestored, r.symlinksRestored,
                               r.skipped.total()}),
                  row.counts);
    }
}

// A creation cut at any moment: the tool is killed at the entry of the k-th call of one name (by
// tests/support/CutAtCall.cpp, preloaded into it) or by a signal part way through its run. The
// next run with the same arguments and state folder must take what it left: the repository then
// opens with each secret, its newest snapshot holds the source, and the recovery-key file is
// whole and alone in its folder.
struct Cut {
    std::string call;  // none: not cut
    unsigned long at = 0;
    bool within = false;  // a write: half its bytes first
};

std::string described(const Cut& cut) {
    if (cut.call.empty()) return "not cut";
    return std::string(cut.within ? "cut half way through " : "cut at the entry of ") + cut.call + " #" +
           std::to_string(cut.at);
}

using Counts = std::map<std::string, unsigned long>;
const char* const cutCalls[] = {"mkdir", "mkdirat", "fsync",  "fdatasync", "rename", "renameat", "renameat2",
                                "link",  "linkat",  "unlink", "unlinkat",  "write",  "pwrite"};
constexpr std::string_view cutPassphrase = "a long enough passphrase";

// One case's folder: the repository, the recovery key in a folder of its own, the state folder
// (repositories are remembered there per folder) and the tool's output.
struct Case {
    fs::path run;
    fs::path repository() const { return run / "repository"; }
    fs::path recoveryKey() const { return run / "key" / "recovery.txt"; }
    // No repository, no recovery key, an empty state folder.
    const Case& fresh() const {
        fs::remove_all(run);
        fs::create_directories(recoveryKey().parent_path());
        return *this;
    }
};

struct CreationCuts : ::testing::Test {
    TempFolder temp{"wm-cut"};
    fs::path source = temp / "source";
    Case one{temp / "run"};
    bool withPassphrase = true;
    std::optional<std::string> iterations = "1000";

    void SetUp() override {
        temp.writeFile("source/small.txt", "small");
        temp.writeFile("source/folder/big.bin", randomBytes(200'000, 3));
        fs::create_symlink("small.txt", source / "link");
        temp.writeFile("passphrase.txt", std::string(cutPassphrase) + "\n");
        one.fresh();
    }
    std::vector<std::string> arguments(const Case& c) const {
        std::vector<std::string> a{source.string(), c.repository().string()};
        if (withPassphrase) a.insert(a.end(), {"--passphrase-file", (temp / "passphrase.txt").string()});
        a.insert(a.end(), {"--recovery-key-file", c.recoveryKey().string()});
        if (iterations) a.insert(a.end(), {"--iterations", *iterations});
        return a;
    }
    Started start(const Case& c, const Cut& cut, const std::vector<std::string>& more = {}) const {
        std::vector<std::string> changes = preloading(WM_CUT_AT_CALL);
        changes.push_back("XDG_STATE_HOME=" + (c.run / "state").string());
        if (!cut.call.empty())
            changes.insert(changes.end(), {"WM_CUT_CALL=" + cut.call, "WM_CUT_AT=" + std::to_string(cut.at),
                                           std::string("WM_CUT_WITHIN=") + (cut.within ? "1" : "0")});
        changes.insert(changes.end(), more.begin(), more.end());
        return startTool(WM_TEST_BACKUP_TOOL, arguments(c), c.run, environmentWith(changes));
    }
    Answer runCut(const Case& c, const Cut& cut) const { return finishTool(start(c, cut), 120); }

    // The calls of an uncut run from where the case stands, per name; none if it fails.
    Counts counted(const Case& c, const std::string& context) const {
        const fs::path file = c.run / ".counts";
        const Answer answer = finishTool(start(c, {}, {"WM_CUT_COUNT_FILE=" + file.string()}), 120);
        EXPECT_EQ(answer.status, 0) << context << ": " << answer.err;
        Counts counts;
        if (answer.status != 0) return counts;
        std::ifstream in(file);
        std::string name;
        unsigned long count = 0;
        while (in >> name >> count) counts[name] = count;
        return counts;
    }

    static void expectHoldsSource(const Repository& repo, const std::string& context) {
        const auto ids = repo.snapshotIDs();
        ASSERT_FALSE(ids.empty()) << context;
        std::vector<std::string> paths;
        forEachEntry(repo, ids.back(),
                     [&](const TreeObject::Entry&, const std::string& path) { paths.push_back(path); });
        std::sort(paths.begin(), paths.end());
        EXPECT_EQ(paths, (std::vector<std::string>{"folder", "folder/big.bin", "link", "small.txt"})) << context;
        EXPECT_EQ(readWhole(repo, ids.back()), 200'005u) << context;
    }
    void expectWhole(const Case& c, const std::string& context) const {
        std::vector<std::string> beside;
        for (const auto& entry : fs::directory_iterator(c.recoveryKey().parent_path()))
            beside.push_back(entry.path().filename().string());
        EXPECT_EQ(beside, std::vector<std::string>{"recovery.txt"}) << context;
        ASSERT_TRUE(fs::is_regular_file(c.recoveryKey())) << context << ": no recovery-key file";
        std::string key = stringOf(temp.readFile(c.recoveryKey()));
        while (!key.empty() && std::isspace(static_cast<unsigned char>(key.back()))) key.pop_back();
        ASSERT_FALSE(key.empty()) << context << ": the recovery-key file is empty";
        try {
            const auto folder = localFolder(c.repository());
            const auto access = Repository::Access::readOnly;
            expectHoldsSource(
                *Repository::unlock(folder, RecoveryKey::parse(key), testDevice(), "1.0", std::nullopt, access)
                     .repository,
                context + ", with the recovery key");
            if (withPassphrase)
                expectHoldsSource(
                    *Repository::unlock(folder, cutPassphrase, testDevice(), "1.0", std::nullopt, access).repository,
                    context + ", with the passphrase");
        } catch (const std::exception& e) {
            ADD_FAILURE() << context << ": " << tools::failureSentence(e);
        }
    }
    // What a cut left is taken by the next run.
    void expectTaken(const Case& c, const std::string& context) const {
        if (fs::exists(c.recoveryKey())) {
            EXPECT_GT(fs::file_size(c.recoveryKey()), 0u) << context << ": the cut left an empty recovery-key file";
        }
        const Answer next = runCut(c, {});
        EXPECT_EQ(next.status, 0) << context << ": the next run: " << next.err;
        if (next.status == 0) expectWhole(c, context);
    }
    // A cut within the count stops the run; one beyond it is no cut, and the run ends well.
    void expectCutAndTaken(const Case& c, const Cut& cut, unsigned long count, const std::string& context) const {
        const Answer answer = runCut(c, cut);
        if (cut.at > count) {
            EXPECT_EQ(answer.status, 0) << context << ", beyond the count of " << count << ": " << answer.err;
            expectWhole(c, context);
            return;
        }
        ASSERT_EQ(answer.signal, SIGKILL) << context << ": the run was not cut: " << answer.err;
        expectTaken(c, context);
    }

    // Each row in a fresh case; a few cases at once, each in a folder of its own.
    void inCases(std::size_t rows, const std::function<void(std::size_t row, const Case&)>& body) const {
        std::atomic<std::size_t> next = 0;
        std::vector<std::thread> workers;
        for (int w = 0; w < 4; ++w)
            workers.emplace_back([&, w] {
                const Case c{temp / ("run" + std::to_string(w))};
                for (std::size_t row = next++; row < rows; row = next++) {
                    try {
                        body(row, c.fresh());
                    } catch (const std::exception& e) {
                        ADD_FAILURE() << "row " << row << ": " << e.what();
                    }
                }
            });
        for (auto& worker : workers) worker.join();
    }
};

struct EveryCut : CreationCuts, ::testing::WithParamInterface<bool> {
    void SetUp() override {
        withPassphrase = GetParam();
        CreationCuts::SetUp();
    }
};

// Every call a creation makes, each in turn, and each write cut half way through.
TEST_P(EveryCut, ACreationCutAtAnyCallIsTakenByTheNextRun) {
    Counts counts = counted(one, "uncut");
    expectWhole(one, "uncut");
    // The library sees the tool's calls, the standard library's making of folders (mkdir) among them.
    for (const std::vector<std::string>& either : std::vector<std::vector<std::string>>{{"mkdir"},
                                                                                        {"mkdirat"},
                                                                                        {"fsync", "fdatasync"},
                                                                                        {"rename", "renameat"},
                                                                                        {"unlinkat"},
                                                                                        {"write", "pwrite"}}) {
        unsigned long seen = 0;
        for (const auto& call : either) seen += counts[call];
        EXPECT_GT(seen, 0u) << either.front();
    }
    std::vector<Cut> cuts;
    for (const char* call : cutCalls)
        for (unsigned long k = 1; k <= counts[call] + 1; ++k) cuts.push_back({call, k});
    for (const char* call : {"write", "pwrite"})
        for (unsigned long k = 1; k <= counts[call]; ++k) cuts.push_back({call, k, true});
    inCases(cuts.size(), [&](std::size_t row, const Case& c) {
        expectCutAndTaken(c, cuts[row], counts.at(cuts[row].call), described(cuts[row]));
    });
}

// The run that takes a cut creation's leftovers, itself cut at each of its syncs and renames:
// leftovers of a creation early on, half way and late (once its secrets are in place).
TEST_P(EveryCut, ARunTakingLeftoversCutAgainIsTakenByTheRunAfter) {
    Counts counts = counted(one, "uncut");
    struct Row {
        Cut first, second;
        unsigned long count;  // the second run's calls of its name
    };
    std::vector<Row> rows;
    for (const Cut& first : {Cut{"mkdirat", counts["mkdirat"] / 2}, Cut{"renameat", counts["renameat"] / 3},
                             Cut{"fsync", counts["fsync"] * 3 / 4}}) {
        ASSERT_EQ(runCut(one.fresh(), first).signal, SIGKILL) << described(first);
        Counts second = counted(one, described(first) + ", then not cut");
        if (second.empty()) continue;  // that run failed
        for (const char* call : {"fsync", "renameat"})
            for (unsigned long k = 1; k <= second[call] + 1; ++k) rows.push_back({first, {call, k}, second[call]});
    }
    inCases(rows.size(), [&](std::size_t i, const Case& c) {
        const Row& row = rows[i];
        ASSERT_EQ(runCut(c, row.first).signal, SIGKILL) << described(row.first);
        expectCutAndTaken(c, row.second, row.count, described(row.first) + ", then " + described(row.second));
    });
}

INSTANTIATE_TEST_SUITE_P(Secrets, EveryCut, ::testing::Bool(), [](const ::testing::TestParamInfo<bool>& secret) {
    return secret.param ? "WithAPassphrase" : "WithTheRecoveryKeyAlone";
});

// Signals part way through a creation whose passphrase derivation takes its default time, so
// that the later moments fall inside it.
TEST_F(CreationCuts, ACreationStoppedByASignalIsTakenByTheNextRun) {
    iterations.reset();
    const auto began = std::chrono::steady_clock::now();
    const Answer uncut = runCut(one, {});
    const auto took = std::chrono::steady_clock::now() - began;
    ASSERT_EQ(uncut.status, 0) << uncut.err;
    expectWhole(one, "uncut");
    const std::tuple<const char*, int, double> rows[] = {
        // signal, share of an uncut run's time
        {"SIGKILL", SIGKILL, 0.05}, {"SIGINT", SIGINT, 0.2},   {"SIGTERM", SIGTERM, 0.35}, {"SIGKILL", SIGKILL, 0.5},
        {"SIGINT", SIGINT, 0.65},   {"SIGTERM", SIGTERM, 0.8}, {"SIGKILL", SIGKILL, 0.95},
    };
    for (const auto& [name, signal, share] : rows) {
        const auto delay = std::chrono::duration_cast<std::chrono::milliseconds>(took * share);
        std::string context = std::string(name) + " after " + std::to_string(delay.count()) + " ms";
        const Started started = start(one.fresh(), {});
        std::this_thread::sleep_for(delay);
        ::kill(started.pid, signal);
        if (finishTool(started, 120).signal == 0) context += " (the run had ended)";
        expectTaken(one, context);
    }
}

}  // namespace
}  // namespace wm::test
