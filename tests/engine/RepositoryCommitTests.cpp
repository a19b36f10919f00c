// Committing snapshots and flushing the index.
#include <gtest/gtest.h>

#include "EngineTestSupport.h"
#include "format/RepositoryLayout.h"
#include "format/SignedFile.h"

namespace wm::test {
namespace {

class RepositoryCommit : public ::testing::Test {
protected:
    std::shared_ptr<InMemoryDestination> memory = std::make_shared<InMemoryDestination>();
    std::shared_ptr<FaultyDestination> faulty = std::make_shared<FaultyDestination>(memory);
    RepositoryKeys keys = makeKeys();
    std::shared_ptr<Repository> repository = createRepository(faulty, keys);

    std::vector<std::string> committedPaths() {
        std::vector<std::string> paths;
        for (const auto& call : faulty->calls()) {
            if (call.operation == FaultyDestination::Operation::commit && !call.failed) paths.push_back(call.path.string());
        }
        return paths;
    }
};

TEST_F(RepositoryCommit, CommitWritesPackIndexRecordThenHead) {
    faulty->clearLog();
    const auto id = commitFile(*repository, {randomBytes(1000, 1)});
    const auto paths = committedPaths();
    ASSERT_GE(paths.size(), 4u);
    EXPECT_EQ(paths[0].rfind("packs/", 0), 0u);
    EXPECT_EQ(paths[1].rfind("index/", 0), 0u);
    EXPECT_EQ(paths[2], RepositoryLayout::snapshot(id).string());
    EXPECT_EQ(paths[3], "refs/head");
    EXPECT_EQ(repository->unflushedEntryCount(), 0u);
    EXPECT_TRUE(repository->unflushedSections().empty());
}

TEST_F(RepositoryCommit, CountersAndListsGrowByOnePerCommit) {
    const auto a = commitFile(*repository, {randomBytes(10, 1)});
    const auto b = commitFile(*repository, {randomBytes(10, 2)});
    EXPECT_EQ(repository->counter(), 2u);
    EXPECT_EQ(repository->snapshotIDs(), (std::vector{a, b}));
    EXPECT_EQ(repository->snapshot(a).counter, 1u);
    EXPECT_EQ(repository->snapshot(b).counter, 2u);
    const auto head = SignedFile::open<HeadRecord>(memory->files().at("refs/head"), keys, repository->cipher());
    EXPECT_EQ(head, repository->head());
    EXPECT_EQ(head.counter, 2u);
    EXPECT_EQ(head.snapshots, (std::vector{a.value, b.value}));
}

TEST_F(RepositoryCommit, RecordHoldsFlagsSortedAndTheAnomalyTime) {
    const Date now = fixedNow().adding(60);
    SnapshotStats stats;
    stats.files = 3;
    stats.duration = 1.5;
    const auto id = repository->commit(BlobID{}, {SnapshotSource{bytesOf("/a"), SnapshotSource::Kind::photosLibrary}},
                                       stats, {SnapshotFlag::partial, SnapshotFlag::anomalyDetected}, "Mac", {"*.tmp"},
                                       SnapshotID{UUID::random()}, now);
    const auto record = repository->snapshot(id);
    EXPECT_EQ(record.flags, (std::vector<std::string>{"anomalyDetected", "partial"}));
    EXPECT_EQ(record.anomalyDetectedAt, now);
    EXPECT_EQ(record.createdAt, now);
    EXPECT_EQ(record.sources.at(0).kind, "photosLibrary");
    EXPECT_EQ(record.excludeRules, (std::vector<std::string>{"*.tmp"}));
    EXPECT_TRUE(record.parent.has_value());
    EXPECT_EQ(record.stats.duration, 1.5);
    EXPECT_EQ(record.hostPlatform, Repository::hostPlatform());

    const auto plain = repository->commit(BlobID{}, {}, {}, {SnapshotFlag::partial}, "Mac", {}, std::nullopt, now);
    const auto second = repository->snapshot(plain);
    EXPECT_FALSE(second.anomalyDetectedAt.has_value());
    EXPECT_FALSE(second.parent.has_value());
    ASSERT_TRUE(second.excludeRules.has_value());  // an empty list is written, not left out
    EXPECT_TRUE(second.excludeRules->empty());
}

TEST_F(RepositoryCommit, FailedHeadWriteLeavesStateAndTheNextCommitListsOnlyItsOwn) {
    const auto first = commitFile(*repository, {randomBytes(10, 1)});
    faulty->failCalls("refs/head", DestinationError::renameFailed(RepoPath(), "busy"), {FaultyDestination::Operation::commit}, 1);
    EXPECT_THROW(commitFile(*repository, {randomBytes(10, 2)}), DestinationError);
    EXPECT_EQ(repository->counter(), 1u);
    EXPECT_EQ(repository->snapshotIDs(), std::vector{first});
    const auto third = commitFile(*repository, {randomBytes(10, 3)});
    EXPECT_EQ(repository->snapshotIDs(), (std::vector{first, third}));
    EXPECT_EQ(repository->counter(), 2u);
}

TEST_F(RepositoryCommit, FailedIndexFlushKeepsSectionsForTheNextFlush) {
    faulty->failCalls("index/*", DestinationError::outOfSpace(10, 0), {FaultyDestination::Operation::openWrite}, 1);
    EXPECT_THROW(commitFile(*repository, {randomBytes(1000, 1)}), DestinationError);
    EXPECT_EQ(repository->unflushedSections().size(), 1u);
    EXPECT_EQ(repository->unflushedEntryCount(), 2u);
    const auto id = commitFile(*repository, {randomBytes(1000, 1)});
    EXPECT_EQ(repository->unflushedEntryCount(), 0u);
    auto reopened = openRepository(memory, keys, Repository::Access::readOnly);
    EXPECT_EQ(readWhole(*reopened.repository, id), 1000u);
}

TEST_F(RepositoryCommit, DiscardingUnflushedSectionsKeepsTheBlobsReadable) {
    repository->store(randomBytes(10, 1), BlobType::data);
    faulty->failCalls("index/*", DestinationError::outOfSpace(10, 0), {FaultyDestination::Operation::openWrite}, 1);
    EXPECT_THROW(repository->commit(BlobID{}, {}, {}, {}, "x", {}, std::nullopt, fixedNow()), DestinationError);
    EXPECT_EQ(repository->unflushedEntryCount(), 1u);
    repository->discardUnflushedIndex();
    EXPECT_EQ(repository->unflushedEntryCount(), 0u);
    EXPECT_TRUE(repository->unflushedSections().empty());
    EXPECT_EQ(repository->blobCount(), 1u);
}

TEST_F(RepositoryCommit, ReadMeIsRefreshedAndFormatDocumentWrittenOnce) {
    commitFile(*repository, {});
    faulty->clearLog();
    repository->refreshReadMe();
    const auto paths = committedPaths();
    EXPECT_EQ(paths, std::vector<std::string>{"Read Me First.txt"});
}

TEST_F(RepositoryCommit, ReadMeOnAReadOnlyDestinationReturnsQuietly) {
    auto readOnly = openRepository(memory, keys, Repository::Access::readOnly);
    const auto before = memory->files();
    EXPECT_NO_THROW(readOnly.repository->refreshReadMe());
    EXPECT_EQ(memory->files(), before);
}

}  // namespace
}  // namespace wm::test
