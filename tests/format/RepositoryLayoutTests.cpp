#include <gtest/gtest.h>

#include "format/RepositoryFormat.h"
#include "format/RepositoryLayout.h"

namespace wm {
namespace {

namespace L = RepositoryLayout;

TEST(RepositoryFormat, Constants) {
    EXPECT_EQ(RepositoryFormat::magic, "wendlemarsh-repository");
    EXPECT_EQ(RepositoryFormat::version, 2);
    EXPECT_TRUE(RepositoryFormat::supportedVersions.contains(1));
    EXPECT_TRUE(RepositoryFormat::supportedVersions.contains(2));
    EXPECT_FALSE(RepositoryFormat::supportedVersions.contains(0));
    EXPECT_FALSE(RepositoryFormat::supportedVersions.contains(3));
    EXPECT_EQ(RepositoryFormat::packTargetBytes, 64 << 20);
    EXPECT_EQ(RepositoryFormat::packMaximumBytes, 256 << 20);
    EXPECT_EQ(RepositoryFormat::pruneMinimumPackAge, 604800.0);
    EXPECT_EQ(RepositoryFormat::pruneCoolingPeriod, 604800.0);
    EXPECT_EQ(RepositoryFormat::lockStaleAfter, 5 * RepositoryFormat::lockRefreshInterval);
    EXPECT_EQ(std::string(RepositoryFormat::PackFile::magic.begin(), RepositoryFormat::PackFile::magic.end()), "WMPK");
    EXPECT_EQ(std::string(RepositoryFormat::PackFile::endMagic.begin(), RepositoryFormat::PackFile::endMagic.end()),
              "WMPKEND");
}

TEST(RepositoryLayout, FixedPaths) {
    const std::pair<const RepoPath&, const char*> rows[] = {
        {L::configFile(), "wendlemarsh.repo"},
        {L::head(), "refs/head"},
        {L::retentionSetting(), "refs/retention"},
        {L::lockFile(), "writing.lock"},
        {L::readMe(), "Read Me First.txt"},
        {L::formatDoc(), "Repository Format.md"},
        {L::packsDirectory(), "packs"},
        {L::tmpDirectory(), "tmp"},
    };
    for (const auto& [path, text] : rows) EXPECT_EQ(path.string(), text);
}

TEST(RepositoryLayout, RequiredDirectoriesEndWithRefs) {
    std::vector<std::string> names;
    for (const auto& p : L::requiredDirectories()) names.push_back(p.string());
    EXPECT_EQ(names, (std::vector<std::string>{"packs", "index", "snapshots", "keys", "locks", "replicas", "devices",
                                               "gc", "holds", "tmp", "refs"}));
}

TEST(RepositoryLayout, IdentifierPaths) {
    const UUID u = *UUID::parse("01234567-89AB-CDEF-0123-456789ABCDEF");
    EXPECT_EQ(L::snapshot(SnapshotID{u}).string(), "snapshots/0123456789abcdef0123456789abcdef.snap");
    EXPECT_EQ(L::index(u).string(), "index/0123456789abcdef0123456789abcdef.idx");
    EXPECT_EQ(L::gcMark(u).string(), "gc/0123456789abcdef0123456789abcdef.mark");
    EXPECT_EQ(L::lock(u).string(), "locks/0123456789abcdef0123456789abcdef.lock");
    EXPECT_EQ(L::hold(HoldID{u}).string(), "holds/0123456789abcdef0123456789abcdef.hold");
    EXPECT_EQ(L::replicaState(DestinationID{u}).string(), "replicas/0123456789abcdef0123456789abcdef.state");
    const RepoPath tmp = L::temporary(u);
    EXPECT_EQ(tmp.components(), (std::vector<std::string>{"tmp", "0123456789abcdef0123456789abcdef"}));

    DeviceID device;
    device.bytes.fill(0xAB);
    EXPECT_EQ(L::deviceStatus(device).string(), "devices/abababababababababababababababab.status");

    PackID pack;
    pack.bytes.fill(0);
    pack.bytes[31] = 0x5C;
    const RepoPath p = L::pack(pack);
    ASSERT_EQ(p.depth(), 3u);
    EXPECT_EQ(p.components()[1], "00");
    EXPECT_EQ(p.components()[2], pack.hex() + ".pack");
}

TEST(RepositoryLayout, KeyNamesThatCannotBeAComponentAreRefused) {
    EXPECT_EQ(L::key("0123456789abcdef0123456789abcdef").string(), "keys/0123456789abcdef0123456789abcdef.key");
    for (const char* bad : {"", ".", "..", "a/b", "../../etc/passwd", "/abs"}) {
        try {
            L::key(bad);
            ADD_FAILURE() << "accepted '" << bad << "'";
        } catch (const L::Error& e) {
            EXPECT_EQ(e.kind, L::Error::Kind::invalidKeyName);
            EXPECT_EQ(e.name, bad);
        }
    }
    EXPECT_THROW(L::key(std::string_view("a\0b", 3)), L::Error);
}

}  // namespace
}  // namespace wm
