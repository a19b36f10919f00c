// Verification of packs: presence, sampling, reasons, streaming checks.
#include <limits>

#include <gtest/gtest.h>

#include "SnapshotBrowserFixture.h"
#include "crypto/PackHashing.h"
#include "format/PackVerification.h"
#include "engine/Verification.h"
#include "format/PackReader.h"
#include "format/PackWriter.h"
#include "format/RepositoryLayout.h"

namespace wm::test {
namespace {

using Verification::Depth;

std::vector<PackID> packsOf(const Repository& repository) {
    const auto set = repository.withIndex([](const CompactIndex& index) { return index.packs(); });
    std::vector<PackID> packs(set.begin(), set.end());
    std::sort(packs.begin(), packs.end());
    return packs;
}

class Verifying : public FaultyRepositoryTest {
protected:
    // One pack per commit.
    void commitPacks(int count) {
        for (int i = 0; i < count; ++i)
            commitTree(*repository, {Node::file("file" + std::to_string(i), {randomBytes(1000 + 10 * i, 100 + i)})});
    }
    std::int64_t sizeOf(const PackID& pack) { return memory->size(RepositoryLayout::pack(pack)).value(); }
};

TEST(VerificationSampling, PacksToReadTable) {
    const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
    struct Case {
        double fraction;
        std::size_t checkable, read;
    };
    for (const Case& c : std::initializer_list<Case>{
             {0.05, 100, 5}, {0.05, 10, 1}, {0.05, 0, 0}, {0, 3, 1}, {1.5, 7, 7}, {0.5, 3, 2}, {-0.5, 4, 1},
             {nan, 4, 1}, {inf, 4, 4}}) {
        EXPECT_EQ(Verification::packsToRead(Depth::sampling(c.fraction), c.checkable), c.read)
            << c.fraction << " of " << c.checkable;
    }
    EXPECT_EQ(Verification::packsToRead(Depth::deep(), 12), 12u);
}

// Each pack checked is read once; the deep check reads every byte.
TEST_F(Verifying, SamplingReadsItsShare) {
    commitPacks(10);
    std::uint64_t total = 0;
    for (const auto& p : packsOf(*repository)) total += static_cast<std::uint64_t>(sizeOf(p));
    for (const auto& [depth, read] : std::vector<std::pair<Depth, std::size_t>>{
             {Depth::sampling(), 1}, {Depth::sampling(0.35), 4}, {Depth::deep(), 10}}) {
        SCOPED_TRACE(depth.fraction);
        faulty->clearLog();
        const auto report = verify(*repository, depth, fixedNow());
        EXPECT_EQ(report.bytesRead == total, read == 10);
        EXPECT_EQ(report.packsChecked, static_cast<std::int64_t>(read));
        EXPECT_EQ(packReads(*faulty, true), read);
        EXPECT_EQ(report.isFullyVerified(), read == 10);
    }
}

TEST_F(Verifying, EveryKindOfDamageWithItsReason) {
    commitPacks(10);
    const auto packs = packsOf(*repository);
    const auto at = [&](std::size_t i) { return RepositoryLayout::pack(packs[i]); };
    std::uint64_t expectedBytes = 19 + 100;  // the two cut short, then the three left whole
    for (std::size_t i : {4, 8, 9}) expectedBytes += static_cast<std::uint64_t>(sizeOf(packs[i]));

    for (std::size_t i = 0; i < 3; ++i) memory->remove(at(i));
    memory->put(at(3), ByteView(memory->read(at(3))).first(19));
    Bytes flipped = memory->read(at(4));
    flipped[flipped.size() / 2] ^= 0x10;
    memory->put(at(4), flipped);
    memory->put(at(5), ByteView(memory->read(at(5))).first(100));
    const DestinationError readFailure = DestinationError::ioFailed(at(6), "EIO");
    faulty->failCalls(at(6).string(), readFailure,
                      {FaultyDestination::Operation::readInto, FaultyDestination::Operation::read});
    // In the wrong fan-out folder: listed, then not found where it belongs.
    memory->put(RepositoryLayout::packsDirectory() / "zz" / (packs[7].hex() + ".pack"), memory->read(at(7)));
    memory->remove(at(7));

    const auto report = verify(*repository, Depth::deep(), fixedNow());
    EXPECT_EQ(report.bytesRead, expectedBytes);
    ASSERT_EQ(report.damaged.size(), 8u);
    std::map<PackID, std::string> reasons;
    for (const auto& damage : report.damaged) reasons[damage.pack] = damage.reason;
    for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(report.damaged[i].reason, "it is missing") << "missing come first";
    const std::string expected[] = {"it is shorter than a pack can be", "its contents no longer match its name",
                                    "its contents no longer match its name", readFailure.what(), "it is missing"};
    for (std::size_t i = 3; i < 8; ++i) EXPECT_EQ(reasons[packs[i]], expected[i - 3]) << i;
    // Each pack held one snapshot's file and root tree; only packs[4]'s tree still reads.
    for (const auto& damage : report.damaged) {
        SCOPED_TRACE(damage.reason);
        EXPECT_EQ(damage.affectedSnapshots.size(), 1u);
        EXPECT_EQ(damage.affectedFileCount, damage.pack == packs[4] ? 1 : 0);
        if (damage.pack != packs[4]) {
            EXPECT_EQ(damage.unreachableSubtrees, std::vector<std::string>{"everything in this snapshot"});
        }
    }
}

TEST_F(Verifying, StrayFilesAndUnknownPacksAreIgnored) {
    commitPacks(2);
    // A plain file directly in "packs" is not a fan-out folder, not an unreadable drive.
    memory->put(*RepoPath::parse("packs/.DS_Store"), "x");
    for (const std::string& path : {std::string("packs/ab/abc.pack"), std::string("packs/ab/notes.txt"),
                                     "packs/ab/" + std::string(64, 'a') + ".pack.partial"})
        memory->put(*RepoPath::parse(path), "x");
    memory->put(RepositoryLayout::pack(PackID{}), "an unknown pack");
    const auto report = verify(*repository, Depth::deep(), fixedNow());
    EXPECT_TRUE(report.isFullyVerified());
    EXPECT_EQ(report.packsChecked, 2);
}

TEST_F(Verifying, VerifierReasonsForHandMadeFiles) {
    const BlobCipher& cipher = repository->cipher();
    PackWriter writer(cipher);
    writer.add(bytesOf("blob"), BlobType::data);
    const Bytes good = writer.finish().bytes;
    const auto check = [&](const Bytes& file) {
        PackVerifier verifier(cipher, 7, 16);
        try {
            verifier.check(file, hashPackID(file));
            return std::string("ok");
        } catch (const std::exception& e) {
            return Verification::describe(e);
        }
    };
    const auto edited = [&](std::initializer_list<std::pair<std::size_t, std::uint8_t>> edits) {
        Bytes file = good;
        for (const auto& [fromEnd, value] : edits) file[file.size() - fromEnd] = value;
        return file;
    };
    EXPECT_EQ(check(good), "ok");
    EXPECT_EQ(check(Bytes(19, 0)), "it is shorter than a pack can be");
    EXPECT_EQ(check(edited({{good.size(), 'X'}})), "it is not a pack file any more");
    EXPECT_EQ(check(edited({{2, 'X'}})), "it is not a pack file any more");
    EXPECT_EQ(check(edited({{12, 0xFF}, {11, 0xFF}})), "its contents list is damaged");
    EXPECT_EQ(check(edited({{12, 3}, {11, 0}})), BlobCipherError::metadataTruncated().what());
    PackVerifier foreign(BlobCipher(makeKeys(), BlobCipher::Sealing::nonceFromStoredBytes));
    EXPECT_THROW(foreign.check(good, hashPackID(good)), BlobCipherError);
}

}  // namespace
}  // namespace wm::test
