#pragma once
// Fixtures for the engine tests: keys, repositories, deterministic contents, one-file snapshots.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/Bytes.h"
#include "core/Date.h"
#include "core/Identifiers.h"
#include "crypto/RepositoryKeys.h"
#include "crypto/SymmetricKey.h"
#include "engine/Repository.h"
#include "format/TreeObject.h"
#include "support/FaultyDestination.h"
#include "support/InMemoryDestination.h"
#include "support/Thrown.h"

namespace wm::test {

RepositoryKeys makeKeys();
DeviceID testDevice();
inline constexpr std::string_view kAppVersion = "9.9.9";
Date fixedNow();

// Bytes that do not compress, the same for the same seed.
Bytes randomBytes(std::size_t size, std::uint64_t seed);

std::shared_ptr<Repository> createRepository(const std::shared_ptr<Destination>& destination,
                                             const RepositoryKeys& keys, std::int64_t formatVersion = 2);
Repository::Opened openRepository(const std::shared_ptr<Destination>& destination, const RepositoryKeys& keys,
                                  Repository::Access access = Repository::Access::readWrite,
                                  std::optional<std::uint64_t> remembered = std::nullopt);

// Commits a snapshot of the stored root tree, or of one file made of the chunks.
SnapshotID commitRoot(Repository& repository, const BlobID& root, Date now = fixedNow(), SnapshotStats stats = {});
SnapshotID commitFile(Repository& repository, const std::vector<Bytes>& chunks, const std::string& name = "file",
                      Date now = fixedNow());

// Every entry of the snapshot's trees in walk order, with its "/"-joined path.
void forEachEntry(const Repository& repository, const SnapshotID& id,
                  const std::function<void(const TreeObject::Entry&, const std::string& path)>& body);
// Reads the snapshot's record, trees and blobs; returns the content bytes read.
std::uint64_t readWhole(const Repository& repository, const SnapshotID& id);

// Every file under a folder of an in-memory destination (path text -> bytes).
std::vector<std::string> filesUnder(InMemoryDestination& destination, const std::string& folder);

}  // namespace wm::test
