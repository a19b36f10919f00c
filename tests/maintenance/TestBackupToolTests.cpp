// The test-backup tool as a separate process: what the main job and the maintenance run do not
// check.

#include <fcntl.h>
#include <sys/acl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
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

// A creation cut at any moment (at the entry of the k-th call of one name or half way through a
// write, by tests/support/CutAtCall.cpp preloaded into the tool, or by a signal) is taken by the
// next run with the same arguments and state folder.
struct Cut {
    std::string call;  // none: not cut
    unsigned long at = 0;
    bool within = false;  // a write: half its bytes first
};
constexpr std::string_view cutPassphrase = "a long enough passphrase";

struct CreationCuts : ::testing::TestWithParam<bool> {
    TempFolder temp{"wm-cut"};
    std::optional<std::string> iterations = "1000";

    void SetUp() override {
        temp.writeFile("source/small.txt", "small");
        temp.writeFile("source/folder/big.bin", randomBytes(200'000, 3));
        fs::create_symlink("small.txt", temp / "source/link");
        temp.writeFile("passphrase.txt", std::string(cutPassphrase) + "\n");
    }
    // A run's folder: the repository, the state folder, the recovery key in a folder of its own.
    fs::path made(const std::string& name) const {
        fs::create_directories(temp / name / "key");
        return temp / name;
    }
    Started start(const fs::path& run, const Cut& cut) const {
        std::vector<std::string> a{(temp / "source").string(), (run / "repository").string(), "--recovery-key-file",
                                   (run / "key/recovery.txt").string()};
        if (GetParam()) a.insert(a.end(), {"--passphrase-file", (temp / "passphrase.txt").string()});
        if (iterations) a.insert(a.end(), {"--iterations", *iterations});
        std::vector<std::string> changes = preloading(WM_CUT_AT_CALL);
        changes.insert(changes.end(),
                       {"XDG_STATE_HOME=" + (run / "state").string(), "WM_CUT_CALL=" + cut.call,
                        "WM_CUT_AT=" + std::to_string(cut.at), "WM_CUT_WITHIN=" + std::to_string(cut.within),
                        "WM_CUT_COUNT_FILE=" + (run / ".counts").string()});
        return startTool(WM_TEST_BACKUP_TOOL, a, run, environmentWith(changes));
    }
    // Each cut in turn, then a run not cut that ends well. No cut leaves an empty recovery-key
    // file, nor a config the passphrase cannot open; in the end the key file is alone in its
    // folder, one key file per secret opens the repository, the newest snapshot holds the source.
    void expectTaken(const fs::path& run, const std::vector<Cut>& cuts, std::string context) const {
        for (const Cut& cut : cuts)
            context += (cut.within ? ", half way through " : ", at ") + cut.call + " #" + std::to_string(cut.at);
        SCOPED_TRACE(context);
        const fs::path key = run / "key/recovery.txt";
        const auto folder = localFolder(run / "repository");
        const auto access = Repository::Access::readOnly;
        try {
            for (const Cut& cut : cuts) {
                const Answer answer = finishTool(start(run, cut), 120);
                EXPECT_EQ(answer.signal, SIGKILL) << cut.call << " #" << cut.at << " was not cut: " << answer.err;
                EXPECT_TRUE(!fs::exists(key) || fs::file_size(key) > 0) << "an empty recovery-key file";
                const bool config = GetParam() && fs::exists(run / "repository/wendlemarsh.repo");
                EXPECT_TRUE(!config || Repository::openKeyFile(*folder, cutPassphrase)) << "a config without its keys";
            }
            const Answer next = finishTool(start(run, {}), 120);
            ASSERT_EQ(next.status, 0) << "the next run: " << next.err;
            ASSERT_EQ(std::vector<fs::path>(fs::directory_iterator(key.parent_path()), {}), std::vector{key});
            EXPECT_EQ(std::distance(fs::directory_iterator(run / "repository/keys"), {}), GetParam() ? 2 : 1);
            const RecoveryKey recovery = RecoveryKey::parse(stringOf(temp.readFile(key)));
            auto repo = Repository::unlock(folder, recovery, testDevice(), "1.0", std::nullopt, access).repository;
            if (GetParam()) Repository::unlock(folder, cutPassphrase, testDevice(), "1.0", std::nullopt, access);
            const auto ids = repo->snapshotIDs();
            ASSERT_FALSE(ids.empty());
            std::vector<std::string> paths;
            forEachEntry(*repo, ids.back(), [&](const auto&, const std::string& p) { paths.push_back(p); });
            std::ranges::sort(paths);
            EXPECT_EQ(paths, (std::vector<std::string>{"folder", "folder/big.bin", "link", "small.txt"}));
            EXPECT_EQ(readWhole(*repo, ids.back()), 200'005u);
        } catch (const std::exception& e) {
            ADD_FAILURE() << tools::failureSentence(e);
        }
    }
    // Checked as above, the calls per name of the run not cut after the cuts.
    std::map<std::string, unsigned long> counted(const fs::path& run, const std::vector<Cut>& cuts = {}) const {
        expectTaken(run, cuts, "counted");
        std::map<std::string, unsigned long> counts;
        std::ifstream in(run / ".counts");
        for (std::pair<std::string, unsigned long> c; in >> c.first >> c.second;) counts.insert(c);
        return counts;
    }
    // Each row in a run folder of its own, eight rows at once.
    void inRuns(std::size_t rows, const std::function<void(std::size_t row, const fs::path& run)>& body) const {
        std::atomic<std::size_t> next = 0;
        std::vector<std::jthread> workers;
        for (int w = 0; w < 8; ++w)
            workers.emplace_back([&] {
                for (std::size_t row = next++; row < rows; row = next++) body(row, made("row" + std::to_string(row)));
            });
    }
};

// Every call of an uncut creation cut in turn, each write also half way, the library seeing them
// all (the standard library's mkdir too); then the run taking a cut's leftovers cut at each sync
// and rename, after an early, a middle and a late cut.
TEST_P(CreationCuts, ACreationCutAtAnyCallIsTakenByTheRunAfter) {
    auto counts = counted(made("uncut"));
    for (const char* call : {"mkdir", "mkdirat", "fsync", "renameat", "unlinkat", "write"})
        EXPECT_GT(counts[call], 0u) << call;
    std::vector<std::vector<Cut>> rows;
    for (const auto& [call, count] : counts)
        for (unsigned long k = 1; k <= count; ++k)
            for (int within = 0; within <= call.ends_with("write"); ++within) rows.push_back({{call, k, within == 1}});
    for (const Cut& first : {Cut{"mkdirat", counts["mkdirat"] / 2}, Cut{"renameat", counts["renameat"] / 3},
                             Cut{"fsync", counts["fsync"] * 3 / 4}}) {
        auto second = counted(made(first.call), {first});
        for (const char* call : {"fsync", "renameat"})
            for (unsigned long k = 1; k <= second[call]; ++k) rows.push_back({first, {call, k}});
    }
    inRuns(rows.size(), [&](std::size_t row, const fs::path& run) { expectTaken(run, rows[row], "cut"); });
}

// Signals at 5%, 20%, ... 95% of an uncut creation's time; a passphrase's derivation takes its
// default time, so that the later moments fall inside it.
TEST_P(CreationCuts, ACreationStoppedByASignalIsTakenByTheNextRun) {
    iterations.reset();
    const auto began = std::chrono::steady_clock::now();
    ASSERT_EQ(finishTool(start(made("uncut"), {}), 120).status, 0);
    const auto took = std::chrono::steady_clock::now() - began;
    inRuns(7, [&](std::size_t row, const fs::path& run) {
        const int signal = std::array{SIGKILL, SIGINT, SIGTERM}[row % 3];
        const auto delay = std::chrono::duration_cast<std::chrono::milliseconds>(took * (0.05 + 0.15 * row));
        const Started started = start(run, {});
        std::this_thread::sleep_for(delay);
        ::kill(started.pid, signal);
        finishTool(started, 120);
        expectTaken(run, {}, "signal " + std::to_string(signal) + " after " + std::to_string(delay.count()) + " ms");
    });
}

INSTANTIATE_TEST_SUITE_P(Secrets, CreationCuts, ::testing::Bool(), [](const ::testing::TestParamInfo<bool>& secret) {
    return secret.param ? "WithAPassphrase" : "WithTheRecoveryKeyAlone";
});

}  // namespace
}  // namespace wm::test
