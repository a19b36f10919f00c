// How much room a repository takes and has.
#include <gtest/gtest.h>

#include "SnapshotBrowserFixture.h"
#include "engine/SpaceAccounting.h"

namespace wm::test {
namespace {

class Space : public FaultyRepositoryTest {
protected:
    std::int64_t sizesUnder(const std::string& folder) {
        std::int64_t total = 0;
        for (const auto& path : filesUnder(*memory, folder)) total += static_cast<std::int64_t>(memory->files().at(path).size());
        return total;
    }
};

TEST_F(Space, PacksIndexAndSnapshotsAreCounted) {
    commitTree(*repository, {Node::file("a", {randomBytes(5000, 1)})});
    commitTree(*repository, {Node::file("b", {randomBytes(7000, 2)})});
    const std::int64_t expected = sizesUnder("packs") + sizesUnder("index") + sizesUnder("snapshots");
    EXPECT_GT(sizesUnder("packs"), 12000);
    EXPECT_EQ(storedBytes(*repository), expected);

    // Other files do not count; neither does anything in a folder three levels down.
    memory->put(*RepoPath::parse("holds/x.hold"), Bytes(100, 0));
    memory->put(*RepoPath::parse("packs/ab/deep/deeper/file"), Bytes(100, 0));
    EXPECT_EQ(storedBytes(*repository), expected);
    // A file at the third level does.
    memory->put(*RepoPath::parse("snapshots/a/b/file"), Bytes(10, 0));
    EXPECT_EQ(storedBytes(*repository), expected + 10);
}

TEST_F(Space, ListingFailuresOfTheStartingFolderPropagate) {
    faulty->failCalls("index", DestinationError::ioFailed(*RepoPath::parse("index"), "EIO"),
                      {FaultyDestination::Operation::list});
    EXPECT_THROW(storedBytes(*repository), DestinationError);
}

}  // namespace
}  // namespace wm::test
