// Creating and opening repositories, loading and rebuilding the index.
#include <gtest/gtest.h>

#include "EngineTestSupport.h"
#include "format/RepositoryLayout.h"
#include "format/SignedFile.h"
#include "storage/ReadOnlyDestination.h"
#include <filesystem>
#include "support/TempFolder.h"
#include "storage/LocalFolderDestination.h"

namespace wm::test {
namespace {

class RepositoryOpening : public ::testing::Test {
protected:
    std::shared_ptr<InMemoryDestination> memory = std::make_shared<InMemoryDestination>();
    RepositoryKeys keys = makeKeys();
};

TEST_F(RepositoryOpening, CreateOnAnExistingRepositoryIsAlreadyExistsWhateverTheVersion) {
    createRepository(memory, keys);
    for (std::int64_t version : {1, 2, 7}) {
        try {
            createRepository(memory, keys, version);
            FAIL() << "created twice";
        } catch (const Repository::Error& e) {
            EXPECT_EQ(e, Repository::Error::alreadyExists());
        }
    }
}

TEST_F(RepositoryOpening, UnsupportedFormatVersionWritesNothing) {
    for (std::int64_t version : {0, 3}) {
        try {
            createRepository(memory, keys, version);
            FAIL() << "version " << version << " accepted";
        } catch (const RepositoryConfig::Error& e) {
            EXPECT_EQ(e, RepositoryConfig::Error::unsupportedVersion(version, RepositoryFormat::supportedVersions));
        }
        EXPECT_TRUE(memory->files().empty());
    }
}

TEST_F(RepositoryOpening, FormatVersionChoosesTheBlobSealing) {
    for (auto [version, sealing] : {std::pair{std::int64_t{1}, BlobCipher::Sealing::fixedNonce},
                                    std::pair{std::int64_t{2}, BlobCipher::Sealing::nonceFromStoredBytes}}) {
        auto destination = std::make_shared<InMemoryDestination>();
        auto created = createRepository(destination, keys, version);
        EXPECT_EQ(created->cipher().sealing(), sealing);
        const auto id = commitFile(*created, {randomBytes(5000, 1)});
        auto opened = openRepository(destination, keys);
        EXPECT_EQ(opened.repository->cipher().sealing(), sealing);
        EXPECT_EQ(readWhole(*opened.repository, id), 5000u);
    }
}

TEST_F(RepositoryOpening, CreateWritesConfigHeadAndDriveFiles) {
    auto repository = createRepository(memory, keys);
    const auto files = memory->files();
    EXPECT_TRUE(files.count("wendlemarsh.repo"));
    EXPECT_TRUE(files.count("refs/head"));
    EXPECT_TRUE(files.count("Read Me First.txt"));
    const auto config = RepositoryConfig::decode(files.at("wendlemarsh.repo"));
    EXPECT_EQ(config.createdBy, "WendleMarsh/9.9.9 (" + Repository::hostPlatform() + ")");
    EXPECT_EQ(config.createdAt, fixedNow().repositoryPrecision());
    EXPECT_FALSE(config.kdf.has_value());
    const auto head = SignedFile::open<HeadRecord>(files.at("refs/head"), keys, repository->cipher());
    EXPECT_EQ(head.counter, 0u);
    EXPECT_TRUE(head.snapshots.empty());
    EXPECT_EQ(head.writerDeviceID, testDevice().data());
}

// A creation that fails after its first write must not leave a half-made repository that
// refuses to be created again.
TEST_F(RepositoryOpening, CreationThatFailsPartWayCanBeRunAgain) {
    const auto fullCount = [&] {
        auto probe = std::make_shared<FaultyDestination>(std::make_shared<InMemoryDestination>());
        createRepository(probe, keys);
        return probe->mutatingCallCount();
    }();
    ASSERT_GE(fullCount, 6);
    for (std::int64_t n = 1; n <= fullCount; ++n) {
        auto inner = std::make_shared<InMemoryDestination>();
        auto faulty = std::make_shared<FaultyDestination>(inner);
        faulty->failMutation(n, DestinationError::outOfSpace(100, 0));
        try {
            createRepository(faulty, keys);
        } catch (const DestinationError&) {
        }
        faulty->clearFaults();
        if (!inner->files().count("wendlemarsh.repo")) {
            EXPECT_NO_THROW(createRepository(faulty, keys)) << "failure at mutation " << n;
        }
        // Whatever happened, what is there now opens (or there is nothing).
        auto opened = openRepository(inner, keys);
        EXPECT_EQ(opened.repository->counter(), 0u) << n;
    }
}

// A repository whose config file went missing (deleted by hand, not yet synced down) still
// holds its head and its snapshots: creating over it would replace the head with an empty
// one and drop every snapshot from it.
TEST_F(RepositoryOpening, CreateOverARepositoryWithoutItsConfigLeavesItsHeadAlone) {
    auto repository = createRepository(memory, keys);
    const auto id = commitFile(*repository, {randomBytes(3000, 1)});
    const Bytes head = memory->files().at("refs/head");
    memory->remove(RepositoryLayout::configFile());

    for (const char* keep : {"snapshots", "packs", "index"}) {
        // Whichever of the three is left, the folder is recognised as holding a repository.
        auto copy = std::make_shared<InMemoryDestination>();
        for (const auto& [path, bytes] : memory->files()) {
            const bool data = path.rfind("snapshots/", 0) == 0 || path.rfind("packs/", 0) == 0 ||
                              path.rfind("index/", 0) == 0;
            if (!data || path.rfind(std::string(keep) + "/", 0) == 0) copy->put(*RepoPath::parse(path), bytes);
        }
        try {
            createRepository(copy, makeKeys());
            FAIL() << "created over a repository holding " << keep;
        } catch (const Repository::Error& e) {
            EXPECT_EQ(e, Repository::Error::alreadyExists());
        }
        EXPECT_EQ(copy->files().at("refs/head"), head) << keep;
        EXPECT_FALSE(copy->files().count("wendlemarsh.repo")) << keep;
    }

    // The config put back, the repository opens as it was.
    memory->put(RepositoryLayout::configFile(), repository->config().encoded());
    auto opened = openRepository(memory, keys, Repository::Access::readOnly);
    EXPECT_EQ(opened.repository->snapshotIDs(), std::vector<SnapshotID>{id});
    EXPECT_EQ(readWhole(*opened.repository, id), 3000u);
}

TEST_F(RepositoryOpening, OpenReportsTheHeadVerdictButNeverStops) {
    createRepository(memory, keys);
    EXPECT_EQ(openRepository(memory, keys).verdict, HeadVerdict::advanced(0, 0));
    EXPECT_EQ(openRepository(memory, keys, Repository::Access::readOnly, 0).verdict, HeadVerdict::unchanged(0));
    auto rolledBack = openRepository(memory, keys, Repository::Access::readOnly, 5);
    EXPECT_EQ(rolledBack.verdict, HeadVerdict::rollbackSuspected(0, 5));
    EXPECT_EQ(rolledBack.repository->counter(), 0u);
}

TEST_F(RepositoryOpening, ReadOnlyOpenLeavesTmpAloneAndRefusesWrites) {
    createRepository(memory, keys);
    memory->put(RepositoryLayout::temporary(UUID::random()), "debris");
    auto readOnly = openRepository(memory, keys, Repository::Access::readOnly);
    EXPECT_EQ(filesUnder(*memory, "tmp").size(), 1u);
    readOnly.repository->store(randomBytes(100, 3), BlobType::data);
    EXPECT_THROW(readOnly.repository->commit(BlobID{}, {}, {}, {}, "x", {}, std::nullopt, fixedNow()),
                 ReadOnlyDestination::Error);
    EXPECT_EQ(readOnly.repository->counter(), 0u);

    openRepository(memory, keys, Repository::Access::readWrite);
    EXPECT_TRUE(filesUnder(*memory, "tmp").empty());
}

TEST_F(RepositoryOpening, HeadMissingIsItsOwnError) {
    createRepository(memory, keys);
    memory->remove(RepositoryLayout::head());
    try {
        openRepository(memory, keys);
        FAIL();
    } catch (const Repository::Error& e) {
        EXPECT_EQ(e, Repository::Error::headMissing());
    }
}

TEST_F(RepositoryOpening, IndexFolderWithoutIndexFilesIsRebuiltFromPacks) {
    auto repository = createRepository(memory, keys);
    const auto id = commitFile(*repository, {randomBytes(3000, 1), randomBytes(4000, 2)});
    for (const auto& path : filesUnder(*memory, "index")) memory->remove(*RepoPath::parse(path));
    memory->put(*RepoPath::parse("index/notes.txt"), "not an index");
    memory->put(*RepoPath::parse("packs/stray.txt"), "a plain file in packs");
    auto opened = openRepository(memory, keys, Repository::Access::readOnly);
    EXPECT_EQ(opened.repository->blobCount(), 3u);
    EXPECT_EQ(readWhole(*opened.repository, id), 7000u);
}

TEST_F(RepositoryOpening, AllIndexFilesDamagedGivesTheSameIndexRebuilt) {
    auto repository = createRepository(memory, keys);
    commitFile(*repository, {randomBytes(3000, 1)}, "a");
    commitFile(*repository, {randomBytes(3000, 2), randomBytes(100, 3)}, "b");
    const auto original = openRepository(memory, keys).repository->withIndex([](const CompactIndex& i) { return i; });
    ASSERT_EQ(original.blobCount(), 5u);

    for (const auto& path : filesUnder(*memory, "index")) {
        Bytes bytes = memory->files().at(path);
        bytes[bytes.size() / 2] ^= 0x40;
        memory->put(*RepoPath::parse(path), bytes);
    }
    auto reopened = openRepository(memory, keys, Repository::Access::readOnly);
    reopened.repository->withIndex([&](const CompactIndex& rebuilt) { EXPECT_EQ(rebuilt, original); });
    EXPECT_EQ(reopened.repository->rebuildIndexFromPacks(), original);
}

// Rebuilding reads each pack in bounded pieces: a pack file, or a large stray file named
// like one, never has to fit in memory whole.
TEST_F(RepositoryOpening, RebuildReadsPacksInBoundedPieces) {
    auto repository = createRepository(memory, keys);
    commitFile(*repository, {randomBytes(3 << 20, 1), randomBytes(2 << 20, 2)});
    const auto original = openRepository(memory, keys).repository->withIndex([](const CompactIndex& i) { return i; });
    for (const auto& path : filesUnder(*memory, "index")) memory->remove(*RepoPath::parse(path));
    PackID stray;
    stray.bytes.fill(0x5A);
    memory->put(RepositoryLayout::pack(stray), randomBytes(5 << 20, 3));

    auto faulty = std::make_shared<FaultyDestination>(memory);
    auto opened = openRepository(faulty, keys, Repository::Access::readOnly);
    opened.repository->withIndex([&](const CompactIndex& rebuilt) { EXPECT_EQ(rebuilt, original); });
    std::size_t packReads = 0;
    for (const auto& call : faulty->calls()) {
        if (call.path.string().rfind("packs/", 0) != 0) continue;
        if (call.operation != FaultyDestination::Operation::read &&
            call.operation != FaultyDestination::Operation::readInto)
            continue;
        ++packReads;
        ASSERT_TRUE(call.range.has_value()) << "a pack was read whole: " << call.path.string();
        EXPECT_LE(call.range->count(), std::int64_t{4} << 20) << call.path.string();
    }
    EXPECT_GT(packReads, 2u);
}

// One damaged index file among readable ones must not hide the blobs it listed.
TEST_F(RepositoryOpening, DamagedIndexFileDoesNotHideItsPacks) {
    auto repository = createRepository(memory, keys);
    const auto first = commitFile(*repository, {randomBytes(3000, 1)}, "a");
    const auto indexFilesBefore = filesUnder(*memory, "index");
    const auto second = commitFile(*repository, {randomBytes(3000, 2)}, "b");
    std::string secondIndex;
    for (const auto& path : filesUnder(*memory, "index")) {
        if (std::find(indexFilesBefore.begin(), indexFilesBefore.end(), path) == indexFilesBefore.end())
            secondIndex = path;
    }
    ASSERT_FALSE(secondIndex.empty());
    memory->put(*RepoPath::parse(secondIndex), "garbage, not sealed");

    auto opened = openRepository(memory, keys, Repository::Access::readOnly);
    EXPECT_EQ(opened.repository->blobCount(), 4u);
    EXPECT_EQ(readWhole(*opened.repository, first), 3000u);
    EXPECT_EQ(readWhole(*opened.repository, second), 3000u);
}

TEST_F(RepositoryOpening, UnreadableIndexFileFailsTheOpening) {
    auto repository = createRepository(memory, keys);
    commitFile(*repository, {randomBytes(1000, 1)});
    auto faulty = std::make_shared<FaultyDestination>(memory);
    faulty->failCalls("index/*", DestinationError::ioFailed(RepoPath(), "device error"),
                      {FaultyDestination::Operation::read});
    EXPECT_THROW(openRepository(faulty, keys, Repository::Access::readOnly), DestinationError);
}

TEST_F(RepositoryOpening, OpensRightAfterCreateAndEmptyShardFoldersAreNoPacks) {
    createRepository(memory, keys);
    EXPECT_TRUE(openRepository(memory, keys).repository->snapshotIDs().empty());
    memory->put(*RepoPath::parse("packs/ab/x"), "x");
    memory->remove(*RepoPath::parse("packs/ab/x"));
    auto opened = openRepository(memory, keys, Repository::Access::readOnly);
    EXPECT_EQ(opened.repository->blobCount(), 0u);
}

// Thousands of small index files: the reservation follows what the files hold, not a fixed
// number of entries per file.
TEST_F(RepositoryOpening, ManySmallIndexFilesOpenInBoundedMemory) {
    auto repository = createRepository(memory, keys);
    const BlobCipher& cipher = repository->cipher();
    const std::size_t files = 3000;
    for (std::size_t f = 0; f < files; ++f) {
        PackID pack;
        pack.bytes.fill(0);
        pack.bytes[0] = static_cast<std::uint8_t>(f);
        pack.bytes[1] = static_cast<std::uint8_t>(f >> 8);
        BlobID blob;
        blob.bytes.fill(0);
        blob.bytes[0] = static_cast<std::uint8_t>(f);
        blob.bytes[1] = static_cast<std::uint8_t>(f >> 8);
        const IndexFile::Section section{pack, {PackFile::Entry{blob, BlobType::data, 8, 100}}};
        memory->put(RepositoryLayout::index(UUID::random()), cipher.sealMetadata(IndexFile::encode({section})));
    }
    auto opened = openRepository(memory, keys, Repository::Access::readOnly);
    EXPECT_EQ(opened.repository->blobCount(), files);
    const std::size_t bytes = opened.repository->withIndex([](const CompactIndex& i) { return i.memoryBytes(); });
    EXPECT_LT(bytes, 2'000'000u) << "index takes " << bytes << " bytes for " << files << " blobs";
}

// An index file that claims far more than any commit writes (here a sparse file of 1 TiB) is
// passed over before anything is read or reserved for it, and its packs are indexed from the
// pack files.
TEST_F(RepositoryOpening, AnIndexFileOfImplausibleSizeIsPassedOver) {
    TempFolder folder("wm-huge-index");
    auto local = std::make_shared<LocalFolderDestination>(DestinationID::random(), DestinationKind::localFolder(),
                                                          folder.path(), std::nullopt,
                                                          LocalFolderDestination::Preparation::readingOnly());
    auto repository = createRepository(local, keys);
    const SnapshotID id = commitFile(*repository, {randomBytes(5000, 1), randomBytes(7000, 2)});
    for (const auto& path : local->list(RepositoryLayout::indexDirectory()))
        std::filesystem::resize_file(folder.path() / path.string(), std::uintmax_t{1} << 40);

    auto opened = openRepository(local, keys, Repository::Access::readOnly);
    EXPECT_EQ(readWhole(*opened.repository, id), 12000u);
}

}  // namespace
}  // namespace wm::test
