// Restores of what the engine sealed, packed and committed: a file of several blobs comes back
// whole, and a blob damaged on disk, or sealed with a frame that lies, fails its file with the
// sentence for damage.
#include "crypto/CryptoTestSupport.h"
#include "format/PackWriter.h"
#include "format/RepositoryLayout.h"
#include "restore/RestoreTestSupport.h"
#include "support/EngineTestSupport.h"

namespace wm {
namespace {

namespace fs = std::filesystem;
using namespace test;

TEST(RepositoryRestore, WholeFilesAndADamagedBlob) {
    Sandbox box;
    auto memory = std::make_shared<InMemoryDestination>();
    const RepositoryKeys keys = makeKeys();
    auto repository = createRepository(memory, keys);
    const Bytes big = randomBytes(3'000'000, 1);
    const auto whole =
        commitFile(*repository,
                   {Bytes(big.begin(), big.begin() + 1'000'000), Bytes(big.begin() + 1'000'000, big.end())}, "big.bin");
    const auto victim = commitFile(*repository, {bytesOf("victim content")}, "victim");
    const auto location = repository->withIndex(
        [&](const CompactIndex& i) { return *i.location(repository->cipher().identity(bytesOf("victim content"))); });
    auto faulty = std::make_shared<FaultyDestination>(memory);
    faulty->flipBitOnRead("packs/*/" + location.pack.hex() + ".pack",
                          static_cast<std::int64_t>(location.entry.offset + 20) * 8 + 1);
    auto damaged = openRepository(faulty, keys, Repository::Access::readOnly).repository;

    auto r = RestoreCoordinator().restore(whole, *damaged, box.target() / "new" / "folder", {});
    EXPECT_TRUE(r.isComplete());
    EXPECT_EQ(stringOf(box.readFile(box.target() / "new/folder/big.bin")), stringOf(big));
    r = RestoreCoordinator().restore(victim, *damaged, box.target() / "v", {});
    EXPECT_EQ(failureReasons(r), Strings{test::damaged});
    EXPECT_FALSE(fs::exists(box.target() / "v/victim"));
    EXPECT_ANY_THROW(RestoreCoordinator().restore(SnapshotID::random(), *damaged, box.target() / "never", {}));
    EXPECT_FALSE(fs::exists(box.target() / "never"));
}

// A blob only a key holder could seal, whose frame states 1 GiB over 23 bytes of LZFSE: a file
// naming it fails with the sentence for damage, and the frame is refused before anyone is told
// of the length it states, let alone makes room for it.
TEST(RepositoryRestore, ACompressedBlobStatingMoreThanItsStreamGivesIsDamaged) {
    Sandbox box;
    auto memory = std::make_shared<InMemoryDestination>();
    const RepositoryKeys keys = makeKeys();
    auto repository = createRepository(memory, keys);
    const BlobID bomb = repository->cipher().identity(bytesOf("bomb"));
    const Bytes stream = bytesOf(std::string_view("bvx-\x0b\0\0\0eleven bytebvx$", 23));
    PackWriter writer(repository->cipher());
    writer.addSealed(
        bomb, BlobType::data,
        testing::sealRawFrame(keys, testing::frame(1, BlobCompression::maximumLength, stream), bomb, BlobType::data));
    const auto pack = writer.finish();
    Repository::write(pack.bytes, RepositoryLayout::pack(pack.id), *memory);
    Repository::write(repository->cipher().sealMetadata(IndexFile::encode({{pack.id, pack.entries}})),
                      RepositoryLayout::index(UUID::random()), *memory);
    const Bytes tree = TreeObject::encode({fileEntry("a", {bomb}, BlobCompression::maximumLength)});
    const SnapshotID snapshot = commitRoot(*repository, repository->store(tree, BlobType::tree).id);
    auto reopened = openRepository(memory, keys, Repository::Access::readOnly).repository;

    std::vector<std::uint64_t> told;
    Bytes buffer;
    EXPECT_EQ(test::thrown<BlobCompression::Error>([&] {
                  reopened->blob(bomb, buffer, [&](std::uint64_t length) { told.push_back(length); });
              }).kind,
              BlobCompression::Error::Kind::couldNotDecompress);
    EXPECT_EQ(told, std::vector<std::uint64_t>{});
    const auto r = RestoreCoordinator().restore(snapshot, *reopened, box.target(), {});
    EXPECT_EQ(std::pair(failurePaths(r), failureReasons(r)), std::pair(Strings{"a"}, Strings{test::damaged}));
}

}  // namespace
}  // namespace wm
