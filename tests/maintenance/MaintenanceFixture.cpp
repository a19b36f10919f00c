#include "MaintenanceFixture.h"

#include <gtest/gtest.h>

#include "format/RepositoryLayout.h"

namespace wm::test {

Date day(int n) { return fixedNow().adding(86400.0 * n); }

Fixture::Fixture() {
    repository = createRepository(memory, keys);
    for (int i = 0; i < 3; ++i) {
        snapshots.push_back(commitFile(*repository, {randomBytes(3000, 10 + i), randomBytes(500, 20 + i)},
                                       "file" + std::to_string(i), day(i)));
        const auto root = *BlobID::fromBytes(repository->snapshot(snapshots.back()).rootTree);
        packs.push_back(repository->withIndex([&](const CompactIndex& index) { return index.location(root)->pack; }));
    }
    orphan.bytes.fill(0xEE);
    memory->put(RepositoryLayout::pack(orphan), randomBytes(200, 99));
}

std::shared_ptr<InMemoryDestination> copyOf(const InMemoryDestination& source) {
    auto copy = std::make_shared<InMemoryDestination>(source.id(), source.kind());
    for (const auto& [path, bytes] : source.files()) copy->put(*RepoPath::parse(path), bytes);
    return copy;
}

std::map<std::string, Bytes> filesOutside(const InMemoryDestination& destination, std::set<std::string> folders) {
    std::map<std::string, Bytes> kept;
    for (const auto& [path, bytes] : destination.files()) {
        if (folders.count(path.substr(0, path.find('/'))) == 0) kept.emplace(path, bytes);
    }
    return kept;
}

std::vector<SnapshotID> expectSound(const std::shared_ptr<Destination>& destination, const RepositoryKeys& keys,
                                    const std::string& context) {
    const auto repository = openRepository(destination, keys, Repository::Access::readOnly).repository;
    const auto ids = repository->snapshotIDs();
    std::unordered_set<SnapshotID> listed(ids.begin(), ids.end());
    EXPECT_EQ(repository->allSnapshots().size(), ids.size()) << context;
    const auto validated = repository->rebuildIndexFromPacks();
    for (const auto& blob : repository->reachableBlobs(listed)) EXPECT_TRUE(validated.contains(blob)) << context;
    for (const auto& id : ids) EXPECT_NO_THROW(readWhole(*repository, id)) << context;
    return ids;
}

}  // namespace wm::test
