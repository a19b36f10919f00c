#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "restore/RestoreTestSupport.h"

namespace wm {
namespace {

namespace fs = std::filesystem;
using namespace test;
using T = TreeObject::EntryType;
using Strings = std::vector<std::string>;
using RestoreCoordinatorTest = RestoreFixture;

TreeObject::Entry linked(std::string_view name, const BlobID& data, std::uint64_t size, std::uint64_t group) {
    auto e = fileEntry(name, {data}, size);
    e.hardlinkGroup = group;
    return e;
}

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
    const BlobID inner = backup.addTree({linked("second", hello, 6, 7), fileEntry("empty", {}, std::nullopt)});
    auto docs = dirEntry("Documents", backup.addTree({linked("first", hello, 6, 7), privateFile,
                                                      dirEntry("inner", inner), unstable}));
    docs.mode = 040700;
    backup.setRoot(backup.addTree({docs, dirEntry("Other", backup.addTree({linked("third", hello, 6, 7)})),
                                   dirEntry("Empty", std::nullopt), sparse, linkEntry("link", "Documents/private.txt"),
                                   specialEntry("pipe", T::fifo), specialEntry("sock", T::socket),
                                   specialEntry("tty", T::characterDevice), specialEntry("disk", T::blockDevice),
                                   unreadable}));

    Result r = restore();
    const fs::path t = box.target();
    EXPECT_EQ(r.filesRestored, 5u);  // first, private.txt, empty, changing.txt, sparse.img
    EXPECT_EQ(r.hardLinksRestored, 2u);
    EXPECT_EQ(r.directoriesRestored, 4u);
    EXPECT_EQ(r.symlinksRestored, 1u);
    EXPECT_TRUE(r.isComplete()) << failureReasons(r).front();
    Strings skipped;
    for (const auto& s : r.skipped) skipped.push_back(s.path + ": " + s.reason);
    EXPECT_EQ(skipped, (Strings{"pipe: this was a named pipe and was not recreated",
                                "sock: this was a socket and was not recreated",
                                "tty: this was a character device and was not recreated",
                                "disk: this was a block device and was not recreated",
                                "locked.txt: this file could not be read when the backup was made"}));

    EXPECT_EQ(Sandbox::readFile(t / "Documents/first"), "hello\n");
    EXPECT_TRUE(fs::equivalent(t / "Documents/first", t / "Documents/inner/second"));
    EXPECT_TRUE(fs::equivalent(t / "Documents/first", t / "Other/third"));
    EXPECT_EQ(fs::hard_link_count(t / "Other/third"), 3u);
    EXPECT_EQ(fs::file_size(t / "Documents/inner/empty"), 0u);
    EXPECT_TRUE(fs::is_directory(t / "Empty"));
    EXPECT_EQ(fs::read_symlink(t / "link"), "Documents/private.txt");
    for (const char* absent : {"pipe", "sock", "tty", "disk", "locked.txt"})
        EXPECT_FALSE(fs::exists(fs::symlink_status(t / absent)));

    EXPECT_EQ(describe(t / "Documents/private.txt"), "600 file 6");
    struct stat st;
    ASSERT_EQ(::stat((t / "Documents/private.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, 1'500'000'000);
    EXPECT_EQ(st.st_mtim.tv_nsec, 123'000'000);
    // A folder's metadata comes after its contents, so its own time survives them.
    EXPECT_EQ(describe(t / "Documents"), "700 dir");
    EXPECT_EQ(mtimeOf(t / "Documents"), 1'600'000'000);

    // Holes stay holes: only the two data regions take space.
    ASSERT_EQ(::stat((t / "sparse.img").c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 64 << 20);
    EXPECT_LT(st.st_blocks * 512, 1 << 20);
    const std::string content = Sandbox::readFile(t / "sparse.img");
    EXPECT_EQ(content.substr(0, 4096), std::string(4096, 'x'));
    EXPECT_EQ(content.substr((64u << 20) - 4096), std::string(4096, 'x'));
    EXPECT_EQ(content.find_first_not_of('\0', 4096), (64u << 20) - 4096);
}

TEST_F(RestoreCoordinatorTest, EmptyTopTreeAndProblemsWithTheTopTreeOrTarget) {
    backup.setRoot(backup.addTree({}));
    Result r = restore();
    EXPECT_TRUE(fs::is_directory(box.target()));
    EXPECT_EQ(r.filesRestored + r.directoriesRestored + r.symlinksRestored + r.hardLinksRestored, 0u);
    EXPECT_TRUE(r.skipped.empty() && r.failures.empty() && r.unpreserved.empty());

    Sandbox::writeFile(box.path() / "plain", "x");
    EXPECT_ANY_THROW(RestoreCoordinator().restore(SnapshotID{}, backup, box.path() / "plain", {}));
    EXPECT_EQ(Sandbox::readFile(box.path() / "plain"), "x");
    backup.setRoot(backup.reserve());  // never stored
    EXPECT_THROW(restore(), MissingBlob);
    backup.setRoot(backup.add("not a tree"));
    EXPECT_THROW(restore(), TreeObject::Error);

    backup.rootBytes = Bytes(31, 1);
    const fs::path fresh = box.path() / "fresh";
    try {
        RestoreCoordinator().restore(SnapshotID{}, backup, fresh, {});
        FAIL();
    } catch (const RestoreCoordinator::Error& e) {
        EXPECT_EQ(e.kind, RestoreCoordinator::Error::Kind::snapshotHasNoRootTree);
    }
    EXPECT_FALSE(fs::exists(fresh));
}

TEST_F(RestoreCoordinatorTest, UnreadableSubtreeIsAFailureOfItsFolderOnly) {
    backup.setRoot(backup.addTree({dirEntry("gone", backup.reserve()), dirEntry("bad", backup.add("\x05\x00\x00\x00")),
                                   fileEntry("after", {backup.add("ok")}, 2)}));
    Result r = restore();
    EXPECT_EQ(r.directoriesRestored, 2u);
    EXPECT_EQ(r.filesRestored, 1u);
    EXPECT_EQ(failurePaths(r), (Strings{"gone", "bad"}));
    EXPECT_EQ(r.failures[0].reason, wentWrong + "FakeBackup.missingBlob");
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
    EXPECT_EQ(r.directoriesRestored, 3u);
    EXPECT_EQ(r.filesRestored, 1u);
    EXPECT_EQ(r.symlinksRestored, 0u);
    EXPECT_TRUE(r.skipped.empty());
    EXPECT_EQ(failurePaths(r), Strings{".."});  // names are checked before the selection
    EXPECT_EQ(failureReasons(r), Strings{unsafeName});
    EXPECT_EQ(listTree(box.target()).size(), 4u);  // a, a/b, a/b/c, a/b/c/file.txt
    EXPECT_EQ(Sandbox::readFile(box.target() / "a/b/c/file.txt"), "wanted");
    EXPECT_EQ(mtimeOf(box.target() / "a/b"), 1'600'000'000);  // folders on the way get their metadata
}

TEST_F(RestoreCoordinatorTest, MergesIntoExistingFoldersAndNeverTouchesExistingFiles) {
    Sandbox::writeFile(box.target() / "Documents/notes.txt", "mine");
    Sandbox::writeFile(box.target() / "Documents/keep.txt", "untouched");
    const auto before = listTree(box.target() / "Documents");
    backup.setRoot(backup.addTree({dirEntry("Documents", backup.addTree({fileEntry("notes.txt", {backup.add("from backup")}, 11),
                                                                          fileEntry("new.txt", {backup.add("new")}, 3)}))}));
    Result r = restore();
    EXPECT_EQ(r.directoriesRestored, 1u);
    EXPECT_EQ(r.filesRestored, 1u);
    EXPECT_FALSE(r.isComplete());
    EXPECT_EQ(failurePaths(r), Strings{"Documents/notes.txt"});
    EXPECT_EQ(failureReasons(r), Strings{failed(PathSafetyViolation::targetAlreadyExists("notes.txt"))});
    auto after = listTree(box.target() / "Documents");
    EXPECT_EQ(after.at("notes.txt"), before.at("notes.txt"));
    EXPECT_EQ(after.at("keep.txt"), before.at("keep.txt"));
    EXPECT_EQ(Sandbox::readFile(box.target() / "Documents/new.txt"), "new");
}

TEST_F(RestoreCoordinatorTest, HardLinkGroupWhoseFirstMemberFails) {
    Sandbox::writeFile(box.target() / "a", "existing");
    const BlobID data = backup.add("shared");
    backup.setRoot(backup.addTree({linked("a", data, 6, 1), linked("b", data, 6, 1), linked("c", data, 6, 1)}));
    Result r = restore();
    EXPECT_EQ(r.filesRestored, 1u);
    EXPECT_EQ(r.hardLinksRestored, 1u);
    EXPECT_EQ(failurePaths(r), Strings{"a"});
    EXPECT_EQ(Sandbox::readFile(box.target() / "a"), "existing");
    EXPECT_TRUE(fs::equivalent(box.target() / "b", box.target() / "c"));
}

TEST_F(RestoreCoordinatorTest, SymlinkMetadataGoesToTheLinkNotItsTarget) {
    Sandbox::writeFile(box.outside() / "secret", "outside");
    ::chmod((box.outside() / "secret").c_str(), 0600);
    const auto before = listTree(box.outside());
    auto link = linkEntry("l", (box.outside() / "secret").string());
    link.mode = 0100777;
    link.modificationTime = {1'234'567'890, 0};
    backup.setRoot(backup.addTree({link, linkEntry("no-target", std::nullopt)}));
    Result r = restore();
    EXPECT_EQ(r.symlinksRestored, 1u);
    EXPECT_EQ(failureReasons(r), Strings{"the backup has no target for this link"});
    EXPECT_EQ(listTree(box.outside()), before);
    EXPECT_TRUE(fs::is_symlink(box.target() / "l"));
    EXPECT_EQ(mtimeOf(box.target() / "l"), 1'234'567'890);
}

TEST_F(RestoreCoordinatorTest, InvalidUTF8NamesShowTheReplacementCharacter) {
    // The link's repaired name would name the pre-existing file beside it.
    const fs::path beside = box.target() / "link\xef\xbf\xbd";
    Sandbox::writeFile(beside, "beside");
    ::chmod(beside.c_str(), 0600);
    const auto besideBefore = describe(beside);
    auto link = linkEntry("link\xff", "anywhere");
    link.modificationTime = {1'111'111'111, 0};
    backup.setRoot(backup.addTree({dirEntry("dir\xff", backup.addTree({fileEntry("bad\xfe", {}, 0)})),
                                   fileEntry(std::string("nul\0", 4), {}, 0), link}));
    Result r = restore();
    EXPECT_EQ(r.filesRestored, 1u);
    EXPECT_EQ(r.symlinksRestored, 1u);
    EXPECT_TRUE(fs::exists(box.target() / "dir\xff" / "bad\xfe"));
    // The link's metadata reached the link itself, by its raw name.
    for (const auto& u : r.unpreserved) EXPECT_NE(u.attribute, "metadata") << u.path << ": " << u.reason;
    EXPECT_EQ(mtimeOf(box.target() / "link\xff"), 1'111'111'111);
    EXPECT_EQ(describe(beside), besideBefore);
    EXPECT_EQ(failurePaths(r), Strings{std::string("nul\0", 4)});
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
    EXPECT_EQ(records, (Strings{"f extendedAttributes", "f acl", "f bsdFlags", "d acl"}));
    ASSERT_EQ(r.unpreserved.size(), 4u);
    EXPECT_EQ(r.unpreserved[0].reason.rfind("partly applied: ", 0), 0u) << r.unpreserved[0].reason;
    EXPECT_NE(r.unpreserved[0].reason.find("user.com.example.tag"), std::string::npos);
    EXPECT_EQ(r.unpreserved[1].reason.rfind("partly applied: ", 0), std::string::npos);
}

TEST(RestoreCoordinatorError, DescriptionQuotesTheReason) {
    EXPECT_STREQ(RestoreCoordinator::Error::destinationNotUsable("No space left on device").what(),
                 "destinationNotUsable(\"No space left on device\")");
    EXPECT_STREQ(RestoreCoordinator::Error::destinationNotUsable("a \"b\" \\ c\nd\x01").what(),
                 "destinationNotUsable(\"a \\\"b\\\" \\\\ c\\nd\\u{1}\")");
    EXPECT_STREQ(RestoreCoordinator::Error::snapshotHasNoRootTree().what(), "snapshotHasNoRootTree");
}

}  // namespace
}  // namespace wm
