// Storing chunks, sealing packs, and keeping accepted chunks through failed pack writes.
#include <thread>

#include <gtest/gtest.h>

#include "EngineTestSupport.h"
#include "core/Hex.h"
#include "format/PackReader.h"
#include "format/RepositoryLayout.h"
#include "format/TreeObject.h"

namespace wm::test {
namespace {

class RepositoryStoring : public ::testing::Test {
protected:
    std::shared_ptr<InMemoryDestination> memory = std::make_shared<InMemoryDestination>();
    std::shared_ptr<FaultyDestination> faulty = std::make_shared<FaultyDestination>(memory);
    RepositoryKeys keys = makeKeys();
    std::shared_ptr<Repository> repository = createRepository(faulty, keys);

    // Chunks of one size, each its own random content.
    static std::vector<Bytes> randomChunks(int count, std::size_t size, std::uint64_t seed) {
        std::vector<Bytes> chunks;
        for (int i = 0; i < count; ++i) chunks.push_back(randomBytes(size, seed + static_cast<std::uint64_t>(i)));
        return chunks;
    }
    // Tiny distinct chunks: `width` bytes of `fill` with the number in the first four.
    static std::vector<Bytes> numberedChunks(std::uint32_t count, std::size_t width, std::uint8_t fill) {
        std::vector<Bytes> chunks;
        for (std::uint32_t i = 0; i < count; ++i) {
            Bytes b(width, fill);
            for (int k = 0; k < 4; ++k) b[static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(i >> (8 * k));
            chunks.push_back(std::move(b));
        }
        return chunks;
    }
    // A tree of one file whose content is the stored chunks.
    BlobID treeOf(const std::vector<Repository::Stored>& stored) {
        TreeObject::Entry entry;
        entry.name = bytesOf("f");
        std::vector<BlobID> ids;
        for (const auto& r : stored) ids.push_back(r.id);
        entry.contentBlobs = ids;
        return repository->store(TreeObject::encode({entry}), BlobType::tree).id;
    }
    SnapshotID commitTree(const BlobID& tree) {
        return repository->commit(tree, {}, {}, {}, "x", {}, std::nullopt, fixedNow());
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

TEST_F(RepositoryStoring, EmptyBatchChangesNothing) {
    faulty->clearLog();
    EXPECT_TRUE(repository->storeChunks(std::vector<Bytes>{}, BlobType::data).empty());
    EXPECT_FALSE(repository->hasUnwrittenChunks());
    EXPECT_TRUE(faulty->calls().empty());
}

TEST_F(RepositoryStoring, RepeatedContentIsSealedOnce) {
    const Bytes a = randomBytes(1000, 1);
    const auto results = repository->storeChunks(std::vector{a, randomBytes(10, 2), a, a}, BlobType::data);
    std::vector<bool> isNew;
    for (const auto& r : results) isNew.push_back(r.isNew);
    EXPECT_EQ(isNew, (std::vector<bool>{true, true, false, false}));
    EXPECT_EQ(results[0].id, results[2].id);
    EXPECT_EQ(results[0].id, results[3].id);
    for (const auto& r : repository->storeChunks(std::vector{a, randomBytes(10, 2)}, BlobType::data))
        EXPECT_FALSE(r.isNew);
    commitFile(*repository, {});
    const auto readers = packs();
    ASSERT_EQ(readers.size(), 1u);
    EXPECT_EQ(readers[0].entries().size(), 3u);  // two data blobs and the tree
}

// Large chunks first, small ones last: the small ones finish sealing first, yet the pack
// holds every chunk in input order.
TEST_F(RepositoryStoring, BatchEntersThePackInInputOrder) {
    std::vector<Bytes> chunks;
    for (int i = 0; i < 24; ++i) chunks.push_back(randomBytes(static_cast<std::size_t>(400000 - i * 16000), 10 + static_cast<std::uint64_t>(i)));
    const auto results = repository->storeChunks(chunks, BlobType::data);
    ASSERT_EQ(results.size(), chunks.size());
    for (std::size_t i = 0; i < chunks.size(); ++i) {
        EXPECT_TRUE(results[i].isNew);
        EXPECT_EQ(results[i].id, repository->cipher().identity(chunks[i]));
    }
    commitFile(*repository, {});
    const auto readers = packs();
    ASSERT_EQ(readers.size(), 1u);
    const auto& entries = readers[0].entries();
    ASSERT_EQ(entries.size(), chunks.size() + 1);
    for (std::size_t i = 0; i < chunks.size(); ++i) {
        EXPECT_EQ(entries[i].id, results[i].id) << i;
        if (i > 0) {
            EXPECT_GT(entries[i].offset, entries[i - 1].offset);
        }
    }
}

TEST_F(RepositoryStoring, FullPackIsSealedMidBatchAndTheBatchGoesOn) {
    // 17 chunks of 4 MiB: the pack fills after 16 and is written during the batch.
    const auto chunks = randomChunks(17, 4 << 20, 100);
    const auto results = repository->storeChunks(chunks, BlobType::data);
    EXPECT_EQ(filesUnder(*memory, "packs").size(), 1u);
    EXPECT_EQ(repository->blobCount(), 16u);
    EXPECT_EQ(repository->unflushedEntryCount(), 16u);
    for (std::size_t i = 0; i < results.size(); ++i) {
        EXPECT_TRUE(results[i].isNew);
        EXPECT_TRUE(repository->contains(results[i].id));
    }
    const auto id = commitFile(*repository, {});
    EXPECT_EQ(filesUnder(*memory, "packs").size(), 2u);
    EXPECT_EQ(filesUnder(*memory, "index").size(), 1u);
    EXPECT_EQ(repository->blobCount(), 18u);
    for (std::size_t i = 0; i < chunks.size(); ++i) EXPECT_EQ(repository->blob(results[i].id), chunks[i]);
    EXPECT_EQ(readWhole(*repository, id), 0u);
}

TEST_F(RepositoryStoring, FiftyThousandBlobsSealThePackAndFlushTheIndex) {
    repository->storeChunks(numberedChunks(49999, 4, 0), BlobType::data);
    EXPECT_TRUE(filesUnder(*memory, "packs").empty());
    EXPECT_EQ(repository->blobCount(), 0u);

    repository->store(bytesOf("the fifty thousandth"), BlobType::data);
    EXPECT_EQ(filesUnder(*memory, "packs").size(), 1u);
    EXPECT_EQ(repository->blobCount(), 50000u);
    // Sealing brought 50,000 entries to wait: they were written as an index file at once.
    EXPECT_EQ(filesUnder(*memory, "index").size(), 1u);
    EXPECT_EQ(repository->unflushedEntryCount(), 0u);
    EXPECT_FALSE(repository->hasUnwrittenChunks());
}

// 120,000 tiny chunks fill two packs of 50,000 blobs within one batch; the packs are written
// while the batch goes on. A failure of the second pack's write stops the batch and loses
// nothing.
TEST_F(RepositoryStoring, BatchFillingSeveralPacksWritesThemAllAndLosesNothingOnFailure) {
    const auto chunks = numberedChunks(120000, 8, 0x5C);
    const auto before = faulty->mutatingCallCount();
    // Pack, index file, then the second pack: its commit is the ninth mutating call.
    faulty->failMutation(9, DestinationError::outOfSpace(1, 0));
    EXPECT_THROW(repository->storeChunks(chunks, BlobType::data), DestinationError);
    EXPECT_EQ(faulty->mutatingCallCount() - before, 9);
    EXPECT_EQ(repository->blobCount(), 50000u);
    EXPECT_TRUE(repository->hasUnwrittenChunks());

    const auto results = repository->storeChunks(chunks, BlobType::data);
    EXPECT_EQ(filesUnder(*memory, "packs").size(), 2u);
    EXPECT_EQ(repository->blobCount(), 100000u);
    for (std::size_t i = 0; i < results.size(); i += 997) EXPECT_EQ(results[i].id, repository->cipher().identity(chunks[i]));
    commitTree(BlobID{});
    auto reopened = openRepository(memory, keys, Repository::Access::readOnly);
    EXPECT_EQ(reopened.repository->blobCount(), 120000u);
    for (std::size_t i = 0; i < chunks.size(); i += 4999) EXPECT_EQ(reopened.repository->blob(results[i].id), chunks[i]);
}

TEST_F(RepositoryStoring, SealingAnEmptyPackWritesNothing) {
    commitFile(*repository, {});
    faulty->clearLog();
    // A commit with nothing new writes the snapshot record and the head, then the read-me.
    commitTree(BlobID{});
    std::vector<std::string> committed;
    for (const auto& call : faulty->calls()) {
        if (call.operation == FaultyDestination::Operation::commit) committed.push_back(call.path.string());
    }
    ASSERT_GE(committed.size(), 2u);
    EXPECT_EQ(committed[0].rfind("snapshots/", 0), 0u);
    EXPECT_EQ(committed[1], "refs/head");
    for (std::size_t i = 2; i < committed.size(); ++i) EXPECT_TRUE(committed[i] == "Read Me First.txt" || committed[i] == "Repository Format.md") << committed[i];
}

// A pack that reads back damaged counts a bad read, does not enter the index, and is not
// lost: its chunks were accepted, so the next commit writes them.
TEST_F(RepositoryStoring, PackThatReadsBackDamagedIsKeptAndWrittenByTheNextCommit) {
    const std::vector<Bytes> chunks{randomBytes(3000, 1), randomBytes(4000, 2)};
    const auto results = repository->storeChunks(chunks, BlobType::data);
    faulty->flipBitOnRead("packs/*", 100);
    const BlobID tree = treeOf(results);
    try {
        commitTree(tree);
        FAIL() << "committed over a damaged pack";
    } catch (const PackFile::Error& e) {
        EXPECT_EQ(e.kind, PackFile::Error::Kind::hashMismatch);
    }
    EXPECT_EQ(repository->health().badReads, 1);
    EXPECT_EQ(repository->blobCount(), 0u);
    EXPECT_TRUE(repository->contains(results[0].id));
    EXPECT_TRUE(repository->hasUnwrittenChunks());
    EXPECT_EQ(repository->counter(), 0u);
    // The damage came from the reads; once they are clean the same pack is written again.
    faulty->clearFaults();
    const auto id = commitTree(tree);
    EXPECT_FALSE(repository->hasUnwrittenChunks());
    EXPECT_EQ(repository->blobCount(), 3u);
    auto reopened = openRepository(memory, keys, Repository::Access::readOnly);
    EXPECT_EQ(readWhole(*reopened.repository, id), 7000u);
}

TEST_F(RepositoryStoring, FailedPackWriteKeepsChunksAndCommitRefusesUntilWritten) {
    const auto chunks = randomChunks(17, 4 << 20, 300);
    faulty->failCalls("packs/*", DestinationError::outOfSpace(1, 0), {FaultyDestination::Operation::commit}, 1);
    // The pack that fills mid-batch cannot be written: the batch fails, nothing is lost.
    EXPECT_THROW(repository->storeChunks(chunks, BlobType::data), DestinationError);
    EXPECT_TRUE(repository->hasUnwrittenChunks());
    EXPECT_EQ(repository->blobCount(), 0u);
    EXPECT_EQ(repository->health().lostWrites + repository->health().badReads, 0);

    // Told again, the same batch is all accepted (nothing new), and the waiting pack is written first.
    const auto results = repository->storeChunks(chunks, BlobType::data);
    EXPECT_EQ(filesUnder(*memory, "packs").size(), 1u);
    const BlobID tree = treeOf(results);

    faulty->failCalls("packs/*", DestinationError::writeFailed(RepoPath(), "I/O error"), {FaultyDestination::Operation::write}, 1);
    EXPECT_THROW(commitTree(tree), DestinationError);
    EXPECT_EQ(repository->counter(), 0u);
    EXPECT_TRUE(repository->hasUnwrittenChunks());

    const auto id = commitTree(tree);
    EXPECT_FALSE(repository->hasUnwrittenChunks());
    auto reopened = openRepository(memory, keys, Repository::Access::readOnly);
    EXPECT_EQ(readWhole(*reopened.repository, id), 17u * (4 << 20));
}

TEST_F(RepositoryStoring, TwoCommitsFromTwoThreadsBothLand) {
    commitFile(*repository, {randomBytes(100, 1)}, "base");
    for (int round = 0; round < 5; ++round) {
        SnapshotID a{}, b{};
        std::thread ta([&] { a = commitFile(*repository, {randomBytes(20000, 10 + static_cast<std::uint64_t>(round))}, "a"); });
        std::thread tb([&] { b = commitFile(*repository, {randomBytes(20000, 50 + static_cast<std::uint64_t>(round))}, "b"); });
        ta.join();
        tb.join();
        const auto ids = repository->snapshotIDs();
        EXPECT_NE(std::find(ids.begin(), ids.end(), a), ids.end());
        EXPECT_NE(std::find(ids.begin(), ids.end(), b), ids.end());
    }
    EXPECT_EQ(repository->counter(), 11u);
    auto reopened = openRepository(memory, keys, Repository::Access::readOnly);
    EXPECT_EQ(reopened.repository->snapshotIDs().size(), 11u);
    for (const auto& id : reopened.repository->snapshotIDs()) EXPECT_NO_THROW(readWhole(*reopened.repository, id));
}

}  // namespace
}  // namespace wm::test
