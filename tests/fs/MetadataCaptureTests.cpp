#include "fs/MetadataCapture.h"

#include <gtest/gtest.h>
#include <sys/acl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/xattr.h>

#include <algorithm>
#include <cstring>

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
    void makeSparse(const std::string& name, std::int64_t size, const std::vector<std::pair<std::int64_t, std::int64_t>>& data) {
        int fd = ::open((folder / name).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, size), 0);
        for (const auto& [offset, length] : data) {
            std::string bytes(static_cast<std::size_t>(length), 'd');
            ASSERT_EQ(::pwrite(fd, bytes.data(), bytes.size(), offset), static_cast<ssize_t>(length));
        }
        ::fsync(fd);
        ::close(fd);
    }
    bool holesSupported() {
        makeSparse("probe", 1 << 20, {});
        struct stat st {};
        ::stat((folder / "probe").c_str(), &st);
        return st.st_blocks == 0;
    }
    test::TempFolder folder{"wm-capture"};
};

TEST_F(MetadataCaptureTest, RegularFileBasics) {
    folder.writeFile("f", "hello");
    ::chmod((folder / "f").c_str(), 0640);
    struct timespec times[2] = {{1'500'000'000, 1}, {1'600'000'000, 42}};
    ::utimensat(AT_FDCWD, (folder / "f").c_str(), times, 0);
    auto r = capture("f");
    const auto& m = r.metadata;
    EXPECT_TRUE(r.problems.empty());
    EXPECT_TRUE(r.contentReadable);
    EXPECT_EQ(m.fileType, FileMetadata::FileType::regular);
    EXPECT_EQ(m.mode, 0100640u);
    EXPECT_EQ(m.size, 5u);
    EXPECT_EQ(m.modificationTime, (FileMetadata::Timestamp{1'600'000'000, 42}));
    EXPECT_EQ(m.accessTime.value_or(FileMetadata::Timestamp{}).seconds, 1'500'000'000);
    EXPECT_FALSE(m.acl || m.symlinkTarget || m.sparseRanges);
    if (::geteuid() == 0) {
        EXPECT_EQ(m.userName, "root");
        EXPECT_EQ(m.groupName, "root");
    }
}

TEST_F(MetadataCaptureTest, UnknownOwnersHaveNoNames) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root";
    folder.writeFile("f", "x");
    ::chown((folder / "f").c_str(), 424242, 424243);
    auto m = capture("f").metadata;
    EXPECT_EQ(m.uid, 424242u);
    EXPECT_FALSE(m.userName);
    EXPECT_FALSE(m.groupName);
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
        SCOPED_TRACE(path);
        const std::filesystem::path previous = std::filesystem::current_path();
        if (path == "link") std::filesystem::current_path(folder.path());  // a relative path as well
        auto r = MetadataCapture::capture(path);
        std::filesystem::current_path(previous);
        EXPECT_EQ(r.metadata.fileType, FileMetadata::FileType::symlink);
        EXPECT_EQ(r.metadata.symlinkTarget, bytesOf("target"));
        EXPECT_EQ(r.metadata.size, 6u);
        EXPECT_TRUE(r.problems.empty()) << r.problems.front();
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
    auto r = MetadataCapture::captureDescriptor(fd, "sparse");
    EXPECT_EQ(::lseek(fd, 0, SEEK_CUR), 3);
    if (holesSupported()) {
        EXPECT_TRUE(r.metadata.sparseRanges);
    }
    ::close(fd);
}

TEST_F(MetadataCaptureTest, HolesOfSparseFiles) {
    if (!holesSupported()) GTEST_SKIP() << "no holes on this file system";
    constexpr std::int64_t MiB = 1 << 20;
    struct Row {
        const char* name;
        std::int64_t size;
        std::vector<std::pair<std::int64_t, std::int64_t>> data;
        std::optional<std::vector<Range>> holes;
    };
    const std::vector<Row> rows = {
        {"middle", 3 * MiB, {{0, MiB}, {2 * MiB, MiB}}, std::vector<Range>{{MiB, MiB}}},
        {"allHole", MiB, {}, std::vector<Range>{{0, MiB}}},
        {"tail", 2 * MiB, {{0, MiB}}, std::vector<Range>{{MiB, MiB}}},
        {"head", 2 * MiB, {{MiB, MiB}}, std::vector<Range>{{0, MiB}}},
        {"dense", MiB, {{0, MiB}}, std::nullopt},
        {"empty", 0, {}, std::nullopt},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        makeSparse(row.name, row.size, row.data);
        auto m = capture(row.name).metadata;
        EXPECT_EQ(m.size, static_cast<std::uint64_t>(row.size));
        EXPECT_EQ(m.sparseRanges, row.holes);
    }
}

// Attributes come sorted; the access ACL is kept apart, a folder's default ACL stays an
// attribute and applies again as one.
TEST_F(MetadataCaptureTest, ExtendedAttributesAndACLs) {
    folder.writeFile("f", "x");
    const auto path = (folder / "f").string();
    ASSERT_EQ(::setxattr(path.c_str(), "user.zeta", "z", 1, 0), 0);
    ASSERT_EQ(::setxattr(path.c_str(), "user.alpha", "a\0b", 3, 0), 0);
    auto m = test::baseMetadata();
    m.acl = bytesOf("user::rw-\nuser:65534:r--\ngroup::r--\nmask::r--\nother::r--\n");
    ASSERT_EQ(test::kindOf(MetadataApply::apply(m, viewOf(path)), MetadataApply::Attribute::acl),
              MetadataApply::Outcome::Kind::applied);
    auto captured = MetadataCapture::capture(path).metadata;
    ASSERT_EQ(captured.extendedAttributes.size(), 2u);
    EXPECT_EQ(stringOf(captured.extendedAttributes[0].name), "user.alpha");
    EXPECT_EQ(captured.extendedAttributes[0].value, (Bytes{'a', 0, 'b'}));
    EXPECT_EQ(stringOf(captured.extendedAttributes[1].name), "user.zeta");
    EXPECT_NE(stringOf(captured.acl.value_or(Bytes{})).find("mask::"), std::string::npos);

    std::filesystem::create_directories(folder / "d");
    std::filesystem::create_directories(folder / "copy");
    acl_t defaults = ::acl_from_text("user::rwx\nuser:65534:r-x\ngroup::r-x\nmask::r-x\nother::r-x\n");
    ASSERT_NE(defaults, nullptr);
    ASSERT_EQ(::acl_set_file((folder / "d").c_str(), ACL_TYPE_DEFAULT, defaults), 0);
    ::acl_free(defaults);
    auto folderMetadata = capture("d").metadata;
    EXPECT_TRUE(std::any_of(folderMetadata.extendedAttributes.begin(), folderMetadata.extendedAttributes.end(),
                            [](const auto& a) { return stringOf(a.name) == "system.posix_acl_default"; }));
    auto report = MetadataApply::apply(folderMetadata, viewOf((folder / "copy").string()));
    EXPECT_EQ(test::kindOf(report, MetadataApply::Attribute::extendedAttributes), MetadataApply::Outcome::Kind::applied);
    EXPECT_EQ(capture("copy").metadata.extendedAttributes, folderMetadata.extendedAttributes);
}

TEST_F(MetadataCaptureTest, SpecialFilesAreCapturedWithoutOpeningThem) {
    ASSERT_EQ(::mkfifo((folder / "pipe").c_str(), 0600), 0);
    int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    struct sockaddr_un address {};
    address.sun_family = AF_UNIX;
    const std::string socketPath = (folder / "sock").string();
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    std::strcpy(address.sun_path, socketPath.c_str());
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(capture("pipe").metadata.fileType, FileMetadata::FileType::fifo);
    EXPECT_EQ(capture("sock").metadata.fileType, FileMetadata::FileType::socket);
    ::close(sock);
    EXPECT_EQ(MetadataCapture::capture(std::string("/dev/null")).metadata.fileType,
              FileMetadata::FileType::characterDevice);
}

TEST_F(MetadataCaptureTest, MissingEntriesThrow) {
    EXPECT_EQ(test::thrown<MetadataCapture::Error>([&] { capture("nothing"); }).errorNumber, ENOENT);
    EXPECT_THROW(MetadataCapture::capture(std::string()), MetadataCapture::Error);
}

TEST_F(MetadataCaptureTest, AnUnreadableFileStillHasItsMetadata) {
    folder.writeFile("secret", "s");
    ::chmod((folder / "secret").c_str(), 0);
    ::chmod(folder.path().c_str(), 0755);
    const std::string path = (folder / "secret").string();
    test::expectUnprivileged([&](const auto& report) {
        auto r = MetadataCapture::capture(path);
        if (r.contentReadable) {
            report("content claimed readable");
            return 1;
        }
        if (r.metadata.size != 1 || r.problems.empty()) {
            report("metadata or problem missing");
            return 2;
        }
        return 0;
    });
}

}  // namespace
}  // namespace wm
