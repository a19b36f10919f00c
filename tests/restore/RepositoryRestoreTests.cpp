// A restore of blobs sealed, packed and committed by the engine.
#include <random>

#include "crypto/SymmetricKey.h"
#include "engine/Repository.h"
#include "format/RepositoryPresentation.h"
#include "restore/RestoreTestSupport.h"
#include "support/FaultyDestination.h"
#include "support/InMemoryDestination.h"

namespace wm {
namespace {

namespace fs = std::filesystem;
using namespace test;

RepositoryKeys makeKeys() {
    RepositoryID id;
    id.bytes = SymmetricKey::random().bytes;
    return RepositoryKeys(SymmetricKey::random(), id);
}

Bytes noise(std::size_t size) {
    std::mt19937 random(1);
    Bytes out(size);
    for (auto& b : out) b = static_cast<std::uint8_t>(random());
    return out;
}

class RepositoryRestoreTest : public ::testing::Test {
protected:
    Sandbox box;
    std::shared_ptr<test::InMemoryDestination> memory = std::make_shared<test::InMemoryDestination>();
    RepositoryKeys keys = makeKeys();
    Bytes big = noise(3'000'000);
    DeviceID device = DeviceID::fromBytes(Bytes(16, 0x5E)).value();
    Bytes small = bytesOf("small file\n");
    BlobID victim;
    SnapshotID snapshot;

    void SetUp() override {
        auto repository = Repository::create(memory, keys, device, "0.1.3", std::nullopt, 2, Date::repositoryNow());
        std::vector<Bytes> chunks = {Bytes(big.begin(), big.begin() + 1'000'000),
                                     Bytes(big.begin() + 1'000'000, big.end())};
        std::vector<BlobID> bigBlobs;
        for (const auto& stored : repository->storeChunks(chunks, BlobType::data)) bigBlobs.push_back(stored.id);
        victim = repository->store(bytesOf("victim content"), BlobType::data).id;
        const BlobID smallBlob = repository->store(small, BlobType::data).id;

        auto hole = fileEntry("sparse", {repository->store(bytesOf("abc"), BlobType::data).id}, 1 << 20);
        hole.sparseRanges = std::vector<TreeObject::SparseRange>{{3, (1 << 20) - 3}};
        const BlobID inner = repository->store(
            TreeObject::encode({fileEntry("big.bin", bigBlobs, big.size()), fileEntry("victim", {victim}, 14), hole}),
            BlobType::tree).id;
        const BlobID root = repository->store(
            TreeObject::encode({dirEntry("data", inner), fileEntry("small.txt", {smallBlob}, small.size()),
                                linkEntry("link", "data/big.bin")}),
            BlobType::tree).id;
        snapshot = repository->commit({root, {SnapshotSource{bytesOf("/home/me"), SnapshotSource::Kind::folder}},
                                      SnapshotStats{}, {}, "test", {}, std::nullopt, Date::repositoryNow()});
    }

    std::shared_ptr<Repository> openReadOnly(std::shared_ptr<Destination> destination) {
        return Repository::open(destination, keys, device, "0.1.3", std::nullopt, Repository::Access::readOnly)
            .repository;
    }
};

TEST_F(RepositoryRestoreTest, RestoresWhatTheEngineStored) {
    auto repository = openReadOnly(memory);
    auto r = RestoreCoordinator().restore(snapshot, *repository, box.target() / "new" / "folder", {});
    ASSERT_TRUE(r.isComplete()) << r.failures.front().path << ": " << r.failures.front().reason;
    EXPECT_EQ(counts(r), "files=4 hardlinks=0 folders=1 symlinks=1");
    const fs::path t = box.target() / "new" / "folder";
    EXPECT_EQ(Sandbox::readFile(t / "data/big.bin"), stringOf(big));
    EXPECT_EQ(Sandbox::readFile(t / "small.txt"), stringOf(small));
    EXPECT_EQ(Sandbox::readFile(t / "data/victim"), "victim content");
    EXPECT_EQ(fs::file_size(t / "data/sparse"), 1u << 20);
    EXPECT_EQ(fs::read_symlink(t / "link"), "data/big.bin");
    EXPECT_ANY_THROW(RestoreCoordinator().restore(SnapshotID::random(), *repository, box.target() / "never", {}));
    EXPECT_FALSE(fs::exists(box.target() / "never"));
}

TEST_F(RepositoryRestoreTest, DamagedBlobFailsOnlyItsFileWithTheRepositorySentence) {
    const auto location = openReadOnly(memory)->withIndex([&](const CompactIndex& i) { return *i.location(victim); });
    auto faulty = std::make_shared<test::FaultyDestination>(memory);
    faulty->flipBitOnRead("packs/*", static_cast<std::int64_t>(location.entry.offset + 20) * 8 + 1);
    auto repository = openReadOnly(faulty);
    auto r = RestoreCoordinator().restore(snapshot, *repository, box.target(), {});
    ASSERT_EQ(r.failures.size(), 1u);
    EXPECT_EQ(r.failures[0].path, "data/victim");
    EXPECT_EQ(r.failures[0].reason, damaged);
    EXPECT_FALSE(fs::exists(box.target() / "data/victim"));
    EXPECT_EQ(counts(r), "files=3 hardlinks=0 folders=1 symlinks=1");
}

}  // namespace
}  // namespace wm
