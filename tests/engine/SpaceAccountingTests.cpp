// How much room a repository takes.
#include <gtest/gtest.h>

#include "engine/SpaceAccounting.h"
#include "support/EngineTestSupport.h"

namespace wm::test {
namespace {

using Space = FaultyRepositoryTest;

// Packs, index and snapshots count to three levels down; other folders and deeper files do not.
TEST_F(Space, PacksIndexAndSnapshotsAreCountedAndAListingFailurePropagates) {
    commitTree(*repository, {Node::file("a", {randomBytes(5000, 1)})});
    std::int64_t expected = 0;
    for (const std::string folder : {"packs", "index", "snapshots"})
        for (const auto& path : filesUnder(*memory, folder)) expected += std::ssize(memory->files().at(path));
    memory->put(*RepoPath::parse("holds/x.hold"), Bytes(100, 0));
    memory->put(*RepoPath::parse("packs/ab/deep/deeper/file"), Bytes(100, 0));
    memory->put(*RepoPath::parse("snapshots/a/b/file"), Bytes(10, 0));
    EXPECT_EQ(storedBytes(*repository), expected + 10);
    faulty->failCalls("index", DestinationError::ioFailed(*RepoPath::parse("index"), "EIO"),
                      {FaultyDestination::Operation::list});
    EXPECT_THROW(storedBytes(*repository), DestinationError);
}

}  // namespace
}  // namespace wm::test
