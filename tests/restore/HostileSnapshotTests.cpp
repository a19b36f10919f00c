// Backups built to attack the restore: every write must stay inside the target folder,
// and nothing already there may be replaced, truncated, followed or removed. Each test
// lists everything outside the target before and after the restore.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
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
using Result = RestoreCoordinator::Result;

const std::string unsafeName = "that name is not safe to write to disk";
const std::string wentWrong = "Something went wrong: ";

int openDescriptors() {
    int n = 0;
    for (auto it = fs::directory_iterator("/proc/self/fd"); it != fs::directory_iterator(); ++it) ++n;
    return n;
}

class HostileSnapshotTest : public ::testing::Test {
protected:
    Sandbox box;
    FakeBackup backup;
    test::TreeListing outsideBefore;
    int descriptorsBefore = 0;

    void SetUp() override {
        // A restore that blocks (opening a named pipe, walking in a circle) ends the run
        // instead of hanging it.
        ::alarm(60);
        // Something worth attacking beside the target.
        Sandbox::writeFile(box.outside() / "secret.txt", "do not touch");
        Sandbox::writeFile(box.outside() / "f", "outside f");
        fs::create_directories(box.outside() / "folder");
        Sandbox::writeFile(box.path() / "beside.txt", "beside");
    }
    void snapshotOutside() {
        outsideBefore = test::listTree(box.path(), "target");
        descriptorsBefore = openDescriptors();
    }
    Result restore(const RestoreSelection& selection = {}) {
        if (outsideBefore.empty()) snapshotOutside();
        return RestoreCoordinator().restore(SnapshotID{}, backup, box.target(), selection);
    }
    void TearDown() override {
        ::alarm(0);
        EXPECT_EQ(test::listTree(box.path(), "target"), outsideBefore) << "something outside the target changed";
        EXPECT_EQ(openDescriptors(), descriptorsBefore) << "descriptors leaked";
    }
};

TEST_F(HostileSnapshotTest, UnsafeNamesAreRefusedBeforeTouchingTheDisk) {
    const BlobID data = backup.add("payload");
    const std::vector<std::string> names = {"..", ".", "/etc", "a/b", std::string("x\0y", 3), "",
                                            "../outside", "/", "..//secret.txt"};
    std::vector<TreeObject::Entry> entries;
    for (const auto& name : names) {
        entries.push_back(fileEntry(name, {data}, 7));
        entries.push_back(dirEntry(name, backup.addTree({fileEntry("f", {data}, 7)})));
        entries.push_back(linkEntry(name, "/etc/passwd"));
    }
    backup.setRoot(backup.addTree(entries));
    Result r = restore();
    EXPECT_EQ(r.failures.size(), 3 * names.size());
    for (const auto& failure : r.failures) EXPECT_EQ(failure.reason, unsafeName);
    EXPECT_EQ(r.filesRestored + r.directoriesRestored + r.symlinksRestored, 0u);
    EXPECT_TRUE(fs::is_empty(box.target()));
}

TEST_F(HostileSnapshotTest, TreeDeeperThanTheLimit) {
    // 513 nested folders, a file at the bottom.
    BlobID child = backup.addTree({fileEntry("bottom", {backup.add("deep")}, 4)});
    for (int level = 513; level >= 1; --level) child = backup.addTree({dirEntry("d", child)});
    backup.setRoot(child);
    Result r = restore();
    EXPECT_EQ(r.directoriesRestored, 512u);
    ASSERT_EQ(r.failures.size(), 1u);
    EXPECT_EQ(r.failures[0].reason, wentWrong + PathSafetyViolation::tooManyComponents(512).what());
    EXPECT_EQ(r.filesRestored, 0u);
}

TEST_F(HostileSnapshotTest, PathLongerThanTheLimit) {
    const std::string name200(200, 'n');
    // 20 folders of 201 bytes each = 4020 bytes; a 75-byte name brings it to 4096 exactly,
    // a 76-byte one past the limit.
    BlobID child = backup.addTree({fileEntry(std::string(75, 'a'), {}, 0), fileEntry(std::string(76, 'b'), {}, 0)});
    for (int level = 0; level < 20; ++level) child = backup.addTree({dirEntry(name200, child)});
    backup.setRoot(backup.addTree({dirEntry("top", backup.addTree({})), fileEntry(std::string(5000, 'x'), {}, 0)}));
    Result r1 = restore();
    ASSERT_EQ(r1.failures.size(), 1u);
    EXPECT_EQ(r1.failures[0].reason, wentWrong + PathSafetyViolation::pathTooLong(4096).what());

    backup.setRoot(child);
    Result r2 = restore();
    EXPECT_EQ(r2.filesRestored, 1u);
    ASSERT_EQ(r2.failures.size(), 1u);
    EXPECT_EQ(r2.failures[0].reason, wentWrong + PathSafetyViolation::pathTooLong(4096).what());
}

TEST_F(HostileSnapshotTest, SymlinkToOutsideThenFolderOfTheSameName) {
    const BlobID data = backup.add("planted");
    const BlobID inside = backup.addTree({fileEntry("f", {data}, 7), fileEntry("new.txt", {data}, 7),
                                          dirEntry("folder", backup.addTree({fileEntry("g", {data}, 7)}))});
    auto member = fileEntry("x", {data}, 7);
    member.hardlinkGroup = 3;
    auto anchor = fileEntry("anchor", {data}, 7);
    anchor.hardlinkGroup = 3;
    backup.setRoot(backup.addTree({
        linkEntry("x", box.outside().string()),
        dirEntry("x", inside),
        fileEntry("x", {data}, 7),
        anchor,
        member,
        linkEntry("x", "/etc"),
    }));
    Result r = restore();
    EXPECT_EQ(r.symlinksRestored, 1u);
    EXPECT_EQ(r.filesRestored, 1u);
    ASSERT_EQ(r.failures.size(), 4u);
    EXPECT_EQ(r.failures[0].reason, wentWrong + PathSafetyViolation::symlinkComponent("x", 0).what());
    for (int i = 1; i < 4; ++i)
        EXPECT_EQ(r.failures[i].reason, wentWrong + PathSafetyViolation::existingSymlinkAtTarget("x").what());
    EXPECT_EQ(fs::read_symlink(box.target() / "x"), box.outside());
}

TEST_F(HostileSnapshotTest, SymlinkOrNamedPipeAlreadyInTheTarget) {
    fs::create_directory_symlink(box.outside(), box.target() / "docs");
    fs::create_symlink(box.outside() / "secret.txt", box.target() / "notes.txt");
    ASSERT_EQ(::mkfifo((box.target() / "pipe").c_str(), 0644), 0);
    ASSERT_EQ(::mkfifo((box.target() / "pipedir").c_str(), 0644), 0);
    const auto targetBefore = test::listTree(box.target());
    const BlobID data = backup.add("overwrite");
    backup.setRoot(backup.addTree({
        dirEntry("docs", backup.addTree({fileEntry("secret.txt", {data}, 9), fileEntry("new", {data}, 9)})),
        fileEntry("notes.txt", {data}, 9),
        fileEntry("pipe", {data}, 9),
        dirEntry("pipedir", backup.addTree({fileEntry("f", {data}, 9)})),
        linkEntry("pipe", "x"),
    }));
    Result r = restore();
    ASSERT_EQ(r.failures.size(), 5u);
    EXPECT_EQ(r.failures[0].reason, wentWrong + PathSafetyViolation::symlinkComponent("docs", 0).what());
    EXPECT_EQ(r.failures[1].reason, wentWrong + PathSafetyViolation::existingSymlinkAtTarget("notes.txt").what());
    EXPECT_EQ(r.failures[2].reason, wentWrong + PathSafetyViolation::targetAlreadyExists("pipe").what());
    EXPECT_EQ(r.failures[3].reason, wentWrong + PathSafetyViolation::unexpectedNonDirectory("pipedir").what());
    EXPECT_EQ(test::listTree(box.target()), targetBefore);
}

TEST_F(HostileSnapshotTest, ChildTreeThatPointsBackAtAnAncestor) {
    const BlobID top = backup.reserve();
    const BlobID middle = backup.reserve();
    const BlobID self = backup.reserve();
    backup.putTree(self, {dirEntry("again", self), fileEntry("s", {}, 0)});
    backup.putTree(middle, {dirEntry("loop", top), dirEntry("self", self), fileEntry("m", {}, 0)});
    backup.putTree(top, {dirEntry("a", middle), dirEntry("b", middle)});  // a shared subtree is fine
    backup.setRoot(top);
    // A walk that goes round the loop stops reading here instead of running for ever.
    backup.beforeRead = [&](const BlobID&) {
        if (backup.reads > 50) throw std::runtime_error("walked in a circle");
    };
    Result r = restore();
    EXPECT_LT(backup.reads, 20);
    std::vector<std::string> paths;
    for (const auto& f : r.failures) {
        paths.push_back(f.path);
        EXPECT_EQ(f.reason, "the backup lists this folder inside itself");
    }
    EXPECT_EQ(paths, (std::vector<std::string>{"a/loop", "a/self/again", "b/loop", "b/self/again"}));
    EXPECT_EQ(r.filesRestored, 4u);  // a/m, a/self/s, b/m, b/self/s
    EXPECT_TRUE(fs::is_regular_file(box.target() / "b/self/s"));
}

TEST_F(HostileSnapshotTest, FolderSwappedForASymlinkToOutsideDuringTheWalk) {
    const BlobID trigger = backup.add("first");
    const BlobID later = backup.add("second");
    const BlobID a = backup.addTree({fileEntry("f0", {trigger}, 5), fileEntry("f", {later}, 6),
                                     dirEntry("folder", backup.addTree({fileEntry("g", {later}, 6)})),
                                     linkEntry("l", "/etc/passwd")});
    backup.setRoot(backup.addTree({dirEntry("a", a)}));
    snapshotOutside();
    const fs::path stash = box.path() / "stash";
    backup.beforeRead = [&](const BlobID& id) {
        if (id != trigger || fs::exists(stash)) return;
        fs::rename(box.target() / "a", stash);
        fs::create_directory_symlink(box.outside(), box.target() / "a");
    };
    Result r = restore();
    // f0 was already open when the swap happened; everything after is refused.
    EXPECT_EQ(r.filesRestored, 1u);
    ASSERT_EQ(r.failures.size(), 3u);
    for (const auto& f : r.failures)
        EXPECT_EQ(f.reason, wentWrong + PathSafetyViolation::symlinkComponent("a", 0).what());
    EXPECT_EQ(Sandbox::readFile(stash / "f0"), "first");
    fs::remove_all(stash);
}

TEST_F(HostileSnapshotTest, PartlyWrittenFileIsNotRemovedThroughASwappedFolder) {
    // outside/f exists; the restore's a/f fails midway just after a was swapped for a
    // link to outside: the clean-up must not reach outside/f.
    const BlobID first = backup.add("part");
    const BlobID failing = backup.reserve();
    backup.setRoot(backup.addTree({dirEntry("a", backup.addTree({fileEntry("f", {first, failing}, 8)}))}));
    snapshotOutside();
    const fs::path stash = box.path() / "stash";
    backup.beforeRead = [&](const BlobID& id) {
        if (id != failing) return;
        fs::rename(box.target() / "a", stash);
        fs::create_directory_symlink(box.outside(), box.target() / "a");
    };
    Result r = restore();
    ASSERT_EQ(r.failures.size(), 1u);
    EXPECT_EQ(Sandbox::readFile(box.outside() / "f"), "outside f");
    fs::remove_all(stash);
}

TEST_F(HostileSnapshotTest, HugeSizesAndHoles) {
    auto entry = [&](std::string_view name, std::uint64_t size, std::vector<TreeObject::SparseRange> holes) {
        auto e = fileEntry(name, {backup.add("data")}, size);
        if (!holes.empty()) e.sparseRanges = holes;
        return e;
    };
    const std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
    backup.setRoot(backup.addTree({
        entry("max", max, {}),
        entry("max-holes", max, {{0, max - 4}}),
        entry("2^63", std::uint64_t{1} << 63, {{0, (std::uint64_t{1} << 63) - 4}}),
        entry("wrapping-hole", 8, {{max, max}, {max - 1, 3}}),
        entry("ok", 4, {{4, max}}),
    }));
    Result r = restore();
    EXPECT_EQ(r.filesRestored, 2u);
    EXPECT_EQ(r.failures.size(), 3u);
    for (const char* name : {"max", "max-holes", "2^63"}) EXPECT_FALSE(fs::exists(box.target() / name));
    EXPECT_EQ(Sandbox::readFile(box.target() / "ok"), "data");
    EXPECT_EQ(Sandbox::readFile(box.target() / "wrapping-hole"), std::string("data\0\0\0\0", 8));
}

// Random damage to a small but complete backup's tree objects: whatever the walk makes
// of it, it stays inside the target and never crashes.
TEST_F(HostileSnapshotTest, RandomlyDamagedTreesStayInside) {
    std::mt19937 random(20240611);
    snapshotOutside();
    for (int round = 0; round < 150; ++round) {
        FakeBackup damaged;
        const BlobID data = damaged.add("content");
        auto grouped = fileEntry("h1", {data}, 7);
        grouped.hardlinkGroup = 9;
        auto sparse = fileEntry("s", {data}, 100);
        sparse.sparseRanges = std::vector<TreeObject::SparseRange>{{10, 20}};
        const BlobID leaf = damaged.addTree({fileEntry("leaf", {data}, 7), linkEntry("up", "../..")});
        std::vector<TreeObject::Entry> top = {dirEntry("d", leaf),        dirEntry("planted", leaf), grouped,
                                              linkEntry("l", "/etc"),     sparse,
                                              test::specialEntry("p", TreeObject::EntryType::fifo)};
        Bytes bytes = TreeObject::encode(top);
        const int flips = 1 + static_cast<int>(random() % 6);
        for (int i = 0; i < flips; ++i) bytes[random() % bytes.size()] ^= static_cast<std::uint8_t>(1u << (random() % 8));
        if (random() % 4 == 0) bytes.resize(random() % bytes.size());
        damaged.setRoot(damaged.add(bytes));
        const fs::path into = box.target() / ("round" + std::to_string(round));
        fs::create_directories(into);
        fs::create_directory_symlink(box.outside(), into / "planted");
        try {
            RestoreCoordinator().restore(SnapshotID{}, damaged, into, {});
        } catch (const TreeObject::Error&) {
            // An undecodable top tree is refused as a whole.
        }
    }
}

}  // namespace
}  // namespace wm
