#include "fs/MetadataApply.h"

#include <gtest/gtest.h>
#include <sys/xattr.h>

#include <cstring>

#include "fs/FsTestSupport.h"
#include "fs/MetadataCapture.h"
#include "support/TempFolder.h"

namespace wm {
namespace {

using Attribute = MetadataApply::Attribute;
using Kind = MetadataApply::Outcome::Kind;
using test::baseMetadata;
using test::kindOf;

class MetadataApplyTest : public ::testing::Test {
protected:
    // A new empty file, open for writing, as the restore creates it.
    int createFile(const std::string& name) {
        int fd = ::open((folder.path() / name).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        EXPECT_GE(fd, 0);
        return fd;
    }
    // Applies m to a new empty file of that name, through its descriptor.
    MetadataApply::Report applyToNew(const std::string& name, const FileMetadata& m) {
        int fd = createFile(name);
        auto report = MetadataApply::apply(m, fd);
        ::close(fd);
        return report;
    }
    std::optional<std::string> xattr(const std::filesystem::path& p, const char* name) {
        char buffer[256];
        ssize_t n = ::lgetxattr(p.c_str(), name, buffer, sizeof buffer);
        if (n < 0) return std::nullopt;
        return std::string(buffer, static_cast<std::size_t>(n));
    }
    test::TempFolder folder{"wm-apply"};
};

TEST_F(MetadataApplyTest, OneOutcomePerAttributeInTheFixedOrderAndTheValuesLand) {
    auto m = baseMetadata();
    m.mode = 0100751;  // type bits are ignored, permission bits kept
    m.accessTime = FileMetadata::Timestamp{1'500'000'000, 5};
    m.birthTime = FileMetadata::Timestamp{1'000'000'000, 0};  // recorded, and Linux cannot set it
    auto report = applyToNew("f", m);
    const std::vector<std::pair<Attribute, Kind>> expected = {
        {Attribute::ownership, Kind::applied},        {Attribute::extendedAttributes, Kind::notApplicable},
        {Attribute::acl, Kind::notApplicable},        {Attribute::modificationTime, Kind::applied},
        {Attribute::creationTime, Kind::unpreserved}, {Attribute::bsdFlags, Kind::notApplicable},
        {Attribute::mode, Kind::applied}};
    ASSERT_EQ(report.outcomes.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(report.outcomes[i].attribute, expected[i].first);
        EXPECT_EQ(report.outcomes[i].outcome.kind, expected[i].second) << i;
    }
    auto st = test::lstatOf(folder / "f");
    EXPECT_EQ(st.st_mode & 07777, 0751u);
    EXPECT_EQ(st.st_mtim.tv_sec, 1'600'000'000);
    EXPECT_EQ(st.st_mtim.tv_nsec, 123'456'789);
    EXPECT_EQ(st.st_atim.tv_sec, 1'500'000'000);
}

TEST_F(MetadataApplyTest, ExtendedAttributeNamespaces) {
    struct Row {
        std::vector<std::pair<std::string, std::string>> attributes;
        Kind expected;
        std::vector<std::string> setAs;      // names that must exist afterwards
        std::vector<std::string> inDetail;   // texts the outcome must mention
    };
    const std::vector<Row> rows = {
        {{{"user.a", "1"}, {"user.b", ""}}, Kind::applied, {"user.a", "user.b"}, {}},
        {{{"trusted.t", "x"}}, ::geteuid() == 0 ? Kind::applied : Kind::unpreserved, {}, {}},
        {{{"com.apple.FinderInfo", "fi"}, {"user.kept", "k"}},
         Kind::partial,
         {"user.com.apple.FinderInfo", "user.kept"},
         {"user.com.apple.FinderInfo"}},
        {{{"com.apple.quarantine", "q"}}, Kind::partial, {"user.com.apple.quarantine"}, {"user.com.apple.quarantine"}},
        {{{std::string("bad\0name", 8), "v"}, {"user.ok", "v"}}, Kind::partial, {"user.ok"}, {"bad"}},
        {{{"", "v"}}, Kind::unpreserved, {}, {}},
        {{{"user.", "v"}}, Kind::partial, {}, {}},  // "user." alone is no namespace: becomes "user.user."
    };
    int n = 0;
    for (const auto& row : rows) {
        const std::string name = "x" + std::to_string(n++);
        SCOPED_TRACE(name);
        auto m = baseMetadata();
        for (const auto& [k, v] : row.attributes) m.extendedAttributes.push_back({bytesOf(k), bytesOf(v)});
        auto report = applyToNew(name, m);
        const auto& outcome = report.outcome(Attribute::extendedAttributes);
        EXPECT_EQ(outcome.kind, row.expected) << outcome.description();
        for (const auto& set : row.setAs) EXPECT_TRUE(xattr(folder / name, set.c_str())) << set;
        for (const auto& text : row.inDetail) EXPECT_NE(outcome.text.find(text), std::string::npos) << outcome.text;
    }
    EXPECT_EQ(xattr(folder / "x2", "user.com.apple.FinderInfo"), "fi");
}

TEST_F(MetadataApplyTest, LinuxACLTextIsSetAndOtherACLsAreUnpreserved) {
    auto m = baseMetadata();
    m.mode = 0640;
    m.acl = bytesOf("user::rw-\nuser:65534:r--\ngroup::r--\nmask::r--\nother::---\n");
    auto report = applyToNew("linux", m);
    EXPECT_EQ(kindOf(report, Attribute::acl), Kind::applied) << report.outcome(Attribute::acl).description();
    auto captured = MetadataCapture::capture((folder / "linux").string());
    ASSERT_TRUE(captured.metadata.acl);
    EXPECT_NE(stringOf(*captured.metadata.acl).find(":r--"), std::string::npos);
    EXPECT_EQ(captured.metadata.mode & 0777, 0640u);

    // The text another system writes for its own ACLs does not parse here.
    m.acl = bytesOf("!#acl 1\nuser:FFFFEEEE-DDDD-CCCC-BBBB-AAAA000001F5:jo:501:allow:read,write\n");
    report = applyToNew("foreign", m);
    EXPECT_EQ(kindOf(report, Attribute::acl), Kind::unpreserved);
    EXPECT_FALSE(report.outcome(Attribute::acl).text.empty());
    EXPECT_FALSE(MetadataCapture::capture((folder / "foreign").string()).metadata.acl);

    m.acl = Bytes{'u', 's', 'e', 'r', 0, ':'};
    EXPECT_EQ(kindOf(applyToNew("nul", m), Attribute::acl), Kind::unpreserved);
}

TEST_F(MetadataApplyTest, FlagsLinuxKeepsAndFlagsItCannot) {
    if (!test::inodeFlagsSupported(folder.path())) GTEST_SKIP() << "no inode flags on this file system";
    struct Row {
        std::uint32_t flags;
        Kind expected;
        const char* named;  // a name the outcome text must carry
    };
    const bool root = ::geteuid() == 0;
    const std::vector<Row> rows = {
        {0, Kind::notApplicable, nullptr},
        {BSDFlags::userNoDump, Kind::applied, nullptr},
        {BSDFlags::userHidden, Kind::unpreserved, "hidden"},
        {BSDFlags::userNoDump | BSDFlags::userHidden | BSDFlags::systemArchived, Kind::partial, "archived"},
        {BSDFlags::userImmutable, root ? Kind::applied : Kind::unpreserved, nullptr},
        {BSDFlags::systemAppend | BSDFlags::userNoDump, root ? Kind::applied : Kind::partial, nullptr},
    };
    int n = 0;
    for (const auto& row : rows) {
        const std::string name = "f" + std::to_string(n++);
        SCOPED_TRACE(name);
        auto m = baseMetadata();
        m.mode = 0600;
        m.bsdFlags = row.flags;
        auto report = applyToNew(name, m);
        const auto& outcome = report.outcome(Attribute::bsdFlags);
        EXPECT_EQ(outcome.kind, row.expected) << outcome.description();
        if (row.named) {
            EXPECT_NE(outcome.text.find(row.named), std::string::npos) << outcome.text;
        }
        // The mode is set even when the file ends up immutable.
        EXPECT_EQ(kindOf(report, Attribute::mode), Kind::applied);
        EXPECT_EQ(test::lstatOf(folder / name).st_mode & 07777, 0600u);
        auto captured = MetadataCapture::capture((folder / name).string()).metadata.bsdFlags;
        if (row.expected == Kind::applied || row.expected == Kind::partial) {
            EXPECT_EQ(captured & BSDFlags::userNoDump, row.flags & BSDFlags::userNoDump);
        }
        test::clearInodeFlags(folder / name);
    }
}

TEST_F(MetadataApplyTest, SymbolicLinkGetsItsOwnMetadataNeverItsTargets) {
    const auto target = folder.writeFile("target", "content");
    ::chmod(target.c_str(), 0600);
    ::symlink("target", (folder / "link").c_str());
    const auto targetBefore = test::lstatOf(target);

    auto m = baseMetadata(FileMetadata::FileType::symlink);
    m.mode = 0120777;
    m.acl = bytesOf("user::rw-\ngroup::r--\nother::r--\n");
    m.bsdFlags = BSDFlags::userHidden;
    m.symlinkTarget = bytesOf("target");
    const std::string linkPath = (folder / "link").string();
    auto report = MetadataApply::apply(m, viewOf(linkPath));

    EXPECT_EQ(kindOf(report, Attribute::ownership), Kind::applied);
    EXPECT_EQ(kindOf(report, Attribute::modificationTime), Kind::applied);
    EXPECT_EQ(kindOf(report, Attribute::mode), Kind::notApplicable);
    EXPECT_EQ(kindOf(report, Attribute::acl), Kind::unpreserved);
    EXPECT_EQ(kindOf(report, Attribute::bsdFlags), Kind::unpreserved);
    auto link = test::lstatOf(folder / "link");
    EXPECT_TRUE(S_ISLNK(link.st_mode));
    EXPECT_EQ(link.st_mtim.tv_sec, 1'600'000'000);
    EXPECT_EQ(test::lstatOf(target).st_mode, targetBefore.st_mode);
    EXPECT_EQ(test::lstatOf(target).st_mtim.tv_nsec, targetBefore.st_mtim.tv_nsec);
    if (::geteuid() == 0) {  // ownership too changes the link only
        m.uid = m.gid = 65534;
        EXPECT_EQ(kindOf(MetadataApply::apply(m, viewOf(linkPath)), Attribute::ownership), Kind::applied);
        EXPECT_EQ(test::lstatOf(folder / "link").st_uid, 65534u);
        EXPECT_EQ(test::lstatOf(target).st_uid, 0u);
    }
}

TEST_F(MetadataApplyTest, NamedFormsReachLinksWithNamesThatAreNotUTF8AndRefuseMissingEntries) {
    const std::string name = "l\xff\xfe";
    ASSERT_EQ(::symlink("nowhere", (folder.path() / name).c_str()), 0);
    int dir = ::open(folder.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    auto m = baseMetadata(FileMetadata::FileType::symlink);
    auto report = MetadataApply::apply(m, dir, viewOf(name));
    EXPECT_EQ(kindOf(report, Attribute::modificationTime), Kind::applied);
    EXPECT_EQ(test::lstatOf(folder.path() / name).st_mtim.tv_sec, 1'600'000'000);

    // A dangling link, a regular file and a folder are all reachable this way.
    folder.writeFile("plain", "p");
    auto fileReport = MetadataApply::apply(baseMetadata(), dir, viewOf("plain"));
    EXPECT_EQ(kindOf(fileReport, Attribute::mode), Kind::applied);
    EXPECT_EQ(test::lstatOf(folder / "plain").st_mtim.tv_sec, 1'600'000'000);

    // Names that are not one component, and names that are not there, are refused.
    const std::vector<std::string> badNames = {"", ".", "..", "a/b", std::string("a\0b", 3), "missing"};
    for (const auto& bad : badNames) {
        try {
            MetadataApply::apply(m, dir, viewOf(bad));
            ADD_FAILURE() << "accepted " << bad;
        } catch (const MetadataApply::Error& e) {
            EXPECT_EQ(e.kind, MetadataApply::Error::Kind::pathUnavailable);
            EXPECT_FALSE(e.reason.empty());
        }
    }
    ::close(dir);
    EXPECT_THROW(MetadataApply::apply(baseMetadata(), -1), MetadataApply::Error);

    // The path form names the missing entry, with its text repaired.
    try {
        MetadataApply::apply(baseMetadata(), viewOf((folder.path() / "gone\xff").string()));
        FAIL();
    } catch (const MetadataApply::Error& e) {
        EXPECT_EQ(e.path, (folder.path() / "gone").string() + "\xEF\xBF\xBD");
        EXPECT_EQ(e.reason, "No such file or directory");
    }
}

TEST_F(MetadataApplyTest, PathFormOnAPipeDoesNotOpenIt) {
    ASSERT_EQ(::mkfifo((folder / "pipe").c_str(), 0600), 0);
    auto m = baseMetadata(FileMetadata::FileType::fifo);
    m.mode = 010640;
    m.bsdFlags = BSDFlags::userNoDump;
    m.extendedAttributes.push_back({bytesOf("user.p"), bytesOf("v")});
    // Opening a pipe for reading would wait for a writer; the call must return.
    auto report = MetadataApply::apply(m, viewOf((folder / "pipe").string()));
    EXPECT_EQ(kindOf(report, Attribute::mode), Kind::applied);
    EXPECT_EQ(kindOf(report, Attribute::modificationTime), Kind::applied);
    EXPECT_EQ(kindOf(report, Attribute::bsdFlags), Kind::unpreserved);
    EXPECT_EQ(test::lstatOf(folder / "pipe").st_mode & 07777, 0640u);
    EXPECT_EQ(test::lstatOf(folder / "pipe").st_mtim.tv_sec, 1'600'000'000);
}

TEST_F(MetadataApplyTest, WithoutPrivilegesRefusalsAreReportedNotClaimed) {
    // A folder the unprivileged child may write in.
    auto work = folder / "work";
    std::filesystem::create_directories(work);
    ::chmod(folder.path().c_str(), 0755);
    ::chown(work.c_str(), test::unprivilegedUser, test::unprivilegedGroup);
    const std::string file = (work / "f").string();
    if (::geteuid() != 0) GTEST_SKIP() << "arranging a file of a foreign group needs root";
    // Owned by the unprivileged user, in a group it is not a member of.
    folder.writeFile("work/f", "");
    ::chown(file.c_str(), test::unprivilegedUser, 0);

    test::expectUnprivileged([&](const auto& report) {
        int fd = ::open(file.c_str(), O_WRONLY | O_CLOEXEC);
        if (fd < 0) return 10;
        auto m = baseMetadata();
        m.uid = 1;      // someone else
        m.gid = 0;
        m.mode = 02750;  // set-group-ID for a group the process is not in
        m.extendedAttributes = {{bytesOf("trusted.secret"), bytesOf("s")}, {bytesOf("user.fine"), bytesOf("f")}};
        m.bsdFlags = BSDFlags::userImmutable;
        auto r = MetadataApply::apply(m, fd);
        ::close(fd);
        int failures = 0;
        for (auto [a, k] : {std::pair{Attribute::ownership, Kind::unpreserved}, {Attribute::extendedAttributes, Kind::partial},
                            {Attribute::modificationTime, Kind::applied}, {Attribute::mode, Kind::partial}}) {
            if (r.outcome(a).kind != k) {
                report(std::string(MetadataApply::rawValue(a)) + ": " + r.outcome(a).description());
                ++failures;
            }
        }
        if (r.outcome(Attribute::bsdFlags).kind == Kind::applied) {
            report("immutable flag claimed without privileges");
            ++failures;
        }
        if (r.outcome(Attribute::ownership).text.find("Operation not permitted") == std::string::npos) {
            report("ownership reason: " + r.outcome(Attribute::ownership).text);
            ++failures;
        }
        return failures;
    });
    test::clearInodeFlags(file);
}

TEST_F(MetadataApplyTest, CaptureThenApplyRoundTrips) {
    // A source file with the metadata Linux keeps.
    const auto source = folder.writeFile("source", "some content");
    ASSERT_EQ(::setxattr(source.c_str(), "user.colour", "blue", 4, 0), 0);
    ASSERT_EQ(::setxattr(source.c_str(), "user.empty", "", 0, 0), 0);
    auto aclMetadata = baseMetadata();
    aclMetadata.acl = bytesOf("user::rw-\nuser:65534:rw-\ngroup::r--\nmask::rw-\nother::r--\n");
    aclMetadata.mode = 0664;
    aclMetadata.modificationTime = {1'234'567'890, 987'654'321};
    ASSERT_EQ(kindOf(MetadataApply::apply(aclMetadata, viewOf(source.string())), Attribute::acl), Kind::applied);

    auto captured = MetadataCapture::capture(source.string()).metadata;
    auto report = applyToNew("copy", captured);
    for (const auto& o : report.outcomes) {
        // A captured birth time is the one thing Linux cannot put back.
        if (o.attribute == Attribute::creationTime && captured.birthTime) continue;
        EXPECT_TRUE(o.outcome.kind == Kind::applied || o.outcome.kind == Kind::notApplicable)
            << MetadataApply::rawValue(o.attribute) << ": " << o.outcome.description();
    }
    auto copy = MetadataCapture::capture((folder / "copy").string()).metadata;
    EXPECT_EQ(std::tie(copy.mode, copy.uid, copy.gid, copy.modificationTime, copy.extendedAttributes, copy.acl, copy.bsdFlags),
              std::tie(captured.mode, captured.uid, captured.gid, captured.modificationTime, captured.extendedAttributes,
                       captured.acl, captured.bsdFlags));
}

}  // namespace
}  // namespace wm
