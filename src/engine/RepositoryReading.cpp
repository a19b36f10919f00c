// Reading what the head lists: snapshot records and blobs. Locations and keys are taken
// under the state lock; every read and decryption runs outside it.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>

#include "engine/Repository.h"
#include "format/PackFile.h"
#include "format/RepositoryLayout.h"
#include "format/SignedFile.h"
#include "storage/DestinationError.h"

namespace wm {

std::vector<SnapshotID> Repository::snapshotIDs() const {
    std::shared_lock lock(stateMutex_);
    std::vector<SnapshotID> ids;
    ids.reserve(head_.snapshots.size());
    for (const auto& uuid : head_.snapshots) ids.push_back(SnapshotID{uuid});
    return ids;
}

std::uint64_t Repository::counter() const {
    std::shared_lock lock(stateMutex_);
    return head_.counter;
}

std::size_t Repository::blobCount() const {
    std::shared_lock lock(stateMutex_);
    return index_.blobCount();
}

bool Repository::contains(const BlobID& id) const { return holds(id); }

SnapshotRecord Repository::snapshot(const SnapshotID& id) const {
    const Bytes file = readSignedRecord(*destination_, RepositoryLayout::snapshot(id));
    SnapshotRecord record = SignedFile::open<SnapshotRecord>(file, *keys_, cipher_);
    // Nothing binds a record to its file name: a valid record copied over another one's
    // path would otherwise be read as that snapshot.
    if (record.id != id.value) throw Error::snapshotNotFound(id);
    return record;
}

Bytes Repository::blob(const BlobID& id) const {
    Bytes sealed;
    return blob(id, sealed);
}

Bytes Repository::blob(const BlobID& id, Bytes& sealedBuffer,
                       const BlobCompression::BeforeAllocating& beforeAllocating) const {
    std::optional<CompactIndex::Location> location;
    {
        std::shared_lock lock(stateMutex_);
        location = index_.location(id);
    }
    if (!location) throw Error::blobNotFound(id);
    const auto& entry = location->entry;
    constexpr auto kLargest = static_cast<std::uint64_t>(INT64_MAX);
    if (entry.offset > kLargest - entry.length) throw PackFile::Error::blobRangeOutOfBounds(id);
    const RepoPath packPath = RepositoryLayout::pack(location->pack);
    const auto offset = static_cast<std::int64_t>(entry.offset);
    const auto length = static_cast<std::int64_t>(entry.length);
    if (sealedBuffer.size() < entry.length) {
        // A damaged entry can claim any length: the buffer grows only for a blob that lies
        // inside its pack. A pack that is not there throws its own read error, and one that
        // ends before the blob does throws what the ranged read itself would, whatever the
        // size of the buffer.
        const std::optional<std::int64_t> packSize = destination_->size(packPath);
        if (!packSize) destination_->read(packPath, ByteRange{0, 0});
        const std::int64_t held = packSize ? std::clamp<std::int64_t>(*packSize - offset, 0, length) : 0;
        if (held < length) throw DestinationError::shortRead(packPath, length, held);
        // Grown afresh rather than resized: what the buffer held need not be copied over.
        Bytes grown(entry.length);
        sealedBuffer.swap(grown);
    }
    const std::span<std::uint8_t> sealed(sealedBuffer.data(), entry.length);
    destination_->readInto(packPath, offset, sealed);
    return cipher_.open(sealed, id, entry.type, beforeAllocating);
}

HeadRecord Repository::head() const {
    std::shared_lock lock(stateMutex_);
    return head_;
}

}  // namespace wm
