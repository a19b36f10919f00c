#include "restore/RepositoryBlobSource.h"

#include "engine/Repository.h"
#include "restore/RestoreCoordinator.h"

namespace wm {

Bytes RepositoryBlobSource::rootTree(const SnapshotID& snapshot) { return repository_.snapshot(snapshot).rootTree; }

void RepositoryBlobSource::blob(const BlobID& id, Bytes& buffer) { buffer = repository_.blob(id, sealed_); }

RestoreCoordinator::Result RestoreCoordinator::restore(const SnapshotID& snapshot, Repository& repository,
                                                       const std::filesystem::path& into,
                                                       const RestoreSelection& selection) {
    RepositoryBlobSource source(repository);
    return restore(snapshot, source, into, selection);
}

}  // namespace wm
