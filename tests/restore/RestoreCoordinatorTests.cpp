#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "restore/FakeBackup.h"
#include "restore/PathSafetyViolation.h"
#include "restore/RestoreCoordinator.h"
#include "restore/RestoreTestSupport.h"

namespace wm {
namespace {

namespace fs = std::filesystem;
using test::dirEntry;
using test::FakeBackup;
using test::fileEntry;
using test::linkEntry;
using test::Sandbox;
using test::specialEntry;
using T = TreeObject::EntryType;
using Result = RestoreCoordinator::Result;

const std::string unsafeName = "that name is not safe to write to disk";
const std::string wentWrong = "Something went wrong: ";

class RestoreCoordinatorTest : public ::testing::Test {
protected:
    Sandbox box;
    FakeBackup backup;

    Result restore(const RestoreSelection& selection = {}) {
        return RestoreCoordinator().restore(SnapshotID{}, backup, box.target(), selection);
    }
    std::vector<std::string> failurePaths(const Result& r) {
        std::vector<std::string> paths;
        for (const auto& f : r.failures) paths.push_back(f.path);
        return paths;
    }
};

TEST_F(RestoreCoordinatorTest, FullTree) {
    const BlobID hello = backup.add("hello\n");
    const BlobID sparseData = backup.add(std::string(8192, 'x'));

    auto sparse = fileEntry("sparse.img", {sparseData}, 64u << 20);
    sparse.sparseRanges = std::vector<TreeObject::SparseRange>{{4096, (64u << 20) - 8192}};

    auto linked = [&](std::string_view name) {
        auto e = fileEntry(name, {hello}, 6);
        e.hardlinkGroup = 7;
        return e;
    };
    auto unreadable = fileEntry("locked.txt", {hello}, 6);
    unreadable.status = TreeObject::Status::unreadable;
    auto unstable = fileEntry("changing.txt", {hello}, 6);
    unstable.status = TreeObject::Status::unstable;
    auto privateFile = fileEntry("private.txt", {hello}, 6);
    privateFile.mode = 0100600;
    privateFile.modificationTime = {1'500'000'000, 123'000'000};

    const BlobID inner = backup.addTree({linked("second"), fileEntry("empty", {}, std::nullopt)});
    const BlobID docs = backup.addTree({linked("first"), privateFile, dirEntry("inner", inner), unstable});
    const BlobID other = backup.addTree({linked("third")});
    auto docsEntry = dirEntry("Documents", docs);
    docsEntry.mode = 040700;
    backup.setRoot(backup.addTree({
        docsEntry,
        dirEntry("Other", other),
        dirEntry("Empty", std::nullopt),
        sparse,
        linkEntry("link", "Documents/private.txt"),
        specialEntry("pipe", T::fifo),
        specialEntry("sock", T::socket),
        specialEntry("tty", T::characterDevice),
        specialEntry("disk", T::blockDevice),
        unreadable,
    }));

    Result r = restore();
    const fs::path t = box.target();
    EXPECT_EQ(r.filesRestored, 5u);  // first, private.txt, empty, changing.txt, sparse.img
    EXPECT_EQ(r.hardLinksRestored, 2u);
    EXPECT_EQ(r.directoriesRestored, 4u);
    EXPECT_EQ(r.symlinksRestored, 1u);
    EXPECT_TRUE(r.failures.empty()) << r.failures.front().path << ": " << r.failures.front().reason;
    EXPECT_TRUE(r.isComplete());
    ASSERT_EQ(r.skipped.size(), 5u);
    EXPECT_EQ(r.skipped[0].path, "pipe");
    EXPECT_EQ(r.skipped[0].reason, "this was a named pipe and was not recreated");
    EXPECT_EQ(r.skipped[1].reason, "this was a socket and was not recreated");
    EXPECT_EQ(r.skipped[2].reason, "this was a character device and was not recreated");
    EXPECT_EQ(r.skipped[3].reason, "this was a block device and was not recreated");
    EXPECT_EQ(r.skipped[4].path, "locked.txt");
    EXPECT_EQ(r.skipped[4].reason, "this file could not be read when the backup was made");

    EXPECT_EQ(Sandbox::readFile(t / "Documents/first"), "hello\n");
    EXPECT_TRUE(fs::equivalent(t / "Documents/first", t / "Documents/inner/second"));
    EXPECT_TRUE(fs::equivalent(t / "Documents/first", t / "Other/third"));
    EXPECT_EQ(fs::hard_link_count(t / "Other/third"), 3u);
    EXPECT_EQ(fs::file_size(t / "Documents/inner/empty"), 0u);
    EXPECT_TRUE(fs::is_directory(t / "Empty"));
    EXPECT_EQ(fs::read_symlink(t / "link"), "Documents/private.txt");
    for (const char* absent : {"pipe", "sock", "tty", "disk", "locked.txt"}) EXPECT_FALSE(fs::exists(fs::symlink_status(t / absent)));

    struct stat st;
    ASSERT_EQ(::stat((t / "Documents/private.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(st.st_mtim.tv_sec, 1'500'000'000);
    EXPECT_EQ(st.st_mtim.tv_nsec, 123'000'000);
    // A folder's metadata comes after its contents, so its own time survives them.
    ASSERT_EQ(::stat((t / "Documents").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    EXPECT_EQ(st.st_mtim.tv_sec, 1'600'000'000);

    // Holes stay holes: only the two data regions take space.
    const fs::path img = t / "sparse.img";
    ASSERT_EQ(::stat(img.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 64 << 20);
    EXPECT_LT(st.st_blocks * 512, 1 << 20);
    const std::string content = Sandbox::readFile(img);
    EXPECT_EQ(content.substr(0, 4096), std::string(4096, 'x'));
    EXPECT_EQ(content.substr((64u << 20) - 4096), std::string(4096, 'x'));
    EXPECT_EQ(content.find_first_not_of('\0', 4096), (64u << 20) - 4096);
}

TEST_F(RestoreCoordinatorTest, EmptyTopTreeAndBadRootIdentity) {
    backup.setRoot(backup.addTree({}));
    Result r = restore();
    EXPECT_TRUE(fs::is_directory(box.target()));
    EXPECT_EQ(r.filesRestored + r.directoriesRestored + r.symlinksRestored + r.hardLinksRestored, 0u);
    EXPECT_TRUE(r.skipped.empty() && r.failures.empty() && r.unpreserved.empty());

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

TEST_F(RestoreCoordinatorTest, ProblemsWithTheTopTreeOrTargetAreThrown) {
    backup.setRoot(backup.reserve());  // never stored
    EXPECT_THROW(restore(), test::MissingBlob);
    backup.setRoot(backup.add("not a tree"));
    EXPECT_THROW(restore(), TreeObject::Error);
    backup.setRoot(backup.addTree({}));
    Sandbox::writeFile(box.path() / "plain", "x");
    EXPECT_ANY_THROW(RestoreCoordinator().restore(SnapshotID{}, backup, box.path() / "plain", {}));
    EXPECT_EQ(Sandbox::readFile(box.path() / "plain"), "x");
}

TEST_F(RestoreCoordinatorTest, UnreadableSubtreeIsAFailureOfItsFolderOnly) {
    const BlobID missing = backup.reserve();
    const BlobID garbage = backup.add("\x05\x00\x00\x00");
    backup.setRoot(backup.addTree({dirEntry("gone", missing), dirEntry("bad", garbage),
                                   fileEntry("after", {backup.add("ok")}, 2)}));
    Result r = restore();
    EXPECT_EQ(r.directoriesRestored, 2u);
    EXPECT_EQ(r.filesRestored, 1u);
    ASSERT_EQ(r.failures.size(), 2u);
    EXPECT_EQ(r.failures[0].path, "gone");
    EXPECT_EQ(r.failures[0].reason, wentWrong + "FakeBackup.missingBlob");
    EXPECT_EQ(r.failures[1].path, "bad");
    EXPECT_TRUE(fs::is_directory(box.target() / "gone"));
    EXPECT_EQ(Sandbox::readFile(box.target() / "after"), "ok");
    // The failed folders did not get their recorded times.
    struct stat st;
    ASSERT_EQ(::stat((box.target() / "gone").c_str(), &st), 0);
    EXPECT_NE(st.st_mtim.tv_sec, 1'600'000'000);
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
    // Names are checked before the selection.
    ASSERT_EQ(r.failures.size(), 1u);
    EXPECT_EQ(r.failures[0].path, "..");
    EXPECT_EQ(r.failures[0].reason, unsafeName);
    EXPECT_TRUE(r.skipped.empty());
    EXPECT_EQ(test::listTree(box.target()).size(), 4u);  // a, a/b, a/b/c, a/b/c/file.txt
    EXPECT_EQ(Sandbox::readFile(box.target() / "a/b/c/file.txt"), "wanted");
    struct stat st;
    ASSERT_EQ(::stat((box.target() / "a/b").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, 1'600'000'000);  // folders on the way get their metadata
}

TEST_F(RestoreCoordinatorTest, MergesIntoExistingFoldersAndNeverTouchesExistingFiles) {
    Sandbox::writeFile(box.target() / "Documents/notes.txt", "mine");
    Sandbox::writeFile(box.target() / "Documents/keep.txt", "untouched");
    const auto before = test::listTree(box.target() / "Documents");
    const BlobID docs = backup.addTree(
        {fileEntry("notes.txt", {backup.add("from backup")}, 11), fileEntry("new.txt", {backup.add("new")}, 3)});
    backup.setRoot(backup.addTree({dirEntry("Documents", docs)}));

    Result r = restore();
    EXPECT_EQ(r.directoriesRestored, 1u);
    EXPECT_EQ(r.filesRestored, 1u);
    ASSERT_EQ(r.failures.size(), 1u);
    EXPECT_EQ(r.failures[0].path, "Documents/notes.txt");
    EXPECT_EQ(r.failures[0].reason,
              wentWrong + PathSafetyViolation::targetAlreadyExists("notes.txt").what());
    EXPECT_FALSE(r.isComplete());
    auto after = test::listTree(box.target() / "Documents");
    EXPECT_EQ(after.at("notes.txt"), before.at("notes.txt"));
    EXPECT_EQ(after.at("keep.txt"), before.at("keep.txt"));
    EXPECT_EQ(Sandbox::readFile(box.target() / "Documents/new.txt"), "new");
}

TEST_F(RestoreCoordinatorTest, HardLinkGroupWhoseFirstMemberFails) {
    Sandbox::writeFile(box.target() / "a", "existing");
    const BlobID data = backup.add("shared");
    auto member = [&](std::string_view name) {
        auto e = fileEntry(name, {data}, 6);
        e.hardlinkGroup = 1;
        return e;
    };
    backup.setRoot(backup.addTree({member("a"), member("b"), member("c")}));
    Result r = restore();
    EXPECT_EQ(r.filesRestored, 1u);
    EXPECT_EQ(r.hardLinksRestored, 1u);
    EXPECT_EQ(failurePaths(r), std::vector<std::string>{"a"});
    EXPECT_EQ(Sandbox::readFile(box.target() / "a"), "existing");
    EXPECT_TRUE(fs::equivalent(box.target() / "b", box.target() / "c"));
}

TEST_F(RestoreCoordinatorTest, SymlinkMetadataGoesToTheLinkNotItsTarget) {
    Sandbox::writeFile(box.outside() / "secret", "outside");
    ::chmod((box.outside() / "secret").c_str(), 0600);
    const auto before = test::listTree(box.outside());
    auto link = linkEntry("l", (box.outside() / "secret").string());
    link.mode = 0100777;
    link.modificationTime = {1'234'567'890, 0};
    backup.setRoot(backup.addTree({link, linkEntry("no-target", std::nullopt)}));
    Result r = restore();
    EXPECT_EQ(r.symlinksRestored, 1u);
    ASSERT_EQ(r.failures.size(), 1u);
    EXPECT_EQ(r.failures[0].reason, "the backup has no target for this link");
    EXPECT_EQ(test::listTree(box.outside()), before);
    struct stat st;
    ASSERT_EQ(::lstat((box.target() / "l").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(st.st_mtim.tv_sec, 1'234'567'890);
}

TEST_F(RestoreCoordinatorTest, InvalidUTF8NamesShowTheReplacementCharacter) {
    // The link's repaired name would name the pre-existing file beside it.
    Sandbox::writeFile(box.target() / "link\xef\xbf\xbd", "beside");
    ::chmod((box.target() / "link\xef\xbf\xbd").c_str(), 0600);
    const auto besideBefore = test::describe(box.target() / "link\xef\xbf\xbd");
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
    struct stat st;
    ASSERT_EQ(::lstat((box.target() / "link\xff").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, 1'111'111'111);
    EXPECT_EQ(test::describe(box.target() / "link\xef\xbf\xbd"), besideBefore);
    ASSERT_EQ(r.failures.size(), 1u);
    EXPECT_EQ(r.failures[0].path, std::string("nul\0", 4));
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
    ASSERT_EQ(r.unpreserved.size(), 4u);
    EXPECT_EQ(r.unpreserved[0].path, "f");
    EXPECT_EQ(r.unpreserved[0].attribute, "extendedAttributes");
    EXPECT_EQ(r.unpreserved[0].reason.rfind("partly applied: ", 0), 0u) << r.unpreserved[0].reason;
    EXPECT_NE(r.unpreserved[0].reason.find("user.com.example.tag"), std::string::npos);
    EXPECT_EQ(r.unpreserved[1].attribute, "acl");
    EXPECT_EQ(r.unpreserved[1].reason.rfind("partly applied: ", 0), std::string::npos);
    EXPECT_EQ(r.unpreserved[2].attribute, "bsdFlags");
    EXPECT_EQ(r.unpreserved[3].path, "d");
    EXPECT_EQ(r.unpreserved[3].attribute, "acl");
}

TEST(RestoreCoordinatorError, DescriptionQuotesTheReason) {
    EXPECT_STREQ(RestoreCoordinator::Error::destinationNotUsable("No space left on device").what(),
                 "destinationNotUsable(\"No space left on device\")");
    EXPECT_STREQ(RestoreCoordinator::Error::destinationNotUsable("a \"b\" \\ c\nd\x01").what(),
                 "destinationNotUsable(\"a \\\"b\\\" \\\\ c\\nd\\u{1}\")");
    EXPECT_STREQ(RestoreCoordinator::Error::snapshotHasNoRootTree().what(), "snapshotHasNoRootTree");
}

TEST(RestoreResult, IsCompleteOnlyWithoutFailures) {
    Result r;
    EXPECT_TRUE(r.isComplete());
    r.skipped.push_back({"a", "b"});
    r.unpreserved.push_back({"a", "mode", "b"});
    EXPECT_TRUE(r.isComplete());
    r.failures.push_back({"a", "b"});
    EXPECT_FALSE(r.isComplete());
}

}  // namespace
}  // namespace wm
