#include <gtest/gtest.h>

#include <algorithm>

#include "core/Hex.h"
#include "format/Fixtures.h"
#include "format/IndexRebuild.h"
#include "format/PackWriter.h"
#include "format/RepositoryLayout.h"
#include "support/FaultyDestination.h"
#include "support/InMemoryDestination.h"

namespace wm {
namespace {

struct Stored {
    PackID id;
    Bytes bytes;
    std::vector<PackFile::Entry> entries;
};

Stored makePack(const test::Repo& repo, std::initializer_list<std::string_view> blobs) {
    PackWriter w(repo.cipher);
    for (auto b : blobs) w.add(viewOf(b), BlobType::data);
    auto done = w.finish();
    return {done.id, std::move(done.bytes), std::move(done.entries)};
}

RepoPath path(std::string_view text) { return *RepoPath::parse(text); }

TEST(IndexRebuild, EmptyOrMissingPacksFolderGivesAnEmptyIndex) {
    test::Repo repo;
    auto dest = std::make_shared<test::InMemoryDestination>();
    EXPECT_EQ(rebuildIndex(*dest, repo.cipher).blobCount(), 0u);
    dest->put(path("packs/00/readme.txt"), "x");
    EXPECT_EQ(rebuildIndex(*dest, repo.cipher).blobCount(), 0u);
}

TEST(IndexRebuild, IndexesValidPacksAndPassesOverEverythingElse) {
    test::Repo repo;
    auto dest = std::make_shared<test::InMemoryDestination>();
    const Stored a = makePack(repo, {"alpha", "shared"});
    const Stored b = makePack(repo, {"beta"});
    const Stored damaged = makePack(repo, {"gamma"});
    const Stored misnamed = makePack(repo, {"delta"});
    dest->put(RepositoryLayout::pack(a.id), a.bytes);
    dest->put(RepositoryLayout::pack(b.id), b.bytes);
    Bytes flipped = damaged.bytes;
    flipped[flipped.size() / 2] ^= 1;
    dest->put(RepositoryLayout::pack(damaged.id), flipped);
    // Stored under another valid id: its hash does not match its name.
    dest->put(RepositoryLayout::pack(b.id).parent() / (a.id.hex() + ".pack"), misnamed.bytes);
    // Debris that is not a pack (which names are packs is pinned by the layout's tests), and plain files lying
    // directly in "packs", as desktops and file systems leave them.
    dest->put(path("packs/ab/" + a.id.hex() + ".pack.tmp"), "x");
    dest->put(path("packs/.DS_Store"), "x");
    dest->put(path("packs/Thumbs.db"), "x");

    const CompactIndex index = rebuildIndex(*dest, repo.cipher);
    const test::Repo& r = repo;
    for (auto name : {"alpha", "shared", "beta"})
        EXPECT_TRUE(index.contains(r.cipher.identity(viewOf(name)))) << name;
    for (auto name : {"gamma", "delta"}) EXPECT_FALSE(index.contains(r.cipher.identity(viewOf(name)))) << name;
    EXPECT_EQ(index.blobCount(), 3u);
    EXPECT_EQ(index.location(r.cipher.identity(viewOf("beta")))->pack, b.id);
    EXPECT_EQ(index.location(r.cipher.identity(viewOf("alpha")))->entry, a.entries[0]);
}

TEST(IndexRebuild, DestinationFailuresEndTheRebuild) {
    test::Repo repo;
    auto inner = std::make_shared<test::InMemoryDestination>();
    const Stored a = makePack(repo, {"alpha"});
    const Stored b = makePack(repo, {"beta"});
    inner->put(RepositoryLayout::pack(a.id), a.bytes);
    inner->put(RepositoryLayout::pack(b.id), b.bytes);
    test::FaultyDestination faulty(inner);
    faulty.failCalls(RepositoryLayout::pack(b.id).string(), DestinationError::ioFailed(RepositoryLayout::pack(b.id), "EIO"),
                     {test::FaultyDestination::Operation::read, test::FaultyDestination::Operation::readInto});
    EXPECT_THROW(rebuildIndex(faulty, repo.cipher), DestinationError);

    test::FaultyDestination unlistable(inner);
    unlistable.failCalls("packs", DestinationError::permissionDenied(RepositoryLayout::packsDirectory()),
                         {test::FaultyDestination::Operation::list});
    EXPECT_THROW(rebuildIndex(unlistable, repo.cipher), DestinationError);

    // A fan-out folder that cannot be listed is a failure, not a stray file.
    test::FaultyDestination folderFails(inner);
    const RepoPath fanOut = RepositoryLayout::pack(a.id).parent();
    folderFails.failCalls(fanOut.string(), DestinationError::ioFailed(fanOut, "EIO"),
                          {test::FaultyDestination::Operation::list});
    EXPECT_THROW(rebuildIndex(folderFails, repo.cipher), DestinationError);
}

}  // namespace
}  // namespace wm
