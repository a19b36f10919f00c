#include "fs/MetadataApply.h"

#include <gtest/gtest.h>
#include <sys/xattr.h>

#include "fs/FsTestSupport.h"
#include "fs/MetadataCapture.h"
#include "support/TempFolder.h"
#include "support/Thrown.h"

namespace wm {
namespace {

using Attribute = MetadataApply::Attribute;
using Kind = MetadataApply::Outcome::Kind;
using test::baseMetadata;
using test::lstatOf;

class MetadataApplyTest : public ::testing::Test {
protected:
    // Applies m to a new empty file of that name through its descriptor, as the restore does.
    MetadataApply::Report applyToNew(const std::string& name, const FileMetadata& m,
                                     const MetadataApply::TextBounds& bounds = {}) {
        const int fd = ::open((folder / name).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        EXPECT_GE(fd, 0);
        auto report = MetadataApply::apply(m, fd, bounds);
        ::close(fd);
        return report;
    }
    test::TempFolder folder{"wm-apply"};
};

// Names from another system land under "user."; names no file system takes are left out,
// and the outcome says which.
TEST_F(MetadataApplyTest, ExtendedAttributeNamespaces) {
    // Attributes given; the outcome; names that must exist afterwards; a text the outcome must carry.
    using Attributes = std::vector<std::pair<std::string, std::string>>;
    const std::vector<std::tuple<Attributes, Kind, std::vector<std::string>, const char*>> rows = {
        {{{"trusted.t", "x"}}, ::geteuid() == 0 ? Kind::applied : Kind::unpreserved, {}, ""},
        {{{"com.apple.FinderInfo", "fi"}, {"user.kept", "k"}},
         Kind::partial,
         {"user.com.apple.FinderInfo", "user.kept"},
         "user.com.apple.FinderInfo"},
        {{{std::string("bad\0name", 8), "v"}, {"user.ok", "v"}}, Kind::partial, {"user.ok"}, "bad"},
        {{{"", "v"}}, Kind::unpreserved, {}, ""},
        {{{"user.", "v"}}, Kind::partial, {}, ""},  // "user." alone is no namespace: becomes "user.user."
    };
    for (int n = 0; const auto& [attributes, expected, setAs, named] : rows) {
        const std::string name = "x" + std::to_string(n++);
        auto m = baseMetadata();
        for (const auto& [k, v] : attributes) m.extendedAttributes.push_back({bytesOf(k), bytesOf(v)});
        const auto outcome = applyToNew(name, m).outcome(Attribute::extendedAttributes);
        EXPECT_EQ(outcome.kind, expected) << name << ": " << outcome.description();
        EXPECT_NE(outcome.text.find(named), std::string::npos) << outcome.text;
        for (const auto& set : setAs)
            EXPECT_GE(::lgetxattr((folder / name).c_str(), set.c_str(), nullptr, 0), 0) << name << ": " << set;
    }
}

// A file of many attributes: each list in the outcome shows its first items whole while the
// whole text stays within its bound, then counts the others; every name is in one of them.
TEST_F(MetadataApplyTest, LongAttributeListsStayWithinTheirBoundsAndCountTheRest) {
    // Names of 300 bytes, more than Linux takes, so none is set; names from another system, of
    // which the file system keeps what room it has. The name's start, its bytes, how many.
    const MetadataApply::TextBounds bounds{4096, 4000};
    for (const auto& [start, nameBytes, count] :
         {std::tuple("user.refused-", 300, 300), std::tuple("com.example.foreign-", 30, 400)}) {
        auto m = baseMetadata();
        for (int i = 0; i < count; ++i) {
            std::string name = start + std::to_string(i) + "-";
            name.resize(nameBytes, 'n');
            m.extendedAttributes.push_back({bytesOf(name), bytesOf("v")});
        }
        const auto outcome = applyToNew(start, m, bounds).outcome(Attribute::extendedAttributes);
        const std::string& text = outcome.text;
        EXPECT_EQ(outcome.kind, start[0] == 'u' ? Kind::unpreserved : Kind::partial);
        EXPECT_LE(text.size(), start[0] == 'u' ? bounds.reasonBytes : bounds.detailBytes);
        int shown = 0, more = 0;  // every item shown is whole
        for (std::size_t at = 0; (at = text.find(start, at)) != std::string::npos; ++at) ++shown;
        for (std::size_t at = 0; (at = text.find(", and ", at)) != std::string::npos; ++at)
            more += std::stoi(text.substr(at + 6));
        EXPECT_EQ(text.find("\xE2\x80\xA6"), std::string::npos) << text;
        EXPECT_GT(more, 0) << text;
        EXPECT_EQ(shown + more, count) << text;
        // Alone, the list shows items while they fit: one more would not.
        EXPECT_TRUE(start[0] != 'u' || text.size() + 2 + text.find(", ") - 36 > bounds.reasonBytes) << text;
    }
}

// A Linux ACL text is set; the text another system writes for its own ACLs, or a damaged
// one, is reported unpreserved.
TEST_F(MetadataApplyTest, LinuxACLTextIsSetAndOtherACLsAreUnpreserved) {
    const std::vector<std::pair<std::string, Kind>> rows = {
        {"user::rw-\nuser:65534:r--\ngroup::r--\nmask::r--\nother::---\n", Kind::applied},
        {"!#acl 1\nuser:FFFFEEEE-DDDD-CCCC-BBBB-AAAA000001F5:jo:501:allow:read,write\n", Kind::unpreserved},
        {std::string("user\0:", 6), Kind::unpreserved}};
    for (int n = 0; const auto& [acl, expected] : rows) {
        auto m = baseMetadata();
        m.mode = 0640;
        m.acl = bytesOf(acl);
        const std::string name = "a" + std::to_string(n++);
        EXPECT_EQ(applyToNew(name, m).outcome(Attribute::acl).kind, expected) << name;
        const auto captured = MetadataCapture::capture((folder / name).string()).metadata;
        EXPECT_EQ(captured.acl.has_value(), expected == Kind::applied) << name;
        EXPECT_EQ(captured.mode & 0777, 0640u);
    }
}

TEST_F(MetadataApplyTest, FlagsLinuxKeepsAndFlagsItCannot) {
    if (!test::inodeFlags(folder.path())) GTEST_SKIP() << "no inode flags on this file system";
    const bool root = ::geteuid() == 0;
    const std::vector<std::pair<std::uint32_t, Kind>> rows = {
        {0, Kind::notApplicable},
        {BSDFlags::userNoDump, Kind::applied},
        {BSDFlags::userHidden, Kind::unpreserved},
        {BSDFlags::userNoDump | BSDFlags::userHidden | BSDFlags::systemArchived, Kind::partial},
        {BSDFlags::userImmutable, root ? Kind::applied : Kind::unpreserved},
        {BSDFlags::systemAppend | BSDFlags::userNoDump, root ? Kind::applied : Kind::partial},
    };
    for (int n = 0; const auto& [flags, expected] : rows) {
        const std::string name = "f" + std::to_string(n++);
        auto m = baseMetadata();
        m.mode = 0600;
        m.bsdFlags = flags;
        const auto report = applyToNew(name, m);
        EXPECT_EQ(report.outcome(Attribute::bsdFlags).kind, expected) << name;
        // The mode is set even when the file ends up immutable.
        EXPECT_EQ(lstatOf(folder / name).st_mode & 07777, 0600u) << name;
        const auto captured = MetadataCapture::capture((folder / name).string()).metadata.bsdFlags;
        if (expected == Kind::applied || expected == Kind::partial) {
            EXPECT_EQ(captured & BSDFlags::userNoDump, flags & BSDFlags::userNoDump) << name;
        }
        test::inodeFlags(folder / name, true);
    }
}

// A link gets its own metadata, never its target's; a pipe is not opened (that would wait for a writer).
TEST_F(MetadataApplyTest, PathFormOnLinksAndPipes) {
    const auto target = folder.writeFile("target", "content");
    ::symlink("target", (folder / "link").c_str());
    const auto targetBefore = lstatOf(target);
    auto m = baseMetadata(FileMetadata::FileType::symlink);
    m.mode = 0120777;
    m.acl = bytesOf("user::rw-\ngroup::r--\nother::r--\n");
    m.bsdFlags = BSDFlags::userHidden;
    if (::geteuid() == 0) m.uid = m.gid = 65534;  // ownership too changes the link only
    const std::string linkPath = (folder / "link").string();
    auto report = MetadataApply::apply(m, viewOf(linkPath));
    for (auto [a, k] : {std::pair{Attribute::ownership, Kind::applied},
                        {Attribute::modificationTime, Kind::applied},
                        {Attribute::mode, Kind::notApplicable},
                        {Attribute::acl, Kind::unpreserved},
                        {Attribute::bsdFlags, Kind::unpreserved}})
        EXPECT_EQ(report.outcome(a).kind, k) << MetadataApply::rawValue(a);
    EXPECT_EQ(lstatOf(folder / "link").st_mtim.tv_sec, 1'600'000'000);
    EXPECT_EQ(lstatOf(folder / "link").st_uid, m.uid);
    const auto targetAfter = lstatOf(target);
    EXPECT_EQ(std::tie(targetAfter.st_mode, targetAfter.st_uid, targetAfter.st_mtim.tv_nsec),
              std::tie(targetBefore.st_mode, targetBefore.st_uid, targetBefore.st_mtim.tv_nsec));

    ASSERT_EQ(::mkfifo((folder / "pipe").c_str(), 0600), 0);
    auto p = baseMetadata(FileMetadata::FileType::fifo);
    p.mode = 010640;
    p.bsdFlags = BSDFlags::userNoDump;
    EXPECT_EQ(MetadataApply::apply(p, viewOf((folder / "pipe").string())).outcome(Attribute::bsdFlags).kind,
              Kind::unpreserved);
    EXPECT_EQ(std::pair(lstatOf(folder / "pipe").st_mode & 07777, lstatOf(folder / "pipe").st_mtim.tv_sec),
              std::pair(0640u, 1'600'000'000L));
}

TEST_F(MetadataApplyTest, NamedFormsReachLinksWithNamesThatAreNotUTF8AndRefuseMissingEntries) {
    const std::string name = "l\xff\xfe";
    ASSERT_EQ(::symlink("nowhere", (folder.path() / name).c_str()), 0);
    const int dir = ::open(folder.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const auto m = baseMetadata(FileMetadata::FileType::symlink);
    EXPECT_EQ(MetadataApply::apply(m, dir, viewOf(name)).outcome(Attribute::modificationTime).kind, Kind::applied);
    EXPECT_EQ(lstatOf(folder.path() / name).st_mtim.tv_sec, 1'600'000'000);
    // Names that are not one component, and names that are not there, are refused.
    for (const std::string& bad : std::vector<std::string>{"", ".", "..", "a/b", std::string("a\0b", 3), "missing"}) {
        const auto e = test::thrown<MetadataApply::Error>([&] { MetadataApply::apply(m, dir, viewOf(bad)); });
        EXPECT_EQ(e.kind, MetadataApply::Error::Kind::pathUnavailable) << bad;
    }
    ::close(dir);
    EXPECT_THROW(MetadataApply::apply(baseMetadata(), -1), MetadataApply::Error);
    // The path form names the missing entry, with its text repaired.
    const auto e = test::thrown<MetadataApply::Error>(
        [&] { MetadataApply::apply(baseMetadata(), viewOf((folder.path() / "gone\xff").string())); });
    EXPECT_EQ(e.path, (folder.path() / "gone").string() + "\xEF\xBF\xBD");
}

TEST_F(MetadataApplyTest, WithoutPrivilegesRefusalsAreReportedNotClaimed) {
    if (::geteuid() != 0) GTEST_SKIP() << "arranging a file of a foreign group needs root";
    // Owned by the unprivileged user, in a group it is not a member of, in a folder it may write in.
    const std::string file = folder.writeFile("work/f", "").string();
    ::chmod(folder.path().c_str(), 0755);
    ::chown((folder / "work").c_str(), test::unprivilegedUser, test::unprivilegedGroup);
    ::chown(file.c_str(), test::unprivilegedUser, 0);
    test::expectUnprivileged([&](const auto& report) {
        const int fd = ::open(file.c_str(), O_WRONLY | O_CLOEXEC);
        auto m = baseMetadata();
        m.uid = 1;  // someone else
        m.gid = 0;
        m.mode = 02750;  // set-group-ID for a group the process is not in
        m.extendedAttributes = {{bytesOf("trusted.secret"), bytesOf("s")}, {bytesOf("user.fine"), bytesOf("f")}};
        m.bsdFlags = BSDFlags::userImmutable;
        const auto r = MetadataApply::apply(m, fd);
        ::close(fd);
        int failures = 0;
        for (auto [a, k] : {std::pair{Attribute::ownership, Kind::unpreserved},
                            {Attribute::extendedAttributes, Kind::partial},
                            {Attribute::modificationTime, Kind::applied},
                            {Attribute::mode, Kind::partial},
                            {Attribute::bsdFlags, Kind::applied}}) {
            // An immutable flag is never claimed without privileges.
            if ((r.outcome(a).kind != k) != (a == Attribute::bsdFlags)) {
                report(std::string(MetadataApply::rawValue(a)) + ": " + r.outcome(a).description());
                ++failures;
            }
        }
        return failures;
    });
    test::inodeFlags(file, true);
}

TEST_F(MetadataApplyTest, CaptureThenApplyRoundTrips) {
    const auto source = folder.writeFile("source", "some content");
    ASSERT_EQ(::setxattr(source.c_str(), "user.colour", "blue", 4, 0), 0);
    auto aclMetadata = baseMetadata();
    aclMetadata.acl = bytesOf("user::rw-\nuser:65534:rw-\ngroup::r--\nmask::rw-\nother::r--\n");
    aclMetadata.mode = 0664;
    ASSERT_EQ(MetadataApply::apply(aclMetadata, viewOf(source.string())).outcome(Attribute::acl).kind, Kind::applied);
    auto captured = MetadataCapture::capture(source.string()).metadata;
    captured.birthTime = FileMetadata::Timestamp{1'000'000'000, 0};
    for (const auto& o : applyToNew("copy", captured).outcomes) {
        // A birth time is the one thing Linux cannot put back, and it is not claimed.
        EXPECT_TRUE(o.attribute == Attribute::creationTime
                        ? o.outcome.kind == Kind::unpreserved
                        : o.outcome.kind == Kind::applied || o.outcome.kind == Kind::notApplicable)
            << MetadataApply::rawValue(o.attribute) << ": " << o.outcome.description();
    }
    const auto copy = MetadataCapture::capture((folder / "copy").string()).metadata;
    EXPECT_EQ(std::tie(copy.mode, copy.uid, copy.gid, copy.modificationTime, copy.extendedAttributes, copy.acl,
                       copy.bsdFlags),
              std::tie(captured.mode, captured.uid, captured.gid, captured.modificationTime,
                       captured.extendedAttributes, captured.acl, captured.bsdFlags));
}

}  // namespace
}  // namespace wm
