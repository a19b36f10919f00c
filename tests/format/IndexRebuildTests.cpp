// The index rebuilt from the packs ends at a destination failure instead of passing the pack
// or folder over. Which packs it indexes and which it passes over is checked through the
// repository (tests/engine: RepositoryOpening, RepositoryFaults).
#include <gtest/gtest.h>

#include <set>
#include <tuple>

#include "format/Fixtures.h"
#include "format/IndexRebuild.h"
#include "format/PackWriter.h"
#include "format/RepositoryLayout.h"
#include "support/FaultyDestination.h"
#include "support/InMemoryDestination.h"

namespace wm {
namespace {

using Operation = test::FaultyDestination::Operation;

TEST(IndexRebuild, DestinationFailuresEndTheRebuild) {
    test::Repo repo;
    auto inner = std::make_shared<test::InMemoryDestination>();
    std::vector<RepoPath> packs;
    for (std::string_view blob : {"alpha", "beta"}) {
        PackWriter w(repo.cipher);
        w.add(viewOf(blob), BlobType::data);
        const auto done = w.finish();
        packs.push_back(RepositoryLayout::pack(done.id));
        inner->put(packs.back(), done.bytes);
    }
    const RepoPath fanOut = packs[0].parent();
    // A pack that cannot be read, the packs folder and a fan-out folder that cannot be listed.
    const std::tuple<std::string, DestinationError, std::set<Operation>> rows[] = {
        {packs[1].string(), DestinationError::ioFailed(packs[1], "EIO"), {Operation::read, Operation::readInto}},
        {"packs", DestinationError::permissionDenied(RepositoryLayout::packsDirectory()), {Operation::list}},
        {fanOut.string(), DestinationError::ioFailed(fanOut, "EIO"), {Operation::list}},
    };
    for (const auto& [pattern, error, operations] : rows) {
        test::FaultyDestination faulty(inner);
        faulty.failCalls(pattern, error, operations);
        EXPECT_THROW(rebuildIndex(faulty, repo.cipher), DestinationError) << pattern;
    }
}

}  // namespace
}  // namespace wm
