#include "restore/RepositoryBlobSource.h"

#include "core/WorkerPool.h"
#include "engine/Repository.h"
#include "restore/RestoreCoordinator.h"

namespace wm {

RestoreBlobSource::Record RepositoryBlobSource::record(const SnapshotID& snapshot) {
    SnapshotRecord stored = repository_.snapshot(snapshot);
    const std::int64_t smallestChunk = repository_.config().chunker.minSize;  // as read: not checked
    return {std::move(stored.rootTree), stored.stats.directories, stored.stats.files, stored.stats.bytesLogical,
            smallestChunk > 0 ? static_cast<std::uint64_t>(smallestChunk) : 0};
}

RepositoryBlobSource::RepositoryBlobSource(const Repository& repository) : repository_(repository) {
    const int width = BlobReadAhead::widthFor(activeProcessorCount());
    if (width == 0) return;
    readAhead_ = std::make_unique<BlobReadAhead>(
        [&repository](const BlobID& id, Bytes& sealed, Bytes& plaintext, const BlobReadAhead::Admit& admit) {
            plaintext = repository.blob(id, sealed, admit);
        },
        width, readAheadBytes);
}

RepositoryBlobSource::~RepositoryBlobSource() = default;

void RepositoryBlobSource::blob(const BlobID& id, Bytes& buffer) {
    if (readAhead_ && readAhead_->take(id, buffer)) return;
    buffer = repository_.blob(id, sealed_);
}

void RepositoryBlobSource::announce(const std::vector<BlobID>& ids) {
    if (readAhead_) readAhead_->announce(ids);
}

RestoreCoordinator::Result RestoreCoordinator::restore(const SnapshotID& snapshot, Repository& repository,
                                                       const std::filesystem::path& into,
                                                       const RestoreSelection& selection,
                                                       const std::optional<CheckedTarget>& checkedTarget) {
    RepositoryBlobSource source(repository);
    return restore(snapshot, source, into, selection, checkedTarget);
}

}  // namespace wm
