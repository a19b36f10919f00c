#include <sys/stat.h>

#include "core/Unicode.h"
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
    auto tagged = fileEntry("tagged", {hello}, 6);  // what Linux cannot keep is reported, in order
    tagged.extendedAttributes = std::vector<TreeObject::ExtendedAttribute>{{bytesOf("com.example.tag"), bytesOf("v")}};
    // More names than a record shows: its reason, "partly applied: " included, stays within the bound.
    for (int i = 0; i < 400; ++i)
        tagged.extendedAttributes->push_back({bytesOf("com.example.tag-" + std::to_string(1000 + i)), bytesOf("v")});
    tagged.acl = bytesOf("not an access control list");
    tagged.bsdFlags = 0x8000;  // hidden
    auto privateFile = fileEntry("private.txt", {hello}, 6);
    privateFile.mode = 0100600;
    privateFile.modificationTime = {1'500'000'000, 123'000'000};
    const BlobID inner = backup.addTree({linkedEntry("second", hello, 6, 7), fileEntry("empty", {}, std::nullopt)});
    auto docs =
        dirEntry("Documents",
                 backup.addTree({linkedEntry("first", hello, 6, 7), privateFile, dirEntry("inner", inner), unstable}));
    docs.mode = 040700;
    backup.setRoot(backup.addTree({docs, dirEntry("Other", backup.addTree({linkedEntry("third", hello, 6, 7)})),
                                   dirEntry("Empty", std::nullopt), sparse, linkEntry("link", "Documents/private.txt"),
                                   specialEntry("pipe", T::fifo), specialEntry("sock", T::socket),
                                   specialEntry("tty", T::characterDevice), specialEntry("disk", T::blockDevice),
                                   unreadable, tagged}));

    Result r = restore();
    const fs::path t = box.target();
    EXPECT_EQ(counts(r), "files=6 hardlinks=2 folders=4 symlinks=1");
    EXPECT_TRUE(r.isComplete()) << failureReasons(r).front();
    Strings skipped, unpreserved;
    for (const auto& s : r.skipped) skipped.push_back(s.path);
    for (const auto& u : r.unpreserved) unpreserved.push_back(u.path + " " + u.attribute);
    EXPECT_EQ(skipped, (Strings{"pipe", "sock", "tty", "disk", "locked.txt"}));
    // A file that changed while it was backed up comes back whole, and says so.
    EXPECT_EQ(unpreserved, (Strings{"Documents/changing.txt content", "tagged extendedAttributes", "tagged acl",
                                    "tagged bsdFlags"}));
    EXPECT_EQ(r.unpreserved[1].reason.rfind("partly applied: ", 0), 0u) << r.unpreserved[1].reason;
    EXPECT_LE(r.unpreserved[1].reason.size(), Unicode::shownTextBytes);
    EXPECT_TRUE(r.unpreserved[1].reason.ends_with(" more")) << r.unpreserved[1].reason;
    EXPECT_EQ(stringOf(box.readFile(t / "Documents/changing.txt")), "hello\n");

    EXPECT_TRUE(fs::equivalent(t / "Documents/first", t / "Documents/inner/second") &&
                fs::equivalent(t / "Documents/first", t / "Other/third"));
    EXPECT_TRUE(fs::is_directory(t / "Empty") && fs::is_empty(t / "Documents/inner/empty"));
    EXPECT_EQ(fs::read_symlink(t / "link"), "Documents/private.txt");
    for (const char* absent : {"pipe", "sock", "tty", "disk", "locked.txt"})
        EXPECT_FALSE(fs::exists(fs::symlink_status(t / absent)));

    struct stat st;
    ASSERT_EQ(::stat((t / "Documents/private.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec * 1'000'000'000 + st.st_mtim.tv_nsec, 1'500'000'000'123'000'000);
    EXPECT_EQ(describe(t / "Documents/private.txt") + ", " + describe(t / "Documents"), "600 file 6, 700 dir");
    EXPECT_EQ(mtimeOf(t / "Documents"), 1'600'000'000);     // set after its contents were written
    ASSERT_EQ(::stat((t / "sparse.img").c_str(), &st), 0);  // holes stay holes
    EXPECT_LT(st.st_blocks * 512, 1 << 20);
    EXPECT_EQ(stringOf(box.readFile(t / "sparse.img")).find_first_not_of('\0', 4096), (64u << 20) - 4096);
}

// Two identical folders share one tree, which the walk enters each time; the hard-link
// group's anchor, two folders down in the first, serves the names of the second.
TEST_F(RestoreCoordinatorTest, IdenticalFoldersShareOneTree) {
    const BlobID data = backup.add("same");
    const BlobID shared = backup.addTree({dirEntry("deep", backup.addTree({linkedEntry("z", data, 4, 9)})),
                                          linkedEntry("x", data, 4, 9), fileEntry("y", {data}, 4)});
    backup.setRoot(backup.addTree({dirEntry("a", shared), dirEntry("b", shared)}));
    backup.directories = 4;
    Result r = restore();
    EXPECT_TRUE(r.isComplete()) << failureReasons(r).front();
    EXPECT_EQ(counts(r), "files=3 hardlinks=3 folders=4 symlinks=0");
    const fs::path t = box.target();
    for (const char* name : {"a/x", "b/deep/z", "b/x"}) EXPECT_TRUE(fs::equivalent(t / "a/deep/z", t / name)) << name;
    EXPECT_EQ(stringOf(box.readFile(t / "b/y")), "same");
}

// A result keeps the first thousand records of each kind, in order, and counts them all.
TEST_F(RestoreCoordinatorTest, TheResultKeepsTheFirstThousandRecordsAndCountsAll) {
    std::vector<TreeObject::Entry> entries;
    for (int i = 0; i < 1500; ++i) entries.push_back(fileEntry("x/" + std::to_string(i), {}, 0));
    for (int i = 0; i < 1200; ++i) entries.push_back(specialEntry("pipe" + std::to_string(i), T::fifo));
    backup.setRoot(backup.addTree(entries));
    Result r = restore();
    EXPECT_EQ(std::to_string(r.failures.size()) + "/" + std::to_string(r.failures.total()) + " " +
                  std::to_string(r.skipped.size()) + "/" + std::to_string(r.skipped.total()),
              "1000/1500 1000/1200");
    EXPECT_EQ(r.failures[999].path + " " + r.skipped[999].path, "x/999 pipe999");
    EXPECT_FALSE(r.isComplete());
}

// An unreadable subtree fails its folder only; an unreadable top tree or target fails the restore.
TEST_F(RestoreCoordinatorTest, UnreadableTreesAndTargets) {
    backup.setRoot(backup.addTree({dirEntry("gone", backup.reserve()), dirEntry("bad", backup.add("\x05\x00\x00\x00")),
                                   fileEntry("after", {backup.add("ok")}, 2)}));
    Result r = restore();
    EXPECT_EQ(counts(r), "files=1 hardlinks=0 folders=2 symlinks=0");
    EXPECT_EQ(failurePaths(r), (Strings{"gone", "bad"}));
    EXPECT_NE(mtimeOf(box.target() / "gone"), 1'600'000'000);  // a failed folder keeps no recorded time
    box.writeFile(box.path() / "plain", "x");
    EXPECT_ANY_THROW(RestoreCoordinator().restore(SnapshotID{}, backup, box.path() / "plain", {}));
    EXPECT_EQ(stringOf(box.readFile(box.path() / "plain")), "x");
    backup.setRoot(backup.reserve());  // never stored
    EXPECT_THROW(restore(), MissingBlob);
    backup.setRoot(backup.add("not a tree"));
    EXPECT_THROW(restore(), TreeObject::Error);
    backup.rootBytes = Bytes(31, 1);
    EXPECT_THROW(RestoreCoordinator().restore(SnapshotID{}, backup, box.path() / "fresh", {}),
                 RestoreCoordinator::Error);
    EXPECT_FALSE(fs::exists(box.path() / "fresh"));
}

TEST_F(RestoreCoordinatorTest, SelectionOfOneFileThreeFoldersDown) {
    const BlobID data = backup.add("wanted");
    const BlobID c = backup.addTree({fileEntry("file.txt", {data}, 6), fileEntry("other.txt", {data}, 6)});
    const BlobID a = backup.addTree(
        {dirEntry("b", backup.addTree({dirEntry("c", c), fileEntry("skip", {data}, 6)})), linkEntry("l", "x")});
    backup.setRoot(backup.addTree({dirEntry("a", a), dirEntry("z", backup.addTree({})), fileEntry("..", {}, 0)}));
    RestoreSelection selection;
    selection.add({"a", "b", "c", "file.txt"});
    Result r = restore(selection);
    EXPECT_EQ(counts(r), "files=1 hardlinks=0 folders=3 symlinks=0");
    EXPECT_EQ(failureReasons(r), Strings{unsafeName});        // names are checked before the selection
    EXPECT_EQ(listTree(box.target()).size(), 4u);             // a, a/b, a/b/c, a/b/c/file.txt
    EXPECT_EQ(mtimeOf(box.target() / "a/b"), 1'600'000'000);  // folders on the way get their metadata
}

// Two names that are not UTF-8 and look alike once repaired: each one's own bytes choose it
// alone, also on the way down; the repaired spelling the browser shows chooses both.
TEST_F(RestoreCoordinatorTest, SelectionByStoredBytesOrTheirRepairedSpelling) {
    const BlobID data = backup.add("x");
    backup.setRoot(backup.addTree({fileEntry("a\xff", {data}, 1), fileEntry("a\xfe", {data}, 1),
                                   dirEntry("d\xff", backup.addTree({fileEntry("in", {data}, 1)})),
                                   dirEntry("d\xfe", backup.addTree({fileEntry("in", {data}, 1)}))}));
    const std::pair<RestoreSelection::Path, Strings> cases[] = {
        {{"a\xff"}, {"a\xff"}},
        {{"a\uFFFD"}, {"a\xfe", "a\xff"}},
        {{"d\xfe", "in"}, {"d\xfe", "d\xfe/in"}},
        {{"d\uFFFD", "in"}, {"d\xfe", "d\xfe/in", "d\xff", "d\xff/in"}},
    };
    for (const auto& [chosen, restored] : cases) {
        fs::remove_all(box.target());
        RestoreSelection selection;
        selection.add(chosen);
        const Result r = restore(selection);
        EXPECT_TRUE(r.isComplete());
        Strings names;
        for (const auto& [name, entry] : listTree(box.target())) names.push_back(name);
        EXPECT_EQ(names, restored) << chosen.front();
    }
}

// An existing file is a Failure and stays untouched, also as a hard-link group's first member;
// an existing folder is merged into and keeps its own mode, owner and times.
TEST_F(RestoreCoordinatorTest, MergesIntoExistingFoldersAndNeverTouchesExistingFiles) {
    box.writeFile(box.target() / "Documents/notes.txt", "mine");
    box.writeFile(box.target() / "Documents/keep.txt", "untouched");
    box.writeFile(box.target() / "a", "existing");
    ::chmod((box.target() / "Documents").c_str(), 0700);
    const auto before = listTree(box.target());
    const BlobID data = backup.add("shared");
    backup.setRoot(backup.addTree(
        {dirEntry("Documents",
                  backup.addTree({fileEntry("notes.txt", {backup.add("backup")}, 6), fileEntry("new.txt", {data}, 6)})),
         linkedEntry("a", data, 6, 1), linkedEntry("b", data, 6, 1), linkedEntry("c", data, 6, 1)}));
    Result r = restore();
    EXPECT_EQ(counts(r), "files=2 hardlinks=1 folders=1 symlinks=0");  // new.txt, and b and c for the group
    EXPECT_EQ(failurePaths(r), (Strings{"Documents/notes.txt", "a"}));
    EXPECT_EQ(r.failures[0].reason, failed(PathSafetyViolation::targetAlreadyExists("notes.txt")));
    const auto after = listTree(box.target());
    for (const char* kept : {"a", "Documents/notes.txt", "Documents/keep.txt"})
        EXPECT_EQ(after.at(kept), before.at(kept));
    ASSERT_EQ(r.unpreserved.size(), 1u);
    EXPECT_EQ(r.unpreserved[0].path + " " + r.unpreserved[0].attribute, "Documents metadata");
    EXPECT_TRUE(fs::equivalent(box.target() / "b", box.target() / "c"));
}

// A folder of the backup named like the backup's own folder is never entered, whether the
// target holds the backup or the target is the backup reached through a link.
TEST_F(RestoreCoordinatorTest, NeverWritesIntoTheBackupFolder) {
    const fs::path backupFolder = box.target() / "backup";
    box.writeFile(backupFolder / "packs/00/p", "pack");
    fs::create_directory_symlink(backupFolder, box.path() / "alias");
    const auto before = listTree(backupFolder);
    backup.setRoot(backup.addTree({dirEntry("backup", backup.addTree({dirEntry("packs", std::nullopt),
                                                                      fileEntry("planted", {backup.add("x")}, 1)})),
                                   fileEntry("beside", {backup.add("y")}, 1)}));
    RestoreCoordinator coordinator(box.path() / "alias");
    Result r = coordinator.restore(SnapshotID{}, backup, box.target(), {});
    EXPECT_EQ(failureReasons(r), Strings{failed(PathSafetyViolation::insideTheBackup("backup"))});
    for (const fs::path& into : {backupFolder, box.path() / "alias", box.path() / "alias/packs/new"})
        EXPECT_THROW(coordinator.restore(SnapshotID{}, backup, into, {}), PathSafetyViolation) << into;
    EXPECT_EQ(listTree(backupFolder), before);
}

// A link's metadata reaches the link itself, by its raw name: not its target outside,
// nor the file beside it that the link's repaired name would name.
TEST_F(RestoreCoordinatorTest, SymlinkMetadataAndInvalidUTF8Names) {
    for (const fs::path& p : {box.outside() / "secret", box.target() / "link\xef\xbf\xbd"}) {
        box.writeFile(p, "mine");
        ::chmod(p.c_str(), 0600);
    }
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
    for (const auto& u : r.unpreserved) EXPECT_NE(u.attribute, "metadata") << u.path << ": " << u.reason;
    EXPECT_EQ(mtimeOf(box.target() / "out"), 1'234'567'890);
    EXPECT_EQ(mtimeOf(box.target() / "link\xff"), 1'111'111'111);
    EXPECT_TRUE(fs::exists(box.target() / "dir\xff" / "bad\xfe"));
    auto after = listTree(box.path());
    before.erase("target");  // its own times change
    for (const auto& [path, entry] : before) EXPECT_EQ(after[path], entry) << path;
}

}  // namespace
}  // namespace wm
