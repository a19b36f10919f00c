// Backups built to attack the restore. After each, nothing outside the target has
// changed and no descriptor is left open.
#include <sys/stat.h>
#include <unistd.h>

#include "core/Unicode.h"
#include "restore/RestoreTestSupport.h"

namespace wm {
namespace {

namespace fs = std::filesystem;
using namespace test;
using V = PathSafetyViolation;
using T = TreeObject::EntryType;

class HostileSnapshotTest : public RestoreFixture {
protected:
    std::map<std::string, std::string> outsideBefore;
    int descriptorsBefore = 0;
    const fs::path stash = box.path() / "stash";

    void SetUp() override {
        ::alarm(60);  // a restore that blocks on a pipe or walks in a circle ends the run
        box.writeFile(box.outside() / "secret.txt", "do not touch");
        box.writeFile(box.outside() / "f", "outside f");
        fs::create_directories(box.outside() / "folder");
        box.writeFile(box.path() / "beside.txt", "beside");
        outsideBefore = listTree(box.path(), "target");
        descriptorsBefore = openDescriptors();
    }
    void TearDown() override {
        ::alarm(0);
        fs::remove_all(stash);
        EXPECT_EQ(listTree(box.path(), "target"), outsideBefore) << "something outside the target changed";
        EXPECT_EQ(openDescriptors(), descriptorsBefore) << "descriptors leaked";
    }
};

TEST_F(HostileSnapshotTest, UnsafeNamesAreRefusedBeforeTouchingTheDisk) {
    const BlobID data = backup.add("payload");
    const Strings names = {"..", ".", "/etc", "a/b", std::string("x\0y", 3), "", "../outside", "/", "..//secret.txt"};
    std::vector<TreeObject::Entry> entries;
    for (const auto& name : names) {
        entries.push_back(fileEntry(name, {data}, 7));
        entries.push_back(dirEntry(name, backup.addTree({fileEntry("f", {data}, 7)})));
        entries.push_back(linkEntry(name, "/etc/passwd"));
    }
    backup.setRoot(backup.addTree(entries));
    Result r = restore();
    EXPECT_EQ(failureReasons(r), Strings(3 * names.size(), unsafeName));
    EXPECT_EQ(counts(r), "files=0 hardlinks=0 folders=0 symlinks=0");
    EXPECT_TRUE(fs::is_empty(box.target()));
}

TEST_F(HostileSnapshotTest, TreeDeeperOrPathLongerThanTheLimit) {
    BlobID deep = backup.addTree({fileEntry("bottom", {backup.add("deep")}, 4)});
    for (int level = 513; level >= 1; --level) deep = backup.addTree({dirEntry("d", deep)});
    backup.setRoot(deep);
    Result r = restore();
    EXPECT_EQ(counts(r), "files=0 hardlinks=0 folders=512 symlinks=0");
    EXPECT_EQ(failureReasons(r), Strings{failed(V::tooManyComponents(512))});
    fs::remove_all(box.target() / "d");

    // 20 folders of 201 bytes = 4020 bytes; a 75-byte name makes 4096 exactly, 76 is past it.
    BlobID child = backup.addTree({fileEntry(std::string(75, 'a'), {}, 0), fileEntry(std::string(76, 'b'), {}, 0)});
    for (int level = 0; level < 20; ++level) child = backup.addTree({dirEntry(std::string(200, 'n'), child)});
    backup.setRoot(backup.addTree({dirEntry("top", backup.addTree({})), fileEntry(std::string(5000, 'x'), {}, 0)}));
    EXPECT_EQ(failureReasons(restore()), Strings{failed(V::pathTooLong(4096))});
    backup.setRoot(child);
    r = restore();
    EXPECT_EQ(counts(r), "files=1 hardlinks=0 folders=20 symlinks=0");
    EXPECT_EQ(failureReasons(r), Strings{failed(V::pathTooLong(4096))});
}

TEST_F(HostileSnapshotTest, ChildTreeThatPointsBackAtAnAncestor) {
    const BlobID top = backup.reserve(), middle = backup.reserve(), self = backup.reserve();
    backup.putTree(self, {dirEntry("again", self), fileEntry("s", {}, 0)});
    backup.putTree(middle, {dirEntry("loop", top), dirEntry("self", self), fileEntry("m", {}, 0)});
    backup.putTree(top, {dirEntry("a", middle), dirEntry("b", middle)});  // a shared subtree is fine
    backup.setRoot(top);
    backup.beforeRead = [&](const BlobID&) {
        if (backup.reads > 50) throw std::runtime_error("walked in a circle");
    };
    Result r = restore();
    EXPECT_LT(backup.reads, 20);
    EXPECT_EQ(failurePaths(r), (Strings{"a/loop", "a/self/again", "b/loop", "b/self/again"}));
    EXPECT_EQ(failureReasons(r), Strings(4, "the backup lists this folder inside itself"));
    EXPECT_EQ(counts(r), "files=4 hardlinks=0 folders=8 symlinks=0");  // a/m, a/self/s, b/m, b/self/s
    EXPECT_TRUE(fs::is_regular_file(box.target() / "b/self/s"));
}

// Ten levels each name the level below twice: a few trees make the walk enter 2,046 folders
// and meet the bottom tree 1,024 times. A record that counts fewer folders stops the walk
// once it would enter more than twice its count and 1,000, with one failure saying so; with
// all of them counted it walks the whole.
TEST_F(HostileSnapshotTest, SharedSubtreesAreWalkedOnlyAsFarAsTheRecordCounts) {
    BlobID tree = backup.addTree({fileEntry("refused/name", {}, 0), fileEntry("f", {}, 0)});
    for (int level = 0; level < 10; ++level) tree = backup.addTree({dirEntry("a", tree), dirEntry("b", tree)});
    backup.setRoot(tree);
    backup.directories = 10;
    Result r = restore();
    EXPECT_EQ(r.directoriesRestored, 1020u);
    // The 1,020th folder is made, the next is not, and the walk goes no further.
    EXPECT_TRUE(fs::is_directory(box.target() / "a/b/b/b/b/b/b/b/a/b"));
    EXPECT_FALSE(fs::exists(box.target() / "a/b/b/b/b/b/b/b/b") || fs::exists(box.target() / "b"));
    ASSERT_LT(r.failures.total(), 1000u);
    ASSERT_TRUE(r.failures.stop());
    EXPECT_EQ(r.failures.stop()->path, "a/b/b/b/b/b/b/b/b");
    EXPECT_EQ(r.failures.stop()->reason,
              "the backup leads into more folders than the 10 it counts, so the restore stopped here");
    EXPECT_EQ(r.failures.total(), r.failures.size() + 1);
    EXPECT_EQ(failureReasons(r), Strings(r.failures.size(), unsafeName));

    fs::remove_all(box.target()), fs::create_directory(box.target());
    backup.directories = 2046;
    r = restore();
    EXPECT_EQ(counts(r), "files=1024 hardlinks=0 folders=2046 symlinks=0");
    EXPECT_EQ(r.failures.total(), 1024u);
}

// Folders of many entries, or a file naming one blob many times, met at many places: beside
// the folders, the walk counts each entry and content-blob reference it meets, and stops once
// they pass twice the record's files, folders and content in the smallest chunks, what the
// record does not count (a thousand here, a million in use), and the pipes, links, sockets
// and devices of the tree of each folder entered within the record's count of folders.
TEST_F(HostileSnapshotTest, EntriesAndBlobReferencesAreBoundedByWhatTheRecordCounts) {
    std::vector<TreeObject::Entry> pipes;
    for (int i = 0; i < 100; ++i) pipes.push_back(specialEntry("pipe" + std::to_string(i), T::fifo));
    const BlobID empty = backup.add("");
    const std::vector<TreeObject::Entry> references = {fileEntry("f", std::vector<BlobID>(100, empty), 0)};
    backup.smallestChunk = 1024;
    const auto stopped = [](const std::string& limit) {
        return "the backup leads to more entries and pieces of content than the " + limit +
               " its counts allow, so the restore stopped here";
    };
    // Six levels of two folders: 126 folders, 64 at the bottom, 6,400 of each bottom entry met.
    for (const auto& [bottom, directories, bytes, limit] : {
             // Every folder counted: each bottom folder allows its 100 pipes, as a rotation of
             // copies of one folder of pipes needs.
             std::tuple(pipes, 126u, 0u, std::string()),
             // None counted: 1,000 entries, and entering a folder allows nothing.
             std::tuple(pipes, 0u, 0u, std::string("1000")),
             // Half counted: 2 x 63 + 1,000, and the 32 bottom folders of "a" entered within
             // the count allow 3,200 more; those of "b" nothing.
             std::tuple(pipes, 63u, 0u, std::string("4326")),
             // References to content are allowed only by the record's files, folders and bytes.
             std::tuple(references, 126u, 0u, std::string("1252")),
             // The record's bytes, in the smallest chunks, count too.
             std::tuple(pipes, 0u, 3000u << 10, std::string()),
         }) {
        BlobID tree = backup.addTree(bottom);
        for (int level = 0; level < 6; ++level) tree = backup.addTree({dirEntry("a", tree), dirEntry("b", tree)});
        backup.setRoot(tree);
        backup.directories = directories;
        backup.bytesLogical = bytes;
        fs::remove_all(box.target()), fs::create_directory(box.target());
        const Result r = restoreAllowing(1000);
        SCOPED_TRACE(testing::Message() << directories << " folders, " << bytes << " bytes");
        EXPECT_EQ(r.isComplete(), limit.empty());
        EXPECT_EQ(r.failures.stop().value_or(RestoreResult::Failure{}).reason, limit.empty() ? "" : stopped(limit));
        if (limit.empty()) {
            EXPECT_EQ(r.skipped.total(), 6400u);  // every pipe met
        }
    }
}

// Names of tens of kilobytes met again and again, below folders whose shown names grow
// threefold (each invalid byte becomes U+FFFD): every path a record keeps is its first
// 4,096 bytes at most, cut at a character boundary, and "…"; the counts stay exact. A reason
// is 4,096 bytes at most whole, so a name cut to that many is cut further there.
TEST_F(HostileSnapshotTest, LongNamesAreCutWhereverARecordKeepsThem) {
    const std::string invalid(65'000, '\xFF'), folder(250, '\xFF'), ellipsis = "\xE2\x80\xA6";
    auto tagged = fileEntry("f", {}, 0);  // an attribute Linux refuses, named in the record saying so
    tagged.extendedAttributes = std::vector<TreeObject::ExtendedAttribute>{{bytesOf(invalid), bytesOf("v")}};
    BlobID tree = backup.addTree({fileEntry("refused/" + invalid, {}, 0), specialEntry(invalid, T::fifo), tagged});
    for (int level = 0; level < 6; ++level)
        tree = backup.addTree({dirEntry("a" + folder, tree), dirEntry("b" + folder, tree)});
    backup.setRoot(backup.addTree({dirEntry("top", tree), specialEntry(invalid, T::fifo)}));
    backup.directories = 127;
    const Result r = restore();
    EXPECT_EQ(counts(r), "files=64 hardlinks=0 folders=127 symlinks=0");
    EXPECT_EQ(std::tuple(r.failures.total(), r.skipped.total(), r.unpreserved.total()), std::tuple(64u, 65u, 64u));
    const auto expectCut = [&](const std::string& text) {
        const std::size_t kept = text.size() - ellipsis.size();  // whole characters only: 4,094 bytes or more
        EXPECT_TRUE(kept <= 4096 && kept + 3 > 4096 && text.ends_with(ellipsis));
        EXPECT_EQ(Unicode::decodeUTF8Repairing(text), text);
    };
    for (const auto& record : r.failures) expectCut(record.path);
    for (const auto& record : r.skipped) expectCut(record.path);
    for (const auto& record : r.unpreserved) {
        expectCut(record.path);
        const std::string prefix = "no extended attribute could be set: ";
        EXPECT_TRUE(record.reason.starts_with(prefix + "\"\xEF\xBF\xBD") && record.reason.size() <= 4096);
        EXPECT_TRUE(record.reason.ends_with("\xEF\xBF\xBD" + ellipsis) && record.reason.size() + 3 > 4096);
    }
}

// Marked as changed while it was backed up, a file's content may run past its shape, but a
// missing blob still removes it; marked as unchanged, the same content is refused. When the first name of a hard-linked
// file fails, the next takes its place with what the backup holds and the third links to it.
TEST_F(HostileSnapshotTest, AFileMarkedAsChangedIsStillRemovedWhenItsContentCannotBeRead) {
    const BlobID data = backup.add("data");
    using S = TreeObject::Status;
    const auto entry = [&](std::string_view name, S status, std::optional<std::uint64_t> group,
                           std::vector<BlobID> blobs, std::uint64_t size) {
        auto e = fileEntry(name, std::move(blobs), size);
        e.status = status, e.hardlinkGroup = group;
        return e;
    };
    backup.setRoot(backup.addTree({
        entry("first", S::unstable, 1, {data, backup.reserve()}, 2),
        entry("second", S::unstable, 1, {data}, 2),
        entry("third", S::unstable, 1, {data}, 2),
        entry("unchanged", S::ok, std::nullopt, {data}, 2),
    }));
    const Result r = restore();
    EXPECT_EQ(failurePaths(r), (Strings{"first", "unchanged"}));
    EXPECT_EQ(failureReasons(r),
              (Strings{damaged, notWritten("the backup holds more content than this file's recorded shape")}));
    EXPECT_EQ(counts(r), "files=1 hardlinks=1 folders=0 symlinks=0");
    Strings changed;
    for (const auto& u : r.unpreserved)
        if (u.attribute == "content") changed.push_back(u.path);
    EXPECT_EQ(changed, Strings{"second"});
    EXPECT_EQ(stringOf(box.readFile(box.target() / "third")), "data");
    EXPECT_TRUE(fs::equivalent(box.target() / "second", box.target() / "third"));
    for (const char* gone : {"first", "unchanged"}) EXPECT_FALSE(fs::exists(box.target() / gone)) << gone;
}

// a/f fails midway just after a became a link to outside, where an f exists: neither
// its removal nor anything later may go through the link.
TEST_F(HostileSnapshotTest, FolderSwappedForASymlinkToOutsideDuringTheWalk) {
    const BlobID trigger = backup.add("first"), later = backup.add("second");
    backup.setRoot(backup.addTree({dirEntry(
        "a",
        backup.addTree({fileEntry("f0", {later}, 6), fileEntry("f", {later, trigger, backup.reserve()}, 20),
                        fileEntry("f2", {later}, 6), dirEntry("folder", backup.addTree({fileEntry("g", {later}, 6)})),
                        linkEntry("l", "/etc/passwd")}))}));
    backup.beforeRead = [&](const BlobID& id) {  // a is moved aside and replaced by a link to outside
        if (id != trigger || fs::exists(stash)) return;
        fs::rename(box.target() / "a", stash);
        fs::create_directory_symlink(box.outside(), box.target() / "a");
    };
    Result r = restore();
    EXPECT_EQ(counts(r), "files=1 hardlinks=0 folders=1 symlinks=0");
    EXPECT_EQ(failurePaths(r), (Strings{"a/f", "a/f2", "a/folder", "a/l"}));
    const std::string viaLink = failed(V::symlinkComponent("a", 0));
    EXPECT_EQ(failureReasons(r), (Strings{damaged, viaLink, viaLink, viaLink}));
    EXPECT_EQ(stringOf(box.readFile(stash / "f0")), "second");
}

}  // namespace
}  // namespace wm
