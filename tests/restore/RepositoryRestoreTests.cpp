// Restores of what the engine sealed, packed and committed: a file of several blobs comes back
// whole, and a blob damaged on disk fails its file with the sentence for damage.
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

}  // namespace
}  // namespace wm
