#include <sys/stat.h>

#include "restore/RestoreTestSupport.h"

namespace wm {
namespace {

namespace fs = std::filesystem;
using namespace test;
using T = TreeObject::EntryType;
using RestoreCoordinatorTest = RestoreFixture;

TEST_F(RestoreCoordinatorTest, FullTree) {
    const BlobID hello = backup.add("hello\n");
    auto sparse = fileEntry("sparse.img", {backup.add(std::string(8192, 'x'))}, 64u << 20);
    sparse.sparseRanges = std::vector<TreeObject::SparseRange>{{4096, (64u << 20) - 8192}};
    auto unreadable = fileEntry("locked.txt", {hello}, 6);
    unreadable.status = TreeObject::Status::unreadable;
    auto unstable = fileEntry("changing.txt", {hello}, 6);
    unstable.status = TreeObject::Status::unstable;
    auto privateFile = fileEntry("private.txt", {hello}, 6);
    privateFile.mode = 0100600;
    privateFile.modificationTime = {1'500'000'000, 123'000'000};
    const BlobID inner = backup.addTree({linkedEntry("second", hello, 6, 7), fileEntry("empty", {}, std::nullopt)});
    auto docs = dirEntry("Documents", backup.addTree({linkedEntry("first", hello, 6, 7), privateFile,
                                                      dirEntry("inner", inner), unstable}));
    docs.mode = 040700;
    backup.setRoot(backup.addTree({docs, dirEntry("Other", backup.addTree({linkedEntry("third", hello, 6, 7)})),
                                   dirEntry("Empty", std::nullopt), sparse, linkEntry("link", "Documents/private.txt"),
                                   specialEntry("pipe", T::fifo), specialEntry("sock", T::socket),
                                   specialEntry("tty", T::characterDevice), specialEntry("disk", T::blockDevice),
                                   unreadable}));

    Result r = restore();
    const fs::path t = box.target();
    EXPECT_EQ(counts(r), "files=5 hardlinks=2 folders=4 symlinks=1");  // files: first, private.txt, empty, changing.txt, sparse.img
    EXPECT_TRUE(r.isComplete()) << failureReasons(r).front();
    Strings skipped;
    for (const auto& s : r.skipped) skipped.push_back(s.path + ": " + s.reason);
    EXPECT_EQ(skipped, (Strings{"pipe: this was a named pipe and was not recreated",
                                "sock: this was a socket and was not recreated",
                                "tty: this was a character device and was not recreated",
                                "disk: this was a block device and was not recreated",
                                "locked.txt: this file could not be read when the backup was made"}));

    EXPECT_EQ(Sandbox::readFile(t / "Documents/first"), "hello\n");
    EXPECT_TRUE(fs::equivalent(t / "Documents/first", t / "Documents/inner/second") &&
                fs::equivalent(t / "Documents/first", t / "Other/third"));
    EXPECT_EQ(fs::file_size(t / "Documents/inner/empty"), 0u);
    EXPECT_TRUE(fs::is_directory(t / "Empty"));
    EXPECT_EQ(fs::read_symlink(t / "link"), "Documents/private.txt");
    for (const char* absent : {"pipe", "sock", "tty", "disk", "locked.txt"})
        EXPECT_FALSE(fs::exists(fs::symlink_status(t / absent)));

    EXPECT_EQ(describe(t / "Documents/private.txt"), "600 file 6");
    struct stat st;
    ASSERT_EQ(::stat((t / "Documents/private.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec * 1'000'000'000 + st.st_mtim.tv_nsec, 1'500'000'000'123'000'000);
    EXPECT_EQ(describe(t / "Documents"), "700 dir");
    EXPECT_EQ(mtimeOf(t / "Documents"), 1'600'000'000);  // set after its contents were written

    ASSERT_EQ(::stat((t / "sparse.img").c_str(), &st), 0);  // holes stay holes
    EXPECT_EQ(st.st_size, 64 << 20);
    EXPECT_LT(st.st_blocks * 512, 1 << 20);
    EXPECT_EQ(Sandbox::readFile(t / "sparse.img").find_first_not_of('\0', 4096), (64u << 20) - 4096);
}

TEST_F(RestoreCoordinatorTest, EmptyTopTreeAndProblemsWithTheTopTreeOrTarget) {
    backup.setRoot(backup.addTree({}));
    Result r = restore();
    EXPECT_EQ(counts(r), "files=0 hardlinks=0 folders=0 symlinks=0");
    EXPECT_TRUE(r.isComplete() && r.skipped.empty() && r.unpreserved.empty());

    Sandbox::writeFile(box.path() / "plain", "x");
    EXPECT_ANY_THROW(RestoreCoordinator().restore(SnapshotID{}, backup, box.path() / "plain", {}));
    EXPECT_EQ(Sandbox::readFile(box.path() / "plain"), "x");
    backup.setRoot(backup.reserve());  // never stored
    EXPECT_THROW(restore(), MissingBlob);
    backup.setRoot(backup.add("not a tree"));
    EXPECT_THROW(restore(), TreeObject::Error);
    backup.rootBytes = Bytes(31, 1);
    EXPECT_THROW(RestoreCoordinator().restore(SnapshotID{}, backup, box.path() / "fresh", {}), RestoreCoordinator::Error);
    EXPECT_FALSE(fs::exists(box.path() / "fresh"));
}

TEST_F(RestoreCoordinatorTest, UnreadableSubtreeIsAFailureOfItsFolderOnly) {
    backup.setRoot(backup.addTree({dirEntry("gone", backup.reserve()), dirEntry("bad", backup.add("\x05\x00\x00\x00")),
                                   fileEntry("after", {backup.add("ok")}, 2)}));
    Result r = restore();
    EXPECT_EQ(counts(r), "files=1 hardlinks=0 folders=2 symlinks=0");
    EXPECT_EQ(failurePaths(r), (Strings{"gone", "bad"}));
    EXPECT_EQ(r.failures[0].reason, damaged);
    EXPECT_EQ(Sandbox::readFile(box.target() / "after"), "ok");
    EXPECT_NE(mtimeOf(box.target() / "gone"), 1'600'000'000);  // a failed folder keeps no recorded time
}

TEST_F(RestoreCoordinatorTest, SelectionOfOneFileThreeFoldersDown) {
    const BlobID data = backup.add("wanted");
    const BlobID c = backup.addTree({fileEntry("file.txt", {data}, 6), fileEntry("other.txt", {data}, 6)});
    const BlobID b = backup.addTree({dirEntry("c", c), fileEntry("skip.txt", {data}, 6)});
    const BlobID a = backup.addTree({dirEntry("b", b), linkEntry("l", "x")});
    backup.setRoot(backup.addTree({dirEntry("a", a), dirEntry("z", backup.addTree({})), fileEntry("top", {data}, 6),
                                   fileEntry("..", {}, 0)}));
    RestoreSelection selection;
    selection.add({"a", "b", "c", "file.txt"});
    Result r = restore(selection);
    EXPECT_EQ(counts(r), "files=1 hardlinks=0 folders=3 symlinks=0");
    EXPECT_EQ(failurePaths(r), Strings{".."});  // names are checked before the selection
    EXPECT_EQ(failureReasons(r), Strings{unsafeName});
    EXPECT_EQ(listTree(box.target()).size(), 4u);  // a, a/b, a/b/c, a/b/c/file.txt
    EXPECT_EQ(Sandbox::readFile(box.target() / "a/b/c/file.txt"), "wanted");
    EXPECT_EQ(mtimeOf(box.target() / "a/b"), 1'600'000'000);  // folders on the way get their metadata
}

// An existing file is a Failure and stays untouched, also as a hard-link group's first member;
// an existing folder is merged into and keeps its own mode, owner and times.
TEST_F(RestoreCoordinatorTest, MergesIntoExistingFoldersAndNeverTouchesExistingFiles) {
    Sandbox::writeFile(box.target() / "Documents/notes.txt", "mine");
    Sandbox::writeFile(box.target() / "Documents/keep.txt", "untouched");
    Sandbox::writeFile(box.target() / "a", "existing");
    ::chmod((box.target() / "Documents").c_str(), 0700);
    const auto before = listTree(box.target());
    const BlobID data = backup.add("shared");
    backup.setRoot(backup.addTree({dirEntry("Documents", backup.addTree({fileEntry("notes.txt", {backup.add("backup")}, 6),
                                                                          fileEntry("new.txt", {data}, 6)})),
                                   linkedEntry("a", data, 6, 1), linkedEntry("b", data, 6, 1),
                                   linkedEntry("c", data, 6, 1)}));
    Result r = restore();
    EXPECT_EQ(counts(r), "files=2 hardlinks=1 folders=1 symlinks=0");  // new.txt, and b and c for the group
    EXPECT_EQ(failurePaths(r), (Strings{"Documents/notes.txt", "a"}));
    EXPECT_EQ(r.failures[0].reason, failed(PathSafetyViolation::targetAlreadyExists("notes.txt")));
    const auto after = listTree(box.target());
    for (const char* kept : {"a", "Documents/notes.txt", "Documents/keep.txt"}) EXPECT_EQ(after.at(kept), before.at(kept));
    EXPECT_EQ(describe(box.target() / "Documents").substr(0, 3), "700");
    ASSERT_EQ(r.unpreserved.size(), 1u);
    EXPECT_EQ(r.unpreserved[0].path + " " + r.unpreserved[0].attribute, "Documents metadata");
    EXPECT_EQ(Sandbox::readFile(box.target() / "Documents/new.txt"), "shared");
    EXPECT_TRUE(fs::equivalent(box.target() / "b", box.target() / "c"));
}

// A folder of the backup named like the backup's own folder is never entered, whether the
// target holds the backup or the target is the backup reached through a link.
TEST_F(RestoreCoordinatorTest, NeverWritesIntoTheBackupFolder) {
    const fs::path backupFolder = box.target() / "backup";
    Sandbox::writeFile(backupFolder / "packs/00/p", "pack");
    fs::create_directory_symlink(backupFolder, box.path() / "alias");
    const auto before = listTree(backupFolder);
    backup.setRoot(backup.addTree({dirEntry("backup", backup.addTree({dirEntry("packs", std::nullopt),
                                                                      fileEntry("planted", {backup.add("x")}, 1)})),
                                   fileEntry("beside", {backup.add("y")}, 1)}));
    RestoreCoordinator coordinator(box.path() / "alias");
    Result r = coordinator.restore(SnapshotID{}, backup, box.target(), {});
    EXPECT_EQ(failurePaths(r), Strings{"backup"});
    EXPECT_EQ(failureReasons(r), Strings{failed(PathSafetyViolation::insideTheBackup("backup"))});
    EXPECT_EQ(Sandbox::readFile(box.target() / "beside"), "y");
    for (const fs::path& into : {backupFolder, box.path() / "alias", box.path() / "alias/packs/new"}) {
        EXPECT_THROW(coordinator.restore(SnapshotID{}, backup, into, {}), PathSafetyViolation) << into;
    }
    EXPECT_EQ(listTree(backupFolder), before);
}

// A link's metadata reaches the link itself, by its raw name: not its target outside,
// nor the file beside it that the link's repaired name would name.
TEST_F(RestoreCoordinatorTest, SymlinkMetadataAndInvalidUTF8Names) {
    Sandbox::writeFile(box.outside() / "secret", "outside");
    const fs::path beside = box.target() / "link\xef\xbf\xbd";
    Sandbox::writeFile(beside, "beside");
    for (const fs::path& p : {box.outside() / "secret", beside}) ::chmod(p.c_str(), 0600);
    auto before = listTree(box.path());
    auto out = linkEntry("out", (box.outside() / "secret").string());
    out.mode = 0100777;
    out.modificationTime = {1'234'567'890, 0};
    auto raw = linkEntry("link\xff", "anywhere");
    raw.modificationTime = {1'111'111'111, 0};
    backup.setRoot(backup.addTree({out, raw, linkEntry("no-target", std::nullopt),
                                   dirEntry("dir\xff", backup.addTree({fileEntry("bad\xfe", {}, 0)}))}));
    Result r = restore();
    EXPECT_EQ(counts(r), "files=1 hardlinks=0 folders=1 symlinks=2");
    EXPECT_EQ(failurePaths(r), Strings{"no-target"});
    EXPECT_EQ(failureReasons(r), Strings{"the backup has no target for this link"});
    for (const auto& u : r.unpreserved) EXPECT_NE(u.attribute, "metadata") << u.path << ": " << u.reason;
    EXPECT_EQ(mtimeOf(box.target() / "out"), 1'234'567'890);
    EXPECT_EQ(mtimeOf(box.target() / "link\xff"), 1'111'111'111);
    EXPECT_TRUE(fs::exists(box.target() / "dir\xff" / "bad\xfe"));
    auto after = listTree(box.path());
    before.erase("target");  // its own times change
    for (const auto& [path, entry] : before) EXPECT_EQ(after[path], entry) << path;
}

TEST_F(RestoreCoordinatorTest, AttributesLinuxCannotKeepBecomeUnpreservedRecordsInOrder) {
    auto f = fileEntry("f", {backup.add("x")}, 1);
    f.extendedAttributes = std::vector<TreeObject::ExtendedAttribute>{{bytesOf("com.example.tag"), bytesOf("v")}};
    f.acl = bytesOf("not an access control list");
    f.bsdFlags = 0x8000;  // hidden
    auto d = dirEntry("d", std::nullopt);
    d.acl = f.acl;
    backup.setRoot(backup.addTree({f, d}));
    Result r = restore();
    EXPECT_TRUE(r.isComplete());
    Strings records;
    for (const auto& u : r.unpreserved) records.push_back(u.path + " " + u.attribute);
    ASSERT_EQ(records, (Strings{"f extendedAttributes", "f acl", "f bsdFlags", "d acl"}));
    EXPECT_EQ(r.unpreserved[0].reason.rfind("partly applied: ", 0), 0u) << r.unpreserved[0].reason;
    EXPECT_NE(r.unpreserved[0].reason.find("user.com.example.tag"), std::string::npos);
    EXPECT_EQ(r.unpreserved[1].reason.rfind("partly applied: ", 0), std::string::npos);
}

}  // namespace
}  // namespace wm
