// Storing new chunks: deduplication against the index and the packs being filled; sealing,
// packing and writing are the pack store's. A pack enters the index only once written and
// verified. Store calls share the writing lock, so several run at once.
#include <unordered_set>

#include "engine/PackStore.h"
#include "engine/Repository.h"

namespace wm {

namespace {

// Index sections are written as an index file once this many entries wait.
constexpr std::size_t kFlushEntries = 50000;

}  // namespace

bool Repository::holds(const BlobID& id) const {
    // The pack store first: a pack hands its blobs to the index before it lets go of them.
    if (packs_->holds(id)) return true;
    std::shared_lock lock(stateMutex_);
    return index_.contains(id);
}

Repository::Stored Repository::store(ByteView plaintext, BlobType type) {
    std::shared_lock writing(writerMutex_);
    packs_->writeWaiting();
    const BlobID id = cipher_.identity(plaintext);
    if (holds(id)) return Stored{id, false};
    return Stored{id, packs_->store(plaintext, id, type)};
}

std::vector<Repository::Stored> Repository::storeChunks(const std::vector<Bytes>& chunks, BlobType type) {
    std::vector<ByteView> views(chunks.begin(), chunks.end());
    return storeChunks(std::span<const ByteView>(views), type);
}

std::vector<Repository::Stored> Repository::storeChunks(std::span<const ByteView> chunks, BlobType type) {
    if (chunks.empty()) return {};
    std::shared_lock writing(writerMutex_);
    packs_->writeWaiting();
    const std::vector<BlobID> ids = packs_->identities(chunks);

    // Content repeated inside the batch is sealed once: its first occurrence is pending,
    // every later one is reported as already stored.
    std::vector<Stored> results(chunks.size());
    std::vector<std::size_t> pending;
    std::unordered_set<BlobID> taken;
    for (std::size_t i = 0; i < chunks.size(); ++i) {
        results[i] = Stored{ids[i], false};
        if (holds(ids[i]) || !taken.insert(ids[i]).second) continue;
        pending.push_back(i);
    }
    const std::vector<bool> added = packs_->storeBatch(chunks, ids, pending, type);
    for (std::size_t k = 0; k < pending.size(); ++k) results[pending[k]].isNew = added[k];
    return results;
}

bool Repository::packWritten(IndexFile::Section section) {
    std::unique_lock lock(stateMutex_);
    index_.merge(section);
    unflushedEntryCount_ += section.entries.size();
    unflushedSections_.push_back(std::move(section));
    return unflushedEntryCount_ >= kFlushEntries;
}

bool Repository::hasUnwrittenChunks() const { return packs_->hasUnwritten(); }

void Repository::setPackBlobLimitForTesting(std::size_t blobs) { packs_->setFullBlobsForTesting(blobs); }

DestinationHealth Repository::health() const { return packs_->health(); }

}  // namespace wm
