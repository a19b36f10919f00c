#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <limits>
#include <string>

#include "restore/FakeBackup.h"
#include "restore/RestoreCoordinator.h"
#include "restore/RestoreTestSupport.h"

namespace wm {
namespace {

namespace fs = std::filesystem;
using test::FakeBackup;
using test::fileEntry;
using test::Sandbox;
using Result = RestoreCoordinator::Result;

constexpr std::uint64_t MiB = 1u << 20;
const std::string shapeFailure =
    "Something went wrong: destinationNotUsable(\"the backup holds more content than this file's recorded shape\")";
const std::string sizeFailure =
    "Something went wrong: destinationNotUsable(\"the backup records a size or position larger than a file can "
    "have\")";

class FileContentTest : public ::testing::Test {
protected:
    Sandbox box;
    FakeBackup backup;

    // Restores one file entry named "f" and returns the result.
    Result restoreOne(TreeObject::Entry entry) {
        entry.name = bytesOf("f");
        backup.setRoot(backup.addTree({entry}));
        return RestoreCoordinator().restore(SnapshotID{}, backup, box.target(), {});
    }
    fs::path f() const { return box.target() / "f"; }
    static TreeObject::Entry sparseFile(std::vector<BlobID> content, std::uint64_t size,
                                        std::vector<TreeObject::SparseRange> holes) {
        auto e = fileEntry("f", std::move(content), size);
        e.sparseRanges = std::move(holes);
        return e;
    }
};

TEST_F(FileContentTest, SizeWithoutContentIsZeros) {
    Result r = restoreOne(fileEntry("f", {}, 10));
    EXPECT_EQ(r.filesRestored, 1u);
    EXPECT_EQ(Sandbox::readFile(f()), std::string(10, '\0'));
    fs::remove(f());
    restoreOne(fileEntry("f", {}, std::nullopt));
    EXPECT_EQ(fs::file_size(f()), 0u);
}

TEST_F(FileContentTest, BlobsFillTheDataRegionsAcrossBoundaries) {
    // 3 MiB with a hole from 1 MiB to 2 MiB; 2 MiB of content in blobs of 1.5 MiB and 0.5 MiB,
    // so the first blob spans the hole.
    std::string first(MiB + MiB / 2, 'a');
    for (std::size_t i = 0; i < first.size(); ++i) first[i] = static_cast<char>('a' + i % 23);
    const std::string second(MiB / 2, 'z');
    Result r = restoreOne(sparseFile({backup.add(first), backup.add(second)}, 3 * MiB, {{MiB, MiB}}));
    ASSERT_TRUE(r.isComplete()) << r.failures.front().reason;
    const std::string content = Sandbox::readFile(f());
    ASSERT_EQ(content.size(), 3 * MiB);
    EXPECT_EQ(content.substr(0, MiB), first.substr(0, MiB));
    EXPECT_EQ(content.substr(MiB, MiB), std::string(MiB, '\0'));
    EXPECT_EQ(content.substr(2 * MiB, MiB / 2), first.substr(MiB));
    EXPECT_EQ(content.substr(2 * MiB + MiB / 2), second);
    struct stat st;
    ASSERT_EQ(::stat(f().c_str(), &st), 0);
    EXPECT_LE(st.st_blocks * 512, static_cast<long>(2 * MiB + 64 * 1024));
}

TEST_F(FileContentTest, ContentMustFitTheRecordedShape) {
    struct Case {
        const char* label;
        std::uint64_t size;
        std::vector<TreeObject::SparseRange> holes;
        std::size_t contentBytes;
        bool fits;
    };
    const Case cases[] = {
        {"exactly fills", 100, {{10, 20}}, 80, true},
        {"one byte more", 100, {{10, 20}}, 81, false},
        {"size 0 with holes, no content", 0, {{0, 10}}, 0, true},
        {"size 0 with holes, content", 0, {{0, 10}}, 1, false},
        {"all hole", 50, {{0, 50}}, 1, false},
        {"hole past the end is clipped", 10, {{5, std::numeric_limits<std::uint64_t>::max()}}, 5, true},
        {"hole near 2^64", 10, {{std::numeric_limits<std::uint64_t>::max() - 5, 100}}, 10, true},
        {"hole near 2^64, too much", 10, {{std::numeric_limits<std::uint64_t>::max() - 5, 100}}, 11, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        std::vector<BlobID> content;
        if (c.contentBytes) content.push_back(backup.add(std::string(c.contentBytes, 'c')));
        Result r = restoreOne(sparseFile(content, c.size, c.holes));
        if (c.fits) {
            EXPECT_TRUE(r.isComplete());
            EXPECT_EQ(fs::file_size(f()), c.size);
            fs::remove(f());
        } else {
            ASSERT_EQ(r.failures.size(), 1u);
            EXPECT_EQ(r.failures[0].reason, shapeFailure);
            EXPECT_FALSE(fs::exists(f()));
        }
    }
}

TEST_F(FileContentTest, WithoutHolesLongerContentExtendsTheFile) {
    Result r = restoreOne(fileEntry("f", {backup.add("0123456789")}, 4));
    EXPECT_TRUE(r.isComplete());
    EXPECT_EQ(Sandbox::readFile(f()), "0123456789");
}

TEST_F(FileContentTest, SizesBeyondAFileOffsetFailCleanly) {
    for (std::uint64_t size : {std::uint64_t{1} << 63, std::numeric_limits<std::uint64_t>::max()}) {
        SCOPED_TRACE(size);
        Result r = restoreOne(fileEntry("f", {backup.add("x")}, size));
        ASSERT_EQ(r.failures.size(), 1u);
        EXPECT_EQ(r.failures[0].reason, sizeFailure);
        EXPECT_FALSE(fs::exists(f()));
    }
    // The largest offset fits the type but not the file system: its own error, and no file left.
    auto huge = sparseFile({}, static_cast<std::uint64_t>(std::numeric_limits<off_t>::max()),
                           {{0, static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())}});
    Result r = restoreOne(huge);
    if (!r.isComplete()) {
        EXPECT_NE(r.failures[0].reason.find("destinationNotUsable"), std::string::npos);
        EXPECT_FALSE(fs::exists(f()));
    } else {
        fs::remove(f());
    }
}

TEST_F(FileContentTest, MissingBlobRemovesThePartlyWrittenFile) {
    Result r = restoreOne(fileEntry("f", {backup.add("first part"), backup.reserve()}, 20));
    ASSERT_EQ(r.failures.size(), 1u);
    EXPECT_EQ(r.failures[0].path, "f");
    EXPECT_EQ(r.failures[0].reason, "Something went wrong: FakeBackup.missingBlob");
    EXPECT_EQ(r.filesRestored, 0u);
    EXPECT_FALSE(fs::exists(f()));
}

TEST_F(FileContentTest, CleanupRemovesOnlyTheFileByItsRawName) {
    // U+FFFD spelled out: what the repaired text of the name "\xff" would name.
    Sandbox::writeFile(box.target() / "\xef\xbf\xbd", "someone else's");
    auto entry = fileEntry("\xff", {backup.reserve()}, 5);
    backup.setRoot(backup.addTree({entry}));
    Result r = RestoreCoordinator().restore(SnapshotID{}, backup, box.target(), {});
    ASSERT_EQ(r.failures.size(), 1u);
    EXPECT_EQ(r.failures[0].path, "\xef\xbf\xbd");
    EXPECT_FALSE(fs::exists(box.target() / "\xff"));
    EXPECT_EQ(Sandbox::readFile(box.target() / "\xef\xbf\xbd"), "someone else's");
}

}  // namespace
}  // namespace wm
