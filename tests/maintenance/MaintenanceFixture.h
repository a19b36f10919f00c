#pragma once
// A repository of three snapshots a day apart (each in packs of its own) beside an orphan
// pack file, copies of it, and the checks every interrupted maintenance run must pass.
#include <map>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "format/RepositoryLayout.h"
#include "support/EngineTestSupport.h"

namespace wm::test {

inline Date day(int n) { return fixedNow().adding(86400.0 * n); }

struct Fixture {
    std::shared_ptr<InMemoryDestination> memory = std::make_shared<InMemoryDestination>();
    RepositoryKeys keys = makeKeys();
    std::shared_ptr<Repository> repository;
    std::vector<SnapshotID> snapshots;  // oldest first
    std::vector<PackID> packs;          // the pack of each snapshot's root tree
    PackID orphan;                      // a pack file nothing indexes
    explicit Fixture(std::int64_t formatVersion = 2) : repository(createRepository(memory, keys, formatVersion)) {
        for (int i = 0; i < 3; ++i) {
            snapshots.push_back(commitFile(*repository, {randomBytes(3000, 10 + i), randomBytes(500, 20 + i)},
                                           "file" + std::to_string(i), day(i)));
            packs.push_back(packOf(*repository, rootOf(*repository, snapshots.back())));
        }
        orphan.bytes.fill(0xEE);
        memory->put(RepositoryLayout::pack(orphan), randomBytes(200, 99));
    }
};

inline std::shared_ptr<InMemoryDestination> copyOf(const InMemoryDestination& source) {
    auto copy = std::make_shared<InMemoryDestination>(source.id(), source.kind());
    for (const auto& [path, bytes] : source.files()) copy->put(*RepoPath::parse(path), bytes);
    return copy;
}

// Files outside the given folders, with their bytes.
inline std::map<std::string, Bytes> filesOutside(const InMemoryDestination& destination,
                                                 std::set<std::string> folders) {
    std::map<std::string, Bytes> kept;
    for (const auto& [path, bytes] : destination.files())
        if (folders.count(path.substr(0, path.find('/'))) == 0) kept.emplace(path, bytes);
    return kept;
}

// The repository opens, every snapshot its head lists has its record and reads whole, every
// reachable blob lies in a pack that validates, every pack the index names is there. Returns
// the head's snapshots.
inline std::vector<SnapshotID> expectSound(const std::shared_ptr<Destination>& destination, const RepositoryKeys& keys,
                                           const std::string& context) {
    const auto repository = openRepository(destination, keys, Repository::Access::readOnly).repository;
    const auto ids = repository->snapshotIDs();
    EXPECT_EQ(repository->allSnapshots().size(), ids.size()) << context;
    const auto validated = repository->rebuildIndexFromPacks();
    for (const auto& blob : repository->reachableBlobs(std::unordered_set<SnapshotID>(ids.begin(), ids.end())))
        EXPECT_TRUE(validated.contains(blob)) << context;
    for (const auto& id : ids) EXPECT_NO_THROW(readWhole(*repository, id)) << context;
    for (const auto& pack : repository->withIndex([](const CompactIndex& index) { return index.packs(); }))
        EXPECT_TRUE(destination->exists(RepositoryLayout::pack(pack))) << context << ": " << pack.hex();
    return ids;
}

}  // namespace wm::test
