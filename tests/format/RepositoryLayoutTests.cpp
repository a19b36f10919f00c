#include <gtest/gtest.h>

#include "format/Fixtures.h"
#include "format/RepositoryLayout.h"

namespace wm {
namespace {

namespace L = RepositoryLayout;
using namespace std::literals;

TEST(RepositoryLayout, PathsOnDisk) {
    const UUID u = *UUID::parse("01234567-89AB-CDEF-0123-456789ABCDEF");
    PackID pack = test::blobFilled<PackID>(0);
    pack.bytes[31] = 0x5C;
    const std::string hex = "0123456789abcdef0123456789abcdef";
    const std::pair<RepoPath, std::string> rows[] = {
        {L::configFile(), "wendlemarsh.repo"},
        {L::head(), "refs/head"},
        {L::retentionSetting(), "refs/retention"},
        {L::lockFile(), "writing.lock"},
        {L::readMe(), "Read Me First.txt"},
        {L::formatDoc(), "Repository Format.md"},
        {L::packsDirectory(), "packs"},
        {L::tmpDirectory(), "tmp"},
        {L::snapshot(SnapshotID{u}), "snapshots/" + hex + ".snap"},
        {L::index(u), "index/" + hex + ".idx"},
        {L::gcMark(u), "gc/" + hex + ".mark"},
        {L::lock(u), "locks/" + hex + ".lock"},
        {L::hold(HoldID{u}), "holds/" + hex + ".hold"},
        {L::replicaState(DestinationID{u}), "replicas/" + hex + ".state"},
        {L::temporary(u), "tmp/" + hex},
        {L::deviceStatus(test::blobFilled<DeviceID>(0xAB)), "devices/abababababababababababababababab.status"},
        {L::pack(pack), "packs/00/" + pack.hex() + ".pack"},
        {L::key(hex), "keys/" + hex + ".key"},
    };
    for (const auto& [path, text] : rows) EXPECT_EQ(path.string(), text);
    std::vector<std::string> names;
    for (const auto& p : L::requiredDirectories()) names.push_back(p.string());
    EXPECT_EQ(names, (std::vector<std::string>{"packs", "index", "snapshots", "keys", "locks", "replicas", "devices",
                                               "gc", "holds", "tmp", "refs"}));  // refs last
}

TEST(RepositoryLayout, KeyNamesThatCannotBeAComponentAreRefused) {
    const std::string_view rows[] = {"", ".", "..", "a/b", "../../etc/passwd", "/abs", "a\0b"sv};
    for (std::string_view bad : rows) {
        const auto e = test::thrown<L::Error>([&] { L::key(bad); });
        EXPECT_EQ(std::pair(e.kind, e.name), std::pair(L::Error::Kind::invalidKeyName, std::string(bad)));
    }
}

TEST(RepositoryLayout, PackFileNames) {
    const std::string hex(64, 'c'), upper(64, 'C');
    const std::pair<std::string, bool> rows[] = {
        {hex + ".pack", true},
        {upper + ".pack", true},
        {hex + ".old.pack", true},
        {".." + hex + ".pack", true},
        {".pack", false},
        {hex + ".pack.tmp", false},
        {hex, false},
        {hex.substr(2) + ".pack", false},
        {hex.substr(1) + "g.pack", false},
    };
    for (const auto& [name, accepted] : rows) {
        const auto id = L::packID(name);
        EXPECT_EQ(id.has_value(), accepted) << name;
        EXPECT_EQ(id ? id->hex() : hex, hex) << name;
    }
}

}  // namespace
}  // namespace wm
