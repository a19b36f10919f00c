// Storing chunks, sealing packs, committing, and keeping accepted chunks through failed writes.
#include <thread>

#include <gtest/gtest.h>

#include "SnapshotBrowserFixture.h"
#include "core/Hex.h"
#include "engine/PackStore.h"
#include "format/PackReader.h"
#include "format/RepositoryLayout.h"
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
    commitFile(*repository, {});
    const auto paths = filesUnder(*memory, "packs");
    ASSERT_EQ(paths.size(), 1u);
    const PackReader reader(memory->files().at(paths[0]),
                            *PackID::fromBytes(*Hex::decode(RepoPath::parse(paths[0])->fileName().substr(0, 64))),
                            repository->cipher());
    const auto& entries = reader.entries();
    ASSERT_EQ(entries.size(), 24u + 1);  // and the tree
    for (std::size_t i = 0; i < 24; ++i) EXPECT_EQ(entries[i].id, results[i].id) << i;
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
    EXPECT_TRUE(repository->hasUnwrittenChunks());
    // The damage came from the reads; once they are clean the same pack is written again.
    faulty->clearFaults();
    const auto id = commitRoot(*repository, tree);
    auto reopened = openRepository(memory, keys, Repository::Access::readOnly);
    EXPECT_EQ(readWhole(*reopened.repository, id), 7000u);
}

TEST_F(RepositoryStoring, TwoCommitsFromTwoThreadsBothLand) {
    commitFile(*repository, {randomBytes(100, 1)}, "base");
    for (std::uint64_t round = 0; round < 5; ++round) {
        std::thread ta([&] { commitFile(*repository, {randomBytes(20000, 10 + round)}, "a"); });
        std::thread tb([&] { commitFile(*repository, {randomBytes(20000, 50 + round)}, "b"); });
        ta.join();
        tb.join();
    }
    auto reopened = openRepository(memory, keys, Repository::Access::readOnly);
    EXPECT_EQ(reopened.repository->snapshotIDs().size(), 11u);
    for (const auto& id : reopened.repository->snapshotIDs()) EXPECT_NO_THROW(readWhole(*reopened.repository, id));
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

TEST(PackStore, SealingWidthByActiveProcessors) {
    const std::pair<int, int> rows[] = {{1, 3}, {7, 3}, {8, 4}, {15, 7}, {16, 8}, {64, 8}};
    for (const auto& [processors, width] : rows) EXPECT_EQ(PackStore::sealingWidth(processors), width) << processors;
}

}  // namespace
}  // namespace wm::test
