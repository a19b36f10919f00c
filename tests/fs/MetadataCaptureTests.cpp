#include "fs/MetadataCapture.h"

#include <gtest/gtest.h>
#include <sys/acl.h>
#include <sys/xattr.h>

#include "fs/FsTestSupport.h"
#include "fs/MetadataApply.h"
#include "support/TempFolder.h"
#include "support/Thrown.h"

namespace wm {
namespace {

using Range = FileMetadata::SparseRange;

class MetadataCaptureTest : public ::testing::Test {
protected:
    MetadataCapture::Result capture(const std::string& relative) {
        return MetadataCapture::capture((folder / relative).string());
    }
    // A file of size bytes with data written only at the given ranges.
    void makeSparse(const std::string& name, std::int64_t size,
                    const std::vector<std::pair<std::int64_t, std::int64_t>>& data) {
        std::filesystem::resize_file(folder.writeFile(name, ""), static_cast<std::uintmax_t>(size));
        const int fd = ::open((folder / name).c_str(), O_WRONLY | O_CLOEXEC);
        for (const auto& [offset, length] : data)
            EXPECT_EQ(::pwrite(fd, std::string(static_cast<std::size_t>(length), 'd').data(), length, offset), length);
        ::fsync(fd);
        ::close(fd);
    }
    test::TempFolder folder{"wm-capture"};
};

TEST_F(MetadataCaptureTest, UnknownOwnersHaveNoNamesAndMissingEntriesThrow) {
    EXPECT_EQ(test::thrown<MetadataCapture::Error>([&] { capture("nothing"); }).errorNumber, ENOENT);
    if (::geteuid() != 0) GTEST_SKIP() << "needs root";
    ::chown(folder.writeFile("f", "x").c_str(), 424242, 424243);
    const auto m = capture("f").metadata;
    EXPECT_FALSE(m.userName || m.groupName);
}

// The path is quoted, so that a report leaving out paths takes out names with spaces whole.
TEST(MetadataCaptureError, DescriptionQuotesThePath) {
    EXPECT_STREQ(
        MetadataCapture::Error::entryUnavailable("/a b/say \"hi\"", ENOENT).what(),
        R"(MetadataCapture.Error.entryUnavailable(path: "/a b/say \"hi\"", reason: No such file or directory))");
}

// Links are never followed. One named by a path (not by folder and name) is read through
// that path: its own extended attributes come back and nothing is reported missing.
TEST_F(MetadataCaptureTest, LinksAreReadThemselvesWhateverTheyAreNamedBy) {
    folder.writeFile("target", "0123456789");
    ASSERT_EQ(::symlink("target", (folder / "link").c_str()), 0);
    ASSERT_EQ(::symlink("../\xff/x", (folder / "dangling").c_str()), 0);
    EXPECT_EQ(capture("dangling").metadata.symlinkTarget, bytesOf("../\xff/x"));
    const std::string link = (folder / "link").string();
    // Only privileged names can be set on a link itself.
    const bool privileged = ::lsetxattr(link.c_str(), "trusted.wm", "v", 1, 0) == 0;
    for (const std::string& path : {link, std::string("link")}) {
        const std::filesystem::path previous = std::filesystem::current_path();
        if (path == "link") std::filesystem::current_path(folder.path());  // a relative path as well
        auto r = MetadataCapture::capture(path);
        std::filesystem::current_path(previous);
        EXPECT_EQ(r.metadata.symlinkTarget, bytesOf("target"));
        EXPECT_TRUE(r.problems.empty()) << path;
        if (privileged) {
            ASSERT_EQ(r.metadata.extendedAttributes.size(), 1u);
            EXPECT_EQ(stringOf(r.metadata.extendedAttributes[0].name), "trusted.wm");
        }
    }
}

// Capturing an open file must not move its read position: the caller goes on reading it.
TEST_F(MetadataCaptureTest, CapturingADescriptorKeepsItsPosition) {
    makeSparse("sparse", 1 << 20, {{0, 4096}});
    int fd = ::open((folder / "sparse").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    char head[3];
    ASSERT_EQ(::read(fd, head, sizeof head), 3);
    MetadataCapture::captureDescriptor(fd, "sparse");
    EXPECT_EQ(::lseek(fd, 0, SEEK_CUR), 3);
    ::close(fd);
}

TEST_F(MetadataCaptureTest, HolesOfSparseFiles) {
    makeSparse("probe", 1 << 20, {});
    if (test::lstatOf(folder / "probe").st_blocks != 0) GTEST_SKIP() << "no holes on this file system";
    constexpr std::int64_t MiB = 1 << 20;
    using Data = std::vector<std::pair<std::int64_t, std::int64_t>>;
    using Holes = std::optional<std::vector<Range>>;
    const std::tuple<const char*, std::int64_t, Data, Holes> rows[] = {
        // name, size, data written, holes
        {"middle", 3 * MiB, {{0, MiB}, {2 * MiB, MiB}}, Holes{{{MiB, MiB}}}},
        {"allHole", MiB, {}, Holes{{{0, MiB}}}},
        {"tail", 2 * MiB, {{0, MiB}}, Holes{{{MiB, MiB}}}},
        {"head", 2 * MiB, {{MiB, MiB}}, Holes{{{0, MiB}}}},
        {"dense", MiB, {{0, MiB}}, std::nullopt}};
    for (const auto& [name, size, data, holes] : rows) {
        makeSparse(name, size, data);
        EXPECT_EQ(capture(name).metadata.sparseRanges, holes) << name;
    }
}

// A folder's default ACL stays an attribute and applies again as one.
TEST_F(MetadataCaptureTest, DefaultACLsTravelAsAttributes) {
    std::filesystem::create_directories(folder / "d");
    std::filesystem::create_directories(folder / "copy");
    acl_t defaults = ::acl_from_text("user::rwx\nuser:65534:r-x\ngroup::r-x\nmask::r-x\nother::r-x\n");
    ASSERT_NE(defaults, nullptr);
    ASSERT_EQ(::acl_set_file((folder / "d").c_str(), ACL_TYPE_DEFAULT, defaults), 0);
    ::acl_free(defaults);
    auto folderMetadata = capture("d").metadata;
    ASSERT_EQ(folderMetadata.extendedAttributes.size(), 1u);
    EXPECT_EQ(folderMetadata.extendedAttributes[0].name, bytesOf("system.posix_acl_default"));
    MetadataApply::apply(folderMetadata, viewOf((folder / "copy").string()));
    EXPECT_EQ(capture("copy").metadata.extendedAttributes, folderMetadata.extendedAttributes);
}

TEST_F(MetadataCaptureTest, SpecialFilesAreCapturedWithoutOpeningThem) {
    ASSERT_EQ(::mkfifo((folder / "pipe").c_str(), 0600), 0);
    EXPECT_EQ(capture("pipe").metadata.fileType, FileMetadata::FileType::fifo);
    EXPECT_EQ(MetadataCapture::capture(std::string("/dev/null")).metadata.fileType,
              FileMetadata::FileType::characterDevice);
}

TEST_F(MetadataCaptureTest, AnUnreadableFileStillHasItsMetadata) {
    folder.writeFile("secret", "s");
    ::chmod((folder / "secret").c_str(), 0);
    ::chmod(folder.path().c_str(), 0755);
    const std::string path = (folder / "secret").string();
    test::expectUnprivileged([&](const auto&) {
        const auto r = MetadataCapture::capture(path);
        return !r.contentReadable && r.metadata.size == 1 && !r.problems.empty() ? 0 : 1;
    });
}

}  // namespace
}  // namespace wm
