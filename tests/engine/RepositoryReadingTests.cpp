// Reading snapshots and blobs.
#include <atomic>
#include <thread>

#include <gtest/gtest.h>

#include "EngineTestSupport.h"
#include "format/RepositoryLayout.h"
#include "format/SignedFile.h"

namespace wm::test {
namespace {

class RepositoryReading : public ::testing::Test {
protected:
    std::shared_ptr<InMemoryDestination> memory = std::make_shared<InMemoryDestination>();
    RepositoryKeys keys = makeKeys();
    std::shared_ptr<Repository> repository = createRepository(memory, keys);
};

TEST_F(RepositoryReading, StoredButUnsealedBlobIsHeldButNotReadable) {
    const auto stored = repository->store(bytesOf("hello"), BlobType::data);
    EXPECT_TRUE(stored.isNew);
    EXPECT_TRUE(repository->contains(stored.id));
    EXPECT_EQ(repository->blobCount(), 0u);
    try {
        repository->blob(stored.id);
        FAIL();
    } catch (const Repository::Error& e) {
        EXPECT_EQ(e, Repository::Error::blobNotFound(stored.id));
    }
}

TEST_F(RepositoryReading, SnapshotWhoseFileWasDeletedGivesTheDestinationError) {
    const auto id = commitFile(*repository, {randomBytes(100, 1)});
    memory->remove(RepositoryLayout::snapshot(id));
    try {
        repository->snapshot(id);
        FAIL();
    } catch (const DestinationError& e) {
        EXPECT_EQ(e.kind, DestinationError::Kind::notFound);
    }
}

// A valid record copied over another snapshot's file opens and verifies, but it is not the
// snapshot that was asked for.
TEST_F(RepositoryReading, RecordCopiedOverAnotherRecordsPathIsSnapshotNotFound) {
    const auto a = commitFile(*repository, {randomBytes(100, 1)}, "a");
    const auto b = commitFile(*repository, {randomBytes(100, 2)}, "b");
    memory->put(RepositoryLayout::snapshot(b), memory->files().at(RepositoryLayout::snapshot(a).string()));
    EXPECT_EQ(repository->snapshot(a).id, a.value);
    try {
        repository->snapshot(b);
        FAIL() << "read a's record as b";
    } catch (const Repository::Error& e) {
        EXPECT_EQ(e, Repository::Error::snapshotNotFound(b));
    }
}

TEST_F(RepositoryReading, SnapshotRecordCarriesTheCommit) {
    const auto id = commitFile(*repository, {randomBytes(1234, 1)});
    const auto record = repository->snapshot(id);
    EXPECT_EQ(record.counter, 1u);
    EXPECT_EQ(record.deviceID, testDevice().data());
    EXPECT_EQ(record.appVersion, "9.9.9");
    EXPECT_EQ(record.createdAt, fixedNow());
    EXPECT_EQ(record.stats.bytesLogical, 1234u);
    EXPECT_EQ(readWhole(*repository, id), 1234u);
}

TEST_F(RepositoryReading, BlobReadsOnlyItsRangeAndOpensIt) {
    const Bytes content = randomBytes(70000, 5);
    commitFile(*repository, {content, randomBytes(50, 6)});
    auto faulty = std::make_shared<FaultyDestination>(memory);
    auto opened = openRepository(faulty, keys, Repository::Access::readOnly);
    faulty->clearLog();
    const BlobID id = opened.repository->cipher().identity(content);
    EXPECT_EQ(opened.repository->blob(id), content);
    const auto calls = faulty->calls();
    ASSERT_EQ(calls.size(), 1u);
    ASSERT_TRUE(calls[0].range.has_value());
    EXPECT_LT(calls[0].range->count(), 70000 + 100);
}

// Reading through a buffer kept by the caller: blobs of any size in any order, a failed read
// in between, and the buffer is grown but never shrunk (so it is not cleared again).
TEST_F(RepositoryReading, BlobThroughACallersBufferReadsLikeAFreshOne) {
    const std::vector<Bytes> contents = {randomBytes(70000, 1), randomBytes(10, 2), bytesOf(std::string(90000, 'z')),
                                         randomBytes(300000, 3), randomBytes(1, 4)};
    commitFile(*repository, contents);
    auto faulty = std::make_shared<FaultyDestination>(memory);
    auto opened = openRepository(faulty, keys, Repository::Access::readOnly);
    const Repository& reader = *opened.repository;

    Bytes buffer;
    std::size_t largest = 0;
    for (int round = 0; round < 2; ++round) {
        for (const Bytes& content : contents) {
            const BlobID id = reader.cipher().identity(content);
            EXPECT_EQ(reader.blob(id, buffer), content);
            EXPECT_EQ(reader.blob(id, buffer), reader.blob(id));
            largest = std::max(largest, buffer.size());
            EXPECT_EQ(buffer.size(), largest) << "the buffer shrank";
        }
    }
    EXPECT_GE(largest, 300000u);

    // A read that fails leaves nothing that spoils the next one.
    const BlobID small = reader.cipher().identity(contents[1]);
    faulty->failCalls("packs/*", DestinationError::ioFailed(RepoPath(), "device error"), {}, 1);
    EXPECT_THROW(reader.blob(small, buffer), DestinationError);
    EXPECT_EQ(reader.blob(small, buffer), contents[1]);
    EXPECT_THROW(reader.blob(BlobID{}, buffer), Repository::Error);
}

TEST_F(RepositoryReading, AlteredBlobBytesFailAuthentication) {
    const Bytes content = randomBytes(5000, 9);
    commitFile(*repository, {content});
    const BlobID id = repository->cipher().identity(content);
    const auto location = repository->withIndex([&](const CompactIndex& i) { return *i.location(id); });
    auto faulty = std::make_shared<FaultyDestination>(memory);
    faulty->flipBitOnRead("packs/*", static_cast<std::int64_t>(location.entry.offset + 40) * 8 + 3);
    auto opened = openRepository(faulty, keys, Repository::Access::readOnly);
    try {
        opened.repository->blob(id);
        FAIL();
    } catch (const BlobCipherError& e) {
        EXPECT_EQ(e.kind, BlobCipherError::Kind::authenticationFailed);
        EXPECT_EQ(e.id, id);
    }
}

TEST_F(RepositoryReading, PackShorterThanTheEntryGivesTheReadError) {
    const Bytes content = randomBytes(5000, 9);
    commitFile(*repository, {content});
    const BlobID id = repository->cipher().identity(content);
    const auto location = repository->withIndex([&](const CompactIndex& i) { return *i.location(id); });
    const auto path = RepositoryLayout::pack(location.pack);
    Bytes bytes = memory->files().at(path.string());
    bytes.resize(static_cast<std::size_t>(location.entry.offset + 10));
    memory->put(path, bytes);
    try {
        repository->blob(id);
        FAIL();
    } catch (const DestinationError& e) {
        EXPECT_EQ(e.kind, DestinationError::Kind::shortRead);
    }
}

// An index entry whose end does not fit a file position is refused before any read.
TEST_F(RepositoryReading, EntryRangeThatOverflowsIsRefusedBeforeReading) {
    PackID pack;
    pack.bytes.fill(7);
    BlobID blob;
    blob.bytes.fill(9);
    const IndexFile::Section section{
        pack, {PackFile::Entry{blob, BlobType::data, static_cast<std::uint64_t>(INT64_MAX) - 10, 100}}};
    memory->put(RepositoryLayout::index(UUID::random()), repository->cipher().sealMetadata(IndexFile::encode({section})));
    auto faulty = std::make_shared<FaultyDestination>(memory);
    auto opened = openRepository(faulty, keys, Repository::Access::readOnly);
    faulty->clearLog();
    try {
        opened.repository->blob(blob);
        FAIL();
    } catch (const PackFile::Error& e) {
        EXPECT_EQ(e.kind, PackFile::Error::Kind::blobRangeOutOfBounds);
    }
    EXPECT_TRUE(faulty->calls().empty());
}

// Readers run while a backup stores and commits on another thread.
TEST_F(RepositoryReading, ReadersRunAlongsideAWriter) {
    std::vector<Bytes> contents;
    for (int i = 0; i < 8; ++i) contents.push_back(randomBytes(20000 + static_cast<std::size_t>(i), static_cast<std::uint64_t>(i)));
    const auto first = commitFile(*repository, contents, "first");

    std::atomic<bool> done{false};
    std::atomic<int> reads{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 3; ++t) {
        readers.emplace_back([&] {
            while (!done.load()) {
                EXPECT_EQ(readWhole(*repository, first), 8 * 20000u + 28);
                EXPECT_FALSE(repository->snapshotIDs().empty());
                reads.fetch_add(1);
            }
        });
    }
    for (int round = 0; round < 10; ++round) {
        commitFile(*repository, {randomBytes(30000, 100 + static_cast<std::uint64_t>(round))}, "more");
    }
    done = true;
    for (auto& t : readers) t.join();
    EXPECT_GT(reads.load(), 0);
    EXPECT_EQ(repository->counter(), 11u);
}

}  // namespace
}  // namespace wm::test
