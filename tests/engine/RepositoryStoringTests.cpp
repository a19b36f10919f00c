// Storing chunks, sealing packs, committing, and keeping accepted chunks through failed writes.
#include <thread>

#include <gtest/gtest.h>

#include "SnapshotBrowserFixture.h"
#include "core/Hex.h"
#include "engine/PackStore.h"
#include "format/PackReader.h"
#include "format/RepositoryLayout.h"
#include "format/SignedFile.h"
#include "format/TreeObject.h"

namespace wm::test {
namespace {

class RepositoryStoring : public FaultyRepositoryTest {
protected:
    // A tree of one file whose content is the stored chunks.
    BlobID fileTree(const std::vector<Repository::Stored>& stored) {
        TreeObject::Entry entry;
        entry.name = bytesOf("f");
        std::vector<BlobID> ids;
        for (const auto& r : stored) ids.push_back(r.id);
        entry.contentBlobs = ids;
        return repository->store(TreeObject::encode({entry}), BlobType::tree).id;
    }
    std::vector<std::string> committedPaths() const {
        std::vector<std::string> paths;
        for (const auto& call : faulty->calls()) {
            if (call.operation == FaultyDestination::Operation::commit && !call.failed) paths.push_back(call.path.string());
        }
        return paths;
    }
    std::vector<PackReader> packs() {
        std::vector<PackReader> readers;
        for (const auto& path : filesUnder(*memory, "packs")) {
            const auto p = *RepoPath::parse(path);
            auto id = PackID::fromBytes(*Hex::decode(p.fileName().substr(0, 64)));
            readers.emplace_back(memory->files().at(path), *id, repository->cipher());
        }
        return readers;
    }
};

// Large chunks first, small ones last: the small ones finish sealing first, yet the pack
// holds every chunk once, in input order.
TEST_F(RepositoryStoring, BatchEntersThePackOnceEachInInputOrder) {
    std::vector<Bytes> chunks;
    for (std::uint64_t i = 0; i < 24; ++i) chunks.push_back(randomBytes(400000 - i * 16000, 10 + i));
    chunks.push_back(chunks[0]);
    chunks.push_back(chunks[5]);
    const auto results = repository->storeChunks(chunks, BlobType::data);
    ASSERT_EQ(results.size(), chunks.size());
    for (std::size_t i = 0; i < chunks.size(); ++i) {
        EXPECT_EQ(results[i].isNew, i < 24) << i;
        EXPECT_EQ(results[i].id, repository->cipher().identity(chunks[i]));
    }
    EXPECT_FALSE(repository->storeChunks(std::vector<Bytes>{chunks[3]}, BlobType::data)[0].isNew);
    commitFile(*repository, {});
    const auto readers = packs();
    ASSERT_EQ(readers.size(), 1u);
    const auto& entries = readers[0].entries();
    ASSERT_EQ(entries.size(), 24u + 1);  // and the tree
    for (std::size_t i = 0; i < 24; ++i) {
        EXPECT_EQ(entries[i].id, results[i].id) << i;
        if (i > 0) {
            EXPECT_GT(entries[i].offset, entries[i - 1].offset);
        }
    }
}

// 120,000 tiny chunks fill two packs of 50,000 blobs (each with its index file) within one
// batch. A failure of the second pack's write stops the batch and loses nothing.
TEST_F(RepositoryStoring, BatchFillingSeveralPacksWritesThemAllAndLosesNothingOnFailure) {
    std::vector<Bytes> chunks;
    for (std::uint32_t i = 0; i < 120000; ++i) {
        Bytes b(8, 0x5C);
        for (std::size_t k = 0; k < 4; ++k) b[k] = static_cast<std::uint8_t>(i >> (8 * k));
        chunks.push_back(std::move(b));
    }
    const auto before = faulty->mutatingCallCount();
    // Pack, index file, then the second pack's commit: the ninth mutating call.
    faulty->failMutation(9, DestinationError::outOfSpace(1, 0));
    EXPECT_THROW(repository->storeChunks(chunks, BlobType::data), DestinationError);
    EXPECT_EQ(faulty->mutatingCallCount() - before, 9);
    EXPECT_EQ(repository->blobCount(), 50000u);
    EXPECT_TRUE(repository->hasUnwrittenChunks());

    const auto results = repository->storeChunks(chunks, BlobType::data);
    EXPECT_EQ(filesUnder(*memory, "packs").size(), 2u);
    EXPECT_EQ(repository->blobCount(), 100000u);
    for (std::size_t i = 0; i < results.size(); i += 997) EXPECT_EQ(results[i].id, repository->cipher().identity(chunks[i]));
    commitRoot(*repository, BlobID{});
    auto reopened = openRepository(memory, keys, Repository::Access::readOnly);
    EXPECT_EQ(reopened.repository->blobCount(), 120000u);
    for (std::size_t i = 0; i < chunks.size(); i += 4999) EXPECT_EQ(reopened.repository->blob(results[i].id), chunks[i]);
}

// A pack that reads back damaged counts a bad read, does not enter the index, and is not
// lost: its chunks were accepted, so the next commit writes them.
TEST_F(RepositoryStoring, PackThatReadsBackDamagedIsKeptAndWrittenByTheNextCommit) {
    const std::vector<Bytes> chunks{randomBytes(3000, 1), randomBytes(4000, 2)};
    const auto results = repository->storeChunks(chunks, BlobType::data);
    faulty->flipBitOnRead("packs/*", 100);
    const BlobID tree = fileTree(results);
    EXPECT_EQ(thrown<PackFile::Error>([&] { commitRoot(*repository, tree); }).kind, PackFile::Error::Kind::hashMismatch);
    EXPECT_EQ(repository->health().badReads, 1);
    EXPECT_EQ(repository->blobCount(), 0u);
    EXPECT_TRUE(repository->contains(results[0].id));
    EXPECT_TRUE(repository->hasUnwrittenChunks());
    EXPECT_EQ(repository->counter(), 0u);
    // The damage came from the reads; once they are clean the same pack is written again.
    faulty->clearFaults();
    const auto id = commitRoot(*repository, tree);
    EXPECT_FALSE(repository->hasUnwrittenChunks());
    EXPECT_EQ(repository->blobCount(), 3u);
    auto reopened = openRepository(memory, keys, Repository::Access::readOnly);
    EXPECT_EQ(readWhole(*reopened.repository, id), 7000u);
}

TEST_F(RepositoryStoring, FailedPackWriteKeepsChunksAndCommitRefusesUntilWritten) {
    std::vector<Bytes> chunks;
    for (std::uint64_t i = 0; i < 17; ++i) chunks.push_back(randomBytes(4 << 20, 300 + i));
    faulty->failCalls("packs/*", DestinationError::outOfSpace(1, 0), {FaultyDestination::Operation::commit}, 1);
    // The pack that fills mid-batch cannot be written: the batch fails, nothing is lost.
    EXPECT_THROW(repository->storeChunks(chunks, BlobType::data), DestinationError);
    EXPECT_TRUE(repository->hasUnwrittenChunks());
    EXPECT_EQ(repository->blobCount(), 0u);
    EXPECT_EQ(repository->health().lostWrites + repository->health().badReads, 0);

    // Told again, the same batch is all accepted (nothing new), and the waiting pack is written first.
    const auto results = repository->storeChunks(chunks, BlobType::data);
    EXPECT_EQ(filesUnder(*memory, "packs").size(), 1u);
    const BlobID tree = fileTree(results);

    faulty->failCalls("packs/*", DestinationError::writeFailed(RepoPath(), "I/O error"), {FaultyDestination::Operation::write}, 1);
    EXPECT_THROW(commitRoot(*repository, tree), DestinationError);
    EXPECT_EQ(repository->counter(), 0u);
    EXPECT_TRUE(repository->hasUnwrittenChunks());

    const auto id = commitRoot(*repository, tree);
    EXPECT_FALSE(repository->hasUnwrittenChunks());
    EXPECT_EQ(readWhole(*openRepository(memory, keys, Repository::Access::readOnly).repository, id), 17u * (4 << 20));
}

TEST_F(RepositoryStoring, TwoCommitsFromTwoThreadsBothLand) {
    commitFile(*repository, {randomBytes(100, 1)}, "base");
    for (std::uint64_t round = 0; round < 5; ++round) {
        std::thread ta([&] { commitFile(*repository, {randomBytes(20000, 10 + round)}, "a"); });
        std::thread tb([&] { commitFile(*repository, {randomBytes(20000, 50 + round)}, "b"); });
        ta.join();
        tb.join();
    }
    EXPECT_EQ(repository->counter(), 11u);
    auto reopened = openRepository(memory, keys, Repository::Access::readOnly);
    EXPECT_EQ(reopened.repository->snapshotIDs().size(), 11u);
    for (const auto& id : reopened.repository->snapshotIDs()) EXPECT_NO_THROW(readWhole(*reopened.repository, id));
}

TEST_F(RepositoryStoring, RecordHoldsFlagsSortedAndTheAnomalyTimeOnlyWithItsFlag) {
    const Date now = fixedNow().adding(60);
    const auto flagged = repository->snapshot(repository->commit({
        BlobID{}, {}, {}, {SnapshotFlag::partial, SnapshotFlag::anomalyDetected}, "Mac", {}, std::nullopt, now}));
    EXPECT_EQ(flagged.flags, (std::vector<std::string>{"anomalyDetected", "partial"}));
    EXPECT_EQ(flagged.anomalyDetectedAt, now);
    EXPECT_EQ(flagged.excludeRules, std::vector<std::string>{});  // an empty list is written, not left out
    EXPECT_FALSE(repository->snapshot(commitRoot(*repository, BlobID{})).anomalyDetectedAt.has_value());
}

// A failed index write keeps its sections (a retried commit writes them: the fault enumeration) until discarded.
TEST_F(RepositoryStoring, FailedIndexFlushKeepsSectionsUntilWrittenOrDiscarded) {
    commitFile(*repository, {randomBytes(1000, 1)});
    repository->store(randomBytes(10, 1), BlobType::data);
    faulty->failCalls("index/*", DestinationError::outOfSpace(10, 0), {FaultyDestination::Operation::openWrite}, 1);
    EXPECT_THROW(commitRoot(*repository, BlobID{}), DestinationError);
    EXPECT_EQ(repository->unflushedEntryCount(), 1u);
    repository->discardUnflushedIndex();
    EXPECT_TRUE(repository->unflushedSections().empty());
    EXPECT_EQ(repository->blobCount(), 3u);
}

TEST_F(RepositoryStoring, ReadMeIsRefreshedAloneAndQuietlySkippedWhenReadOnly) {
    commitFile(*repository, {});
    faulty->clearLog();
    repository->refreshReadMe();
    EXPECT_EQ(committedPaths(), std::vector<std::string>{"Read Me First.txt"});
    auto readOnly = openRepository(memory, keys, Repository::Access::readOnly);
    const auto before = memory->files();
    EXPECT_NO_THROW(readOnly.repository->refreshReadMe());
    EXPECT_EQ(memory->files(), before);
}

TEST(PackStore, SealingWidthByActiveProcessors) {
    const std::pair<int, int> rows[] = {{1, 3}, {2, 3}, {4, 3}, {7, 3}, {8, 4}, {10, 5},
                                        {15, 7}, {16, 8}, {17, 8}, {64, 8}};
    for (const auto& [processors, width] : rows) EXPECT_EQ(PackStore::sealingWidth(processors), width) << processors;
}

}  // namespace
}  // namespace wm::test
