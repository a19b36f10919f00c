// Verification of packs: presence, sampling, reasons, streaming checks.
#include <cmath>
#include <limits>
#include <random>

#include <gtest/gtest.h>

#include "SnapshotBrowserFixture.h"
#include "crypto/PackHashing.h"
#include "engine/PackVerification.h"
#include "engine/Verification.h"
#include "format/Mutation.h"
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

// Distinct pack files read (whole or in ranges) in a faulty destination's log.
std::set<std::string> packFilesRead(const FaultyDestination& destination) {
    std::set<std::string> read;
    for (const auto& call : destination.calls()) {
        const bool reading = call.operation == FaultyDestination::Operation::read ||
                             call.operation == FaultyDestination::Operation::readInto;
        if (reading && call.path.depth() == 3 && call.path.components()[0] == "packs") read.insert(call.path.string());
    }
    return read;
}

class Verifying : public ::testing::Test {
protected:
    std::shared_ptr<InMemoryDestination> memory = std::make_shared<InMemoryDestination>();
    std::shared_ptr<FaultyDestination> faulty = std::make_shared<FaultyDestination>(memory);
    RepositoryKeys keys = makeKeys();
    std::shared_ptr<Repository> repository = createRepository(faulty, keys);

    // One pack per commit, each with one small file.
    std::vector<SnapshotID> commitPacks(int count) {
        std::vector<SnapshotID> ids;
        for (int i = 0; i < count; ++i)
            ids.push_back(commitTree(*repository, {Node::file("file" + std::to_string(i),
                                                              {randomBytes(1000 + 10 * i, 100 + i)})}));
        return ids;
    }
    std::int64_t sizeOf(const PackID& pack) { return memory->size(RepositoryLayout::pack(pack)).value(); }
};

TEST(VerificationSampling, PacksToReadTable) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        Depth depth;
        std::size_t checkable;
        std::size_t read;
    };
    const Case cases[] = {
        {Depth::sampling(0.05), 100, 5}, {Depth::sampling(0.05), 10, 1}, {Depth::sampling(0.05), 1, 1},
        {Depth::sampling(0.05), 0, 0},   {Depth::sampling(0), 3, 1},     {Depth::sampling(0), 1, 1},
        {Depth::sampling(1.5), 7, 7},    {Depth::sampling(0.5), 3, 2},   {Depth::sampling(1e-300), 50, 1},
        {Depth::sampling(-0.5), 4, 1},   {Depth::sampling(nan), 4, 1},   {Depth::sampling(nan), 1, 1},
        {Depth::sampling(nan), 0, 0},    {Depth::sampling(-inf), 4, 1},  {Depth::sampling(inf), 4, 4},
        {Depth::sampling(inf), 0, 0},    {Depth::sampling(1e300), 9, 9}, {Depth::deep(), 12, 12},
        {Depth::sampling(std::numeric_limits<double>::max()), 3, 3},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Verification::packsToRead(c.depth, c.checkable), c.read)
            << c.depth.fraction << " of " << c.checkable;
    }
}

TEST(VerificationReasons, DescribeTable) {
    const RepoPath path = RepositoryLayout::pack(PackID{});
    struct Case {
        std::exception_ptr error;
        std::string reason;  // "" : the error's own description
    };
    const Case cases[] = {
        {std::make_exception_ptr(PackFile::Error::tooSmall(19)), "it is shorter than a pack can be"},
        {std::make_exception_ptr(PackFile::Error::hashMismatch(PackID{}, PackID{})),
         "its contents no longer match its name"},
        {std::make_exception_ptr(PackFile::Error::badHeader()), "it is not a pack file any more"},
        {std::make_exception_ptr(PackFile::Error::badTrailer()), "it is not a pack file any more"},
        {std::make_exception_ptr(PackFile::Error::directoryLengthOutOfRange(99, 40)), "its contents list is damaged"},
        {std::make_exception_ptr(PackFile::Error::directoryCorrupted()), "its contents list is damaged"},
        {std::make_exception_ptr(DestinationError::notFound(path)), "it is missing"},
        {std::make_exception_ptr(PackFile::Error::tooLarge(1)), ""},
        {std::make_exception_ptr(DestinationError::ioFailed(path, "EIO")), ""},
        {std::make_exception_ptr(BlobCipherError::metadataAuthenticationFailed()), ""},
    };
    for (const Case& c : cases) {
        try {
            std::rethrow_exception(c.error);
        } catch (const std::exception& e) {
            EXPECT_EQ(Verification::describe(e), c.reason.empty() ? std::string(e.what()) : c.reason) << e.what();
            EXPECT_FALSE(Verification::describe(e).empty());
        }
    }
}

TEST_F(Verifying, EmptyRepositoryIsHealthyAndFullyVerified) {
    const auto report = verify(*repository, Depth::deep(), fixedNow());
    EXPECT_EQ(report.packsTotal + report.packsChecked + static_cast<std::int64_t>(report.bytesRead), 0);
    EXPECT_TRUE(report.isHealthy());
    EXPECT_TRUE(report.isFullyVerified());
    EXPECT_EQ(report.startedAt, fixedNow());
    EXPECT_EQ(report.finishedAt.microseconds % 1000, 0);
    EXPECT_GE(report.duration(), 0);
}

TEST_F(Verifying, DeepCheckOfAHealthyRepositoryReadsEveryPackOnce) {
    commitPacks(4);
    const auto packs = packsOf(*repository);
    ASSERT_EQ(packs.size(), 4u);
    std::uint64_t total = 0;
    for (const auto& p : packs) total += static_cast<std::uint64_t>(sizeOf(p));
    faulty->clearLog();
    const auto report = verify(*repository, Depth::deep(), fixedNow());
    EXPECT_EQ(report.packsTotal, 4);
    EXPECT_EQ(report.packsChecked, 4);
    EXPECT_EQ(report.bytesRead, total);
    EXPECT_TRUE(report.isFullyVerified());
    EXPECT_EQ(packFilesRead(*faulty).size(), 4u);
    for (const auto& call : faulty->calls()) {
        EXPECT_FALSE(call.operation == FaultyDestination::Operation::read && !call.range &&
                     call.path.components()[0] == "packs")
            << "a pack was read whole into memory";
    }
}

TEST_F(Verifying, SamplingReadsItsShare) {
    commitPacks(10);
    struct Case {
        double fraction;
        std::size_t read;
    };
    for (const Case c : {Case{0.05, 1}, Case{0.35, 4}, Case{0, 1}, Case{1.5, 10},
                         Case{std::numeric_limits<double>::quiet_NaN(), 1},
                         Case{std::numeric_limits<double>::infinity(), 10}}) {
        SCOPED_TRACE(c.fraction);
        faulty->clearLog();
        const auto report = verify(*repository, Depth::sampling(c.fraction), fixedNow());
        EXPECT_EQ(report.packsChecked, static_cast<std::int64_t>(c.read));
        EXPECT_EQ(report.packsTotal, 10);
        EXPECT_EQ(packFilesRead(*faulty).size(), c.read);
        EXPECT_TRUE(report.isHealthy());
        EXPECT_EQ(report.isFullyVerified(), c.read == 10);
    }
}

TEST_F(Verifying, EveryKindOfDamageWithItsReason) {
    commitPacks(10);
    const auto packs = packsOf(*repository);
    std::uint64_t expectedBytes = 0;
    for (std::size_t i = 0; i < 10; ++i)
        if (i >= 3 && i != 6 && i != 7) expectedBytes += static_cast<std::uint64_t>(sizeOf(packs[i]));

    for (std::size_t i = 0; i < 3; ++i) memory->remove(RepositoryLayout::pack(packs[i]));  // missing
    const Bytes original3 = memory->read(RepositoryLayout::pack(packs[3]));
    memory->put(RepositoryLayout::pack(packs[3]), ByteView(original3).first(19));  // truncated to 19 bytes
    expectedBytes -= original3.size() - 19;
    Bytes flipped = memory->read(RepositoryLayout::pack(packs[4]));
    flipped[flipped.size() / 2] ^= 0x10;
    memory->put(RepositoryLayout::pack(packs[4]), flipped);
    const Bytes original5 = memory->read(RepositoryLayout::pack(packs[5]));
    memory->put(RepositoryLayout::pack(packs[5]), ByteView(original5).first(100));  // cut short
    expectedBytes -= original5.size() - 100;
    const DestinationError readFailure = DestinationError::ioFailed(RepositoryLayout::pack(packs[6]), "EIO");
    faulty->failCalls(RepositoryLayout::pack(packs[6]).string(), readFailure,
                      {FaultyDestination::Operation::readInto, FaultyDestination::Operation::read});
    // In the wrong fan-out folder: listed as present, then not found where it belongs.
    const RepoPath wrong = RepositoryLayout::packsDirectory() / "zz" / (packs[7].hex() + ".pack");
    memory->put(wrong, memory->read(RepositoryLayout::pack(packs[7])));
    memory->remove(RepositoryLayout::pack(packs[7]));

    const auto report = verify(*repository, Depth::deep(), fixedNow());
    EXPECT_EQ(report.packsTotal, 10);
    EXPECT_EQ(report.packsChecked, 10);
    EXPECT_EQ(report.bytesRead, expectedBytes);
    EXPECT_FALSE(report.isHealthy());
    ASSERT_EQ(report.damaged.size(), 8u);
    std::map<PackID, std::string> reasons;
    for (std::size_t i = 0; i < report.damaged.size(); ++i) {
        reasons[report.damaged[i].pack] = report.damaged[i].reason;
        if (i < 3) {
            EXPECT_EQ(report.damaged[i].reason, "it is missing") << "missing packs come first";
        }
    }
    EXPECT_EQ(reasons[packs[3]], "it is shorter than a pack can be");
    EXPECT_EQ(reasons[packs[4]], "its contents no longer match its name");
    EXPECT_EQ(reasons[packs[5]], "its contents no longer match its name");
    EXPECT_EQ(reasons[packs[6]], readFailure.what());
    EXPECT_EQ(reasons[packs[7]], "it is missing");
    // Each damaged pack held one snapshot's file and root tree. The flip in the middle of
    // packs[4] lies in the file's content, so its tree still reads and the file is named; the
    // other packs' trees cannot be read.
    for (const auto& damage : report.damaged) {
        SCOPED_TRACE(damage.reason);
        EXPECT_EQ(damage.affectedSnapshots.size(), 1u);
        if (damage.pack == packs[4]) {
            ASSERT_EQ(damage.affectedFiles.size(), 1u);
            EXPECT_EQ(damage.affectedFiles[0].rfind("file", 0), 0u);
            EXPECT_EQ(damage.affectedFileCount, 1);
            EXPECT_TRUE(damage.unreachableSubtrees.empty());
        } else {
            EXPECT_EQ(damage.unreachableSubtrees, std::vector<std::string>{"everything in this snapshot"});
            EXPECT_EQ(damage.affectedFileCount, 0);
        }
    }
}

TEST_F(Verifying, StrayFilesAndUnknownPacksAreIgnored) {
    commitPacks(2);
    memory->put(*RepoPath::parse("packs/ab/abc.pack"), "x");
    memory->put(*RepoPath::parse("packs/ab/notes.txt"), "x");
    memory->put(*RepoPath::parse("packs/ab/" + std::string(64, 'a') + ".pack.partial"), "x");
    memory->put(RepositoryLayout::pack(PackID{}), "an unknown pack");
    const auto report = verify(*repository, Depth::deep(), fixedNow());
    EXPECT_TRUE(report.isFullyVerified());
    EXPECT_EQ(report.packsChecked, 2);
}

TEST_F(Verifying, PlainFileInThePacksFolderStopsVerification) {
    commitPacks(1);
    memory->put(*RepoPath::parse("packs/stray"), "x");
    EXPECT_THROW(verify(*repository, Depth::deep(), fixedNow()), DestinationError);
}

// A pack checked in small pieces, with a directory longer than the kept tail, gives the
// same directory as the whole-file reader, and never reads more than one piece at a time.
TEST_F(Verifying, VerifierStreamsInPieces) {
    PackWriter writer(repository->cipher());
    for (int i = 0; i < 300; ++i) writer.add(randomBytes(3000, static_cast<std::uint64_t>(i)), BlobType::data);
    const auto finished = writer.finish();
    const RepoPath path = RepositoryLayout::pack(finished.id);
    memory->put(path, finished.bytes);

    PackVerifier verifier(repository->cipher(), 65536, 4096);
    faulty->clearLog();
    const auto entries = verifier.check(*faulty, path, finished.id);
    EXPECT_EQ(entries, PackReader(finished.bytes, finished.id, repository->cipher()).entries());
    EXPECT_EQ(verifier.bytesRead(), finished.bytes.size());
    std::size_t reads = 0;
    for (const auto& call : faulty->calls()) {
        if (call.operation == FaultyDestination::Operation::read) {
            ADD_FAILURE() << "whole read";
        }
        if (call.operation != FaultyDestination::Operation::readInto) continue;
        ++reads;
        ASSERT_TRUE(call.range);
        EXPECT_LE(call.range->count(), 65536);
    }
    EXPECT_GE(reads, finished.bytes.size() / 65536);

    // The same pack with the default sizes, and a file that goes before it is read.
    EXPECT_EQ(PackVerifier(repository->cipher()).check(*faulty, path, finished.id), entries);
    memory->remove(path);
    PackVerifier gone(repository->cipher());
    try {
        gone.check(*faulty, path, finished.id);
        FAIL();
    } catch (const DestinationError& e) {
        EXPECT_EQ(e.kind, DestinationError::Kind::notFound);
    }
    EXPECT_EQ(gone.bytesRead(), 0u);
}

// Outcome of a check as text: the entries' count, or the error's type and description.
template <class Check>
std::string outcome(Check&& check) {
    try {
        return "ok " + std::to_string(check().size());
    } catch (const PackFile::Error& e) {
        return std::string("pack ") + e.what();
    } catch (const BlobCipherError& e) {
        return std::string("cipher ") + e.what();
    }
}

// Randomly mutated packs: the streaming verifier (in small pieces, with a small tail, so
// that every boundary is crossed) and the whole-file reader judge every file alike.
TEST_F(Verifying, VerifierAgreesWithTheReaderOnMutatedPacks) {
    PackWriter writer(repository->cipher());
    for (int i = 0; i < 40; ++i) writer.add(randomBytes(50 + i, static_cast<std::uint64_t>(i)), BlobType::tree);
    const Bytes pack = writer.finish().bytes;
    std::mt19937_64 rng(20251206);
    PackVerifier verifier(repository->cipher(), 97, 64);
    std::map<std::string, int> kinds;
    for (int round = 0; round < 3000; ++round) {
        const Bytes mutated = mutate(pack, rng);
        // Mostly named after the mutated bytes, so that the checks after the digest run too.
        const PackID expecting = round % 8 == 0 ? hashPackID(pack) : hashPackID(mutated);
        const std::string streamed = outcome([&] { return verifier.check(mutated, expecting); });
        const std::string whole = outcome([&] { return PackReader(mutated, expecting, repository->cipher()).entries(); });
        ASSERT_EQ(streamed, whole) << "round " << round;
        EXPECT_EQ(verifier.bytesRead(), mutated.size());
        ++kinds[streamed.substr(0, streamed.find('('))];
    }
    EXPECT_GE(kinds.size(), 5u) << "the mutations reached too few of the checks";
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
    Bytes badHeader = good;
    badHeader[0] = 'X';
    Bytes badTrailer = good;
    badTrailer[good.size() - 2] = 'X';
    Bytes longDirectory = good;
    longDirectory[good.size() - 12] = 0xFF;
    longDirectory[good.size() - 11] = 0xFF;
    Bytes shortDirectory = good;
    shortDirectory[good.size() - 12] = 3;
    shortDirectory[good.size() - 11] = 0;
    EXPECT_EQ(check(good), "ok");
    EXPECT_EQ(check(Bytes(19, 0)), "it is shorter than a pack can be");
    EXPECT_EQ(check(badHeader), "it is not a pack file any more");
    EXPECT_EQ(check(badTrailer), "it is not a pack file any more");
    EXPECT_EQ(check(longDirectory), "its contents list is damaged");
    EXPECT_EQ(check(shortDirectory), BlobCipherError::metadataTruncated().what());
    // Under another repository's keys the directory does not open: the cipher's own words.
    PackVerifier foreign(BlobCipher(makeKeys(), BlobCipher::Sealing::nonceFromStoredBytes));
    EXPECT_THROW(foreign.check(good, hashPackID(good)), BlobCipherError);
}

}  // namespace
}  // namespace wm::test
