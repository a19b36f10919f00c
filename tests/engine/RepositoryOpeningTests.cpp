// Creating and opening repositories, loading and rebuilding the index.
#include <filesystem>
#include <map>
#include <stdexcept>

#include <gtest/gtest.h>

#include "core/RepositoryLock.h"
#include "crypto/KeyFile.h"
#include "crypto/RecoveryKey.h"
#include "engine/KeyFiles.h"
#include "format/RepositoryLayout.h"
#include "storage/LocalFolderDestination.h"
#include "support/EngineTestSupport.h"
#include "support/TempFolder.h"

namespace wm::test {
namespace {

class RepositoryOpening : public ::testing::Test {
protected:
    std::shared_ptr<InMemoryDestination> memory = std::make_shared<InMemoryDestination>();
    RepositoryKeys keys = makeKeys();

    CompactIndex currentIndex() {
        return openRepository(memory, keys).repository->withIndex([](const CompactIndex& i) { return i; });
    }
};

TEST_F(RepositoryOpening, CreateRefusesUnknownVersionsAndAnExistingRepository) {
    for (std::int64_t version : {0, 3})
        EXPECT_EQ(thrown<RepositoryConfig::Error>([&] { createRepository(memory, keys, version); }),
                  RepositoryConfig::Error::unsupportedVersion(version, RepositoryFormat::supportedVersions));
    EXPECT_TRUE(memory->files().empty());
    createRepository(memory, keys);
    EXPECT_EQ(thrown<Repository::Error>([&] { createRepository(memory, keys, 1); }),
              Repository::Error::alreadyExists());
}

// A creation that fails after its first write leaves nothing that refuses a second creation.
TEST_F(RepositoryOpening, CreationThatFailsPartWayCanBeRunAgain) {
    auto probe = std::make_shared<FaultyDestination>(std::make_shared<InMemoryDestination>());
    createRepository(probe, keys);
    const auto fullCount = probe->mutatingCallCount();
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
            EXPECT_NO_THROW(createRepository(faulty, keys)) << n;
        }
        EXPECT_EQ(openRepository(inner, keys).repository->counter(), 0u) << n;
    }
}

// A person's own file at a name a repository uses is never written over: creating there is
// refused and the folder stays byte for byte. What a creation cut short leaves is taken.
TEST_F(RepositoryOpening, CreateNeverWritesOverAPersonsFileAtARepositoryName) {
    const KeyFile leftoverKey =
        KeyFile::wrap(SymmetricKey::random(), RecoveryKey::generate(), keys.repositoryID, std::nullopt, fixedNow());
    const std::string lockRecord = stringOf(RepositoryJSON::encodeBytes(
        RepositoryLock{"Laptop", testDevice().hex(), fixedNow(), fixedNow()}.toJSON(), false));
    const auto another = std::make_shared<InMemoryDestination>();
    createRepository(another, makeKeys());
    for (const auto& [path, bytes] : std::vector<std::pair<std::string, std::string>>{
             {"refs/head", "my own notes"},
             {"refs/head", stringOf(another->files().at("refs/head"))},  // sealed: shows nothing of whose it is
             {"packs/photo.jpg", "a picture"},
             {"keys/mine.key", "not a key file"},
             {"keys/copy.txt", stringOf(leftoverKey.encoded())},  // a key file's bytes under another name
             {"snapshots/ab/c.snap", ""},
             {"writing.lock", "my lock notes"},
             {"writing.lock", lockRecord + std::string(70000, ' ')},  // past what a lock record takes
             {"Read Me First.txt", "my own read-me"},
             {"refs", "a file where the folder goes"}}) {
        auto destination = std::make_shared<InMemoryDestination>();
        destination->put(*RepoPath::parse(path), bytes);
        EXPECT_EQ(thrown<Repository::Error>([&] { createRepository(destination, keys); }),
                  Repository::Error::holdsOtherFiles())
            << path;
        EXPECT_EQ(destination->files(), (std::map<std::string, Bytes>{{path, bytesOf(bytes)}})) << path;
    }

    // Empty folders, "tmp" whatever it holds, the system's read-me, a lock record and key files;
    // names no repository uses are not the engine's to judge, and stay.
    const std::map<std::string, Bytes> leftovers = {
        {RepositoryLayout::key(leftoverKey.keyID).string(), leftoverKey.encoded()},
        {"writing.lock", bytesOf(lockRecord)},
        {"tmp/notes", bytesOf("a person's own")},
        {"tmp/sub/0123456789abcdef0123456789abcdef", bytesOf("x")},
        {"Read Me First.txt", bytesOf("WENDLE MARSH BACKUP\nold")},
        {"photos/a.jpg", bytesOf("kept")},
    };
    for (const auto& [path, bytes] : leftovers) memory->put(*RepoPath::parse(path), bytes);
    memory->put(*RepoPath::parse("packs/gone"), "x");
    memory->remove(*RepoPath::parse("packs/gone"));
    ASSERT_NO_THROW(createRepository(memory, keys));
    // A key file a creation cut short left opens nothing anyone keeps: it goes.
    const std::string leftoverKeyPath = RepositoryLayout::key(leftoverKey.keyID).string();
    EXPECT_FALSE(memory->files().count(leftoverKeyPath));
    for (const auto& [path, bytes] : leftovers)
        EXPECT_TRUE(path == "Read Me First.txt" || path == leftoverKeyPath || memory->files().at(path) == bytes)
            << path;
    EXPECT_EQ(openRepository(memory, keys).repository->counter(), 0u);
}

// A creation whose step before the head fails takes back only what it wrote, and nothing once
// the writing check fails. A person's file put where a key file or the config was stays, also
// one of the same size as what was written there; a config that is not this creation's stops
// the rest.
TEST_F(RepositoryOpening, ACreationTakesBackOnlyWhatItWrote) {
    const KeyFile keyFile = KeyFile::wrap(keys.master, RecoveryKey::generate(), keys.repositoryID, std::nullopt,
                                          fixedNow().repositoryPrecision());
    const std::string keyPath = RepositoryLayout::key(keyFile.keyID).string();
    const auto failing = [&](std::function<void()> step, Repository::WritingCheck check = {}) {
        memory = std::make_shared<InMemoryDestination>();
        EXPECT_THROW(Repository::create(memory, keys, testDevice(), "1", std::nullopt, 2, fixedNow(), {keyFile},
                                        {std::move(check), std::move(step)}),
                     std::runtime_error);
    };
    bool lost = false;
    failing([&] { lost = true, throw std::runtime_error("not kept"); },
            [&] {
                if (lost) throw std::runtime_error("lock lost");
            });
    EXPECT_TRUE(memory->files().count("wendlemarsh.repo") && memory->files().count(keyPath));
    failing([] { throw std::runtime_error("not kept"); });
    EXPECT_TRUE(memory->files().empty());

    for (const std::string& replaced : {keyPath, std::string("wendlemarsh.repo")})
        for (const bool sameSize : {false, true}) {
            Bytes persons;
            failing([&] {
                persons = sameSize ? memory->files().at(replaced) : bytesOf("a person's own");
                if (sameSize) persons.back() ^= 1;
                memory->put(*RepoPath::parse(replaced), persons);
                throw std::runtime_error("not kept");
            });
            EXPECT_EQ(memory->files().at(replaced), persons) << replaced;
            EXPECT_EQ(memory->files().size(), replaced == keyPath ? 1u : 2u) << replaced;
        }
}

// A creation that stopped before its head is a config without a head or data beside it; it is
// finished only with its own keys and taken back only as its own repository, and a repository
// whose head went missing is neither.
TEST_F(RepositoryOpening, AnUnfinishedCreationIsFinishedOrTakenBackOnlyAsItsOwn) {
    commitFile(*createRepository(memory, keys), {randomBytes(300, 1)});
    const Bytes config = memory->files().at("wendlemarsh.repo");
    memory->remove(RepositoryLayout::head());
    auto unfinished = std::make_shared<InMemoryDestination>();
    unfinished->put(RepositoryLayout::configFile(), config);
    EXPECT_FALSE(Repository::unfinishedCreation(*memory));
    ASSERT_TRUE(Repository::unfinishedCreation(*unfinished));

    const RepositoryKeys other = makeKeys();
    const auto finish = [](auto destination, const RepositoryKeys& with) {
        return [=] { Repository::finishCreation(destination, with, testDevice(), "1", fixedNow(), {}); };
    };
    const auto withdraw = [](auto destination, const RepositoryKeys& with) {
        return [=] { Repository::withdrawUnfinishedCreation(*destination, with.repositoryID); };
    };
    EXPECT_EQ(thrown<Repository::Error>(finish(memory, keys)), Repository::Error::alreadyExists());
    EXPECT_EQ(thrown<Repository::Error>(withdraw(memory, keys)), Repository::Error::alreadyExists());
    EXPECT_EQ(thrown<KeyFile::Error>(finish(unfinished, other)).kind, KeyFile::Error::Kind::wrongKey);
    EXPECT_EQ(thrown<Repository::Error>(withdraw(unfinished, other)), Repository::Error::alreadyExists());
    EXPECT_EQ(unfinished->files().size(), 1u);
    withdraw(unfinished, keys)();
    EXPECT_TRUE(unfinished->files().empty());
}

// A repository whose config went missing still holds its snapshots: creating over it would
// replace its head with an empty one, whichever of its data folders is left.
TEST_F(RepositoryOpening, CreateOverARepositoryWithoutItsConfigLeavesItsHeadAlone) {
    auto repository = createRepository(memory, keys);
    commitFile(*repository, {randomBytes(3000, 1)});
    const Bytes head = memory->files().at("refs/head");
    memory->remove(RepositoryLayout::configFile());
    for (const std::string keep : {"snapshots/", "packs/", "index/"}) {
        auto copy = std::make_shared<InMemoryDestination>();
        for (const auto& [path, bytes] : memory->files()) {
            const bool data =
                path.starts_with("snapshots/") || path.starts_with("packs/") || path.starts_with("index/");
            if (!data || path.starts_with(keep)) copy->put(*RepoPath::parse(path), bytes);
        }
        EXPECT_EQ(thrown<Repository::Error>([&] { createRepository(copy, makeKeys()); }),
                  Repository::Error::alreadyExists());
        EXPECT_EQ(copy->files().at("refs/head"), head) << keep;
        EXPECT_FALSE(copy->files().count("wendlemarsh.repo")) << keep;
    }
}

TEST_F(RepositoryOpening, RollbackIsReportedAndReadOnlyWritesNothing) {
    createRepository(memory, keys);
    memory->put(RepositoryLayout::temporary(UUID::random()), "debris");
    auto rolledBack = openRepository(memory, keys, Repository::Access::readOnly, 5);
    EXPECT_EQ(rolledBack.verdict, HeadVerdict::rollbackSuspected(0, 5));
    EXPECT_EQ(filesUnder(*memory, "tmp").size(), 1u);
    // Opening to write leaves "tmp" to the holder of the writing lock: it may be another
    // writer's pending pack.
    auto writing = openRepository(memory, keys).repository;
    EXPECT_EQ(filesUnder(*memory, "tmp").size(), 1u);
    // Cleared only once the writing check passes; a listing that fails leaves it as it is.
    writing->setWritingCheck([] { throw std::runtime_error("lock lost"); });
    EXPECT_THROW(writing->discardCrashDebris(), std::runtime_error);
    EXPECT_EQ(filesUnder(*memory, "tmp").size(), 1u);
    const auto faulty = std::make_shared<FaultyDestination>(memory);
    faulty->failCalls("tmp", DestinationError::ioFailed(RepositoryLayout::tmpDirectory(), "EIO"),
                      {FaultyDestination::Operation::list});
    EXPECT_NO_THROW(openRepository(faulty, keys).repository->discardCrashDebris());
    EXPECT_EQ(filesUnder(*memory, "tmp").size(), 1u);
    writing->setWritingCheck({});
    writing->discardCrashDebris();
    EXPECT_TRUE(filesUnder(*memory, "tmp").empty());
    memory->remove(RepositoryLayout::head());
    EXPECT_EQ(thrown<Repository::Error>([&] { openRepository(memory, keys); }), Repository::Error::headMissing());
}

// Index files removed or all damaged, stray files beside them: the index rebuilt from the packs
// equals the original.
TEST_F(RepositoryOpening, MissingOrDamagedIndexFilesGiveTheSameIndexRebuilt) {
    for (const bool remove : {true, false}) {
        memory = std::make_shared<InMemoryDestination>();
        auto repository = createRepository(memory, keys);
        const auto a = commitFile(*repository, {randomBytes(3000, 1), randomBytes(100, 3)});
        const auto original = currentIndex();
        for (const auto& path : filesUnder(*memory, "index")) {
            Bytes bytes = memory->files().at(path);
            bytes[bytes.size() / 2] ^= 0x40;
            if (remove)
                memory->remove(*RepoPath::parse(path));
            else
                memory->put(*RepoPath::parse(path), bytes);
        }
        memory->put(*RepoPath::parse("index/notes.txt"), "not an index");
        memory->put(*RepoPath::parse("packs/stray.txt"), "a plain file in packs");
        auto reopened = openRepository(memory, keys, Repository::Access::readOnly);
        reopened.repository->withIndex([&](const CompactIndex& rebuilt) { EXPECT_EQ(rebuilt, original) << remove; });
        EXPECT_EQ(readWhole(*reopened.repository, a), 3100u);
    }
}

// Rebuilding reads each pack in bounded pieces, even a large stray file named like a pack.
TEST_F(RepositoryOpening, RebuildReadsPacksInBoundedPieces) {
    auto repository = createRepository(memory, keys);
    commitFile(*repository, {randomBytes(3 << 20, 1), randomBytes(2 << 20, 2)});
    const auto original = currentIndex();
    for (const auto& path : filesUnder(*memory, "index")) memory->remove(*RepoPath::parse(path));
    memory->put(RepositoryLayout::pack(*PackID::fromBytes(Bytes(32, 0x5A))), randomBytes(5 << 20, 3));

    auto faulty = std::make_shared<FaultyDestination>(memory);
    auto opened = openRepository(faulty, keys, Repository::Access::readOnly);
    opened.repository->withIndex([&](const CompactIndex& rebuilt) { EXPECT_EQ(rebuilt, original); });
    EXPECT_GT(packReads(*faulty), 2u);
    using Op = FaultyDestination::Operation;
    for (const auto& call : faulty->calls()) {
        if (call.path.string().starts_with("packs/") &&
            (call.operation == Op::read || call.operation == Op::readInto)) {
            EXPECT_LE(call.range.value().count(), std::int64_t{4} << 20) << call.path.string();
        }
    }
}

// One damaged index file among readable ones must not hide the blobs it listed; an index
// file that cannot be read at all fails the opening.
TEST_F(RepositoryOpening, DamagedIndexFileDoesNotHideItsPacksButAReadErrorFails) {
    auto repository = createRepository(memory, keys);
    commitFile(*repository, {randomBytes(3000, 1)}, "a");
    const auto before = filesUnder(*memory, "index");
    const auto second = commitFile(*repository, {randomBytes(3000, 2)}, "b");
    for (const auto& path : filesUnder(*memory, "index"))
        if (std::find(before.begin(), before.end(), path) == before.end())
            memory->put(*RepoPath::parse(path), "garbage, not sealed");
    EXPECT_EQ(readWhole(*openRepository(memory, keys, Repository::Access::readOnly).repository, second), 3000u);
    auto faulty = std::make_shared<FaultyDestination>(memory);
    faulty->failCalls("index/*", DestinationError::ioFailed(RepoPath(), "device error"),
                      {FaultyDestination::Operation::read});
    EXPECT_THROW(openRepository(faulty, keys, Repository::Access::readOnly), DestinationError);
}

// An index file far larger than any commit writes (a sparse 1 TiB file) is passed over
// before it is read, and its packs are indexed from the pack files.
TEST_F(RepositoryOpening, AnIndexFileOfImplausibleSizeIsPassedOver) {
    TempFolder folder("wm-huge-index");
    auto local =
        std::make_shared<LocalFolderDestination>(DestinationID::random(), DestinationKind::localFolder(), folder.path(),
                                                 std::nullopt, LocalFolderDestination::Preparation::readingOnly());
    auto repository = createRepository(local, keys);
    const SnapshotID id = commitFile(*repository, {randomBytes(5000, 1), randomBytes(7000, 2)});
    for (const auto& path : local->list(RepositoryLayout::indexDirectory()))
        std::filesystem::resize_file(folder.path() / path.string(), std::uintmax_t{1} << 40);
    EXPECT_EQ(readWhole(*openRepository(local, keys, Repository::Access::readOnly).repository, id), 12000u);
}

// An index entry whose end does not fit a file position is refused before any read.
TEST_F(RepositoryOpening, EntryRangeThatOverflowsIsRefusedBeforeReading) {
    auto repository = createRepository(memory, keys);
    const BlobID blob = *BlobID::fromBytes(Bytes(32, 9));
    const PackFile::Entry entry{blob, BlobType::data, static_cast<std::uint64_t>(INT64_MAX) - 10, 100};
    memory->put(RepositoryLayout::index(UUID::random()),
                repository->cipher().sealMetadata(IndexFile::encode({{*PackID::fromBytes(Bytes(32, 7)), {entry}}})));
    auto faulty = std::make_shared<FaultyDestination>(memory);
    auto opened = openRepository(faulty, keys, Repository::Access::readOnly);
    faulty->clearLog();
    EXPECT_EQ(thrown<PackFile::Error>([&] { opened.repository->blob(blob); }).kind,
              PackFile::Error::Kind::blobRangeOutOfBounds);
    EXPECT_TRUE(faulty->calls().empty());
}

}  // namespace
}  // namespace wm::test
