#pragma once
// A repository of three snapshots a day apart (each in packs of its own) beside an orphan
// pack file, copies of it, and the checks every interrupted maintenance run must pass.
#include <map>
#include <set>
#include <string>

#include "EngineTestSupport.h"

namespace wm::test {

struct Fixture {
    std::shared_ptr<InMemoryDestination> memory = std::make_shared<InMemoryDestination>();
    RepositoryKeys keys = makeKeys();
    std::shared_ptr<Repository> repository;
    std::vector<SnapshotID> snapshots;  // oldest first
    std::vector<PackID> packs;          // the pack of each snapshot's root tree
    PackID orphan;                      // a pack file nothing indexes
    Fixture();
};

Date day(int n);  // fixedNow() plus n days
// A copy of every file, durable.
std::shared_ptr<InMemoryDestination> copyOf(const InMemoryDestination& source);
// Files outside the given folders, with their bytes.
std::map<std::string, Bytes> filesOutside(const InMemoryDestination& destination, std::set<std::string> folders);

// The repository on the destination opens, every snapshot its head lists has its record and
// reads whole, every reachable blob lies in a pack that validates. Returns the head's
// snapshots.
std::vector<SnapshotID> expectSound(const std::shared_ptr<Destination>& destination, const RepositoryKeys& keys,
                                    const std::string& context);

}  // namespace wm::test
