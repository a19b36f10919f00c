// Storing chunks, sealing packs, committing, and keeping accepted chunks through failed writes.
#include <gtest/gtest.h>

#include <map>
#include <thread>

#include "engine/PackStore.h"
#include "format/RepositoryLayout.h"
#include "support/EngineTestSupport.h"

namespace wm::test {
namespace {

using RepositoryStoring = FaultyRepositoryTest;

// A chunk repeated within a batch, or stored before, is not new and enters the pack once.
TEST_F(RepositoryStoring, RepeatsWithinABatchAreStoredOnce) {
    const std::vector<Bytes> chunks = {randomBytes(400000, 1), randomBytes(1000, 2), randomBytes(400000, 1)};
    const auto results = repository->storeChunks(chunks, BlobType::data);
    EXPECT_TRUE(results[0].isNew && results[1].isNew && !results[2].isNew);
    EXPECT_FALSE(repository->storeChunks(std::vector<Bytes>{chunks[1]}, BlobType::data)[0].isNew);
    commitFile(*repository, {});
    EXPECT_EQ(repository->blobCount(), 2u + 1);  // and the tree
}

// Calls on four threads store the same chunks in different orders, into packs of five
// blobs: each blob is reported new by exactly one call, so it entered a pack once.
TEST_F(RepositoryStoring, ConcurrentCallsStoreSharedContentOnce) {
    repository->setPackBlobLimitForTesting(5);
    std::vector<Bytes> chunks;
    for (std::uint64_t i = 0; i < 24; ++i) chunks.push_back(randomBytes(800 + 50 * i, 200 + i));
    std::vector<std::vector<Repository::Stored>> results(4);
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (std::size_t b = 0; b < 8; ++b) {
                const auto first = chunks.begin() + static_cast<std::ptrdiff_t>((b + 2 * t) % 8 * 3);
                for (const auto& stored : repository->storeChunks(std::vector<Bytes>(first, first + 3), BlobType::data))
                    results[t].push_back(stored);
            }
        });
    }
    for (auto& thread : threads) thread.join();
    std::map<BlobID, int> newCount;
    for (const auto& calls : results)
        for (const auto& stored : calls) newCount[stored.id] += stored.isNew ? 1 : 0;
    ASSERT_EQ(newCount.size(), chunks.size());
    for (const auto& [id, count] : newCount) EXPECT_EQ(count, 1);
    const auto id = commitTree(*repository, {Node::file("f", chunks)});
    EXPECT_EQ(repository->blobCount(), chunks.size() + 1);
    EXPECT_GE(filesUnder(*memory, "packs").size(), 5u);
    EXPECT_EQ(readWhole(*openRepository(memory, keys).repository, id), 24u * 800 + 50 * 276);
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
    for (std::size_t i = 0; i < results.size(); i += 997)
        EXPECT_EQ(results[i].id, repository->cipher().identity(chunks[i]));
    commitRoot(*repository, BlobID{});
    auto reopened = openRepository(memory, keys, Repository::Access::readOnly);
    EXPECT_EQ(reopened.repository->blobCount(), 120000u);
    for (std::size_t i = 0; i < chunks.size(); i += 4999)
        EXPECT_EQ(reopened.repository->blob(results[i].id), chunks[i]);
}

// A pack that reads back damaged counts a bad read, does not enter the index, and is not
// lost: its chunks were accepted, so the next commit writes them.
TEST_F(RepositoryStoring, PackThatReadsBackDamagedIsKeptAndWrittenByTheNextCommit) {
    const std::vector<Bytes> chunks{randomBytes(3000, 1), randomBytes(4000, 2)};
    const auto results = repository->storeChunks(chunks, BlobType::data);
    faulty->flipBitOnRead("packs/*", 100);
    const BlobID tree = storeTree(*repository, {Node::file("f", chunks)});
    EXPECT_EQ(thrown<PackFile::Error>([&] { commitRoot(*repository, tree); }).kind,
              PackFile::Error::Kind::hashMismatch);
    EXPECT_EQ(repository->health().badReads, 1);
    EXPECT_EQ(repository->blobCount(), 0u);
    EXPECT_TRUE(repository->hasUnwrittenChunks());
    // The damage came from the reads; once they are clean the same pack is written again.
    faulty->clearFaults();
    const auto id = commitRoot(*repository, tree);
    auto reopened = openRepository(memory, keys, Repository::Access::readOnly);
    EXPECT_EQ(readWhole(*reopened.repository, id), 7000u);
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

// The exact sealing width for each count of active processors.
TEST(PackStore, SealingWidthByActiveProcessors) {
    const std::pair<int, int> rows[] = {{1, 3}, {2, 3}, {7, 3}, {8, 4}, {10, 5}, {15, 7}, {16, 8}, {64, 8}};
    for (const auto& [processors, width] : rows) EXPECT_EQ(PackStore::sealingWidth(processors), width) << processors;
}

}  // namespace
}  // namespace wm::test
