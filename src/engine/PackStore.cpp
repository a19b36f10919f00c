#include "engine/PackStore.h"

#include <iterator>
#include <utility>

#include "engine/Repository.h"
#include "format/PackReader.h"
#include "format/RepositoryLayout.h"

namespace wm {

namespace {

// Sealed chunks that may wait for their turn to be appended, per sealer. Sealing goes on
// while a full pack is written and read back, up to this many chunks ahead.
constexpr std::size_t kSealedWaitingPerSealer = 8;

// Below this many bytes a batch's identities are computed on the calling thread.
constexpr std::size_t kParallelIdentityBytes = 1 << 20;

}  // namespace

PackStore::PackStore(std::shared_ptr<Destination> destination, BlobCipher cipher, Written written,
                     std::function<void()> flushIndex)
    : destination_(std::move(destination)),
      cipher_(std::move(cipher)),
      written_(std::move(written)),
      flushIndex_(std::move(flushIndex)),
      openPack_(cipher_) {}

PackStore::~PackStore() {
    if (helper_.joinable()) helper_.join();
}

bool PackStore::holds(const BlobID& id) const {
    std::shared_lock lock(mutex_);
    return openPack_.contains(id) || unwrittenIDs_.count(id) != 0;
}

bool PackStore::hasUnwritten() const {
    std::shared_lock lock(mutex_);
    return !unwrittenIDs_.empty() || openPack_.blobCount() > 0 || lostPack_ != nullptr;
}

DestinationHealth PackStore::health() const {
    std::shared_lock lock(mutex_);
    return health_;
}

int PackStore::sealingWidth(int activeProcessors) {
    if (activeProcessors < 8) return 3;
    return std::min(activeProcessors / 2, 8);
}

WorkerPool& PackStore::pool() {
    if (!pool_) pool_ = std::make_unique<WorkerPool>(sealingWidth(activeProcessorCount()));
    return *pool_;
}

std::vector<BlobID> PackStore::identities(std::span<const ByteView> chunks) {
    std::vector<BlobID> ids(chunks.size());
    std::size_t total = 0;
    for (const auto& chunk : chunks) total += chunk.size();
    if (chunks.size() < 2 || total < kParallelIdentityBytes) {
        for (std::size_t i = 0; i < chunks.size(); ++i) ids[i] = cipher_.identity(chunks[i]);
        return ids;
    }
    // One contiguous slice of the batch per sealer.
    WorkerPool& workers = pool();
    const std::size_t slices = std::min(chunks.size(), static_cast<std::size_t>(workers.width()));
    auto bounds = [&](std::size_t s) {
        return std::pair{chunks.size() * s / slices, chunks.size() * (s + 1) / slices};
    };
    orderedPipeline<int>(
        workers, slices, slices,
        [&](std::size_t s) {
            const auto [begin, end] = bounds(s);
            for (std::size_t i = begin; i < end; ++i) ids[i] = cipher_.identity(chunks[i]);
            return 0;
        },
        [](std::size_t, int&&) {});
    return ids;
}

bool PackStore::store(ByteView plaintext, const BlobID& id, BlobType type) {
    if (holds(id)) return false;
    return append(id, type, cipher_.seal(plaintext, id, type), false);
}

std::vector<bool> PackStore::storeBatch(std::span<const ByteView> chunks, const std::vector<BlobID>& ids,
                                        const std::vector<std::size_t>& pending, BlobType type) {
    std::vector<bool> added(pending.size(), false);
    try {
        if (pending.size() == 1) {
            const std::size_t i = pending.front();
            added[0] = append(ids[i], type, cipher_.seal(chunks[i], ids[i], type), true);
        } else if (pending.size() > 1) {
            WorkerPool& workers = pool();
            const auto width = static_cast<std::size_t>(workers.width());
            orderedPipeline<Bytes>(
                workers, pending.size(), kSealedWaitingPerSealer * width,
                [&](std::size_t k) {
                    const std::size_t i = pending[k];
                    return cipher_.seal(chunks[i], ids[i], type);
                },
                [&](std::size_t k, Bytes&& sealed) { added[k] = append(ids[pending[k]], type, sealed, true); });
        }
    } catch (...) {
        awaitHelper(false);
        throw;
    }
    // The batch is done when every pack it filled is written and verified.
    awaitHelper(true);
    return added;
}

bool PackStore::append(const BlobID& id, BlobType type, ByteView sealed, bool inBatch) {
    bool added = false;
    bool full = false;
    bool splitOff = false;
    {
        std::unique_lock lock(mutex_);
        if (unwrittenIDs_.count(id) != 0) return false;
        try {
            added = openPack_.addSealed(id, type, sealed);
        } catch (const PackFile::Error& error) {
            // A blob that does not fit the open pack but fits an empty one goes into a
            // new pack, once; one that fits no pack can never be stored.
            if (error.kind != PackFile::Error::Kind::tooLarge || openPack_.blobCount() == 0 ||
                !PackWriter::fitsEmptyPack(sealed.size()))
                throw;
            splitOff = true;
        }
    }
    if (splitOff) {
        seal(inBatch);
        std::unique_lock lock(mutex_);
        added = openPack_.addSealed(id, type, sealed);
    }
    {
        std::shared_lock lock(mutex_);
        full = openPack_.isFull();
    }
    if (full) seal(inBatch);
    return added;
}

void PackStore::sealAndWrite() { seal(false); }

void PackStore::seal(bool inBatch) {
    if (!inBatch) {
        finishOpenPack();
        writeWaiting();
        return;
    }
    // Within a batch the full pack is written, read back and verified on a helper thread
    // while the batch goes on filling the next one. One pack at a time: the one before must
    // be done first, and its failure stops the batch.
    awaitHelper(true);
    finishOpenPack();
    std::list<PackWriter::Finished>::iterator pack;
    {
        std::shared_lock lock(mutex_);
        if (unwritten_.empty()) return;
        pack = std::prev(unwritten_.end());
    }
    helper_ = std::thread([this, pack] {
        try {
            writePack(pack);
        } catch (...) {
            helperError_ = std::current_exception();
        }
    });
}

void PackStore::awaitHelper(bool rethrow) {
    if (!helper_.joinable()) return;
    helper_.join();
    std::exception_ptr error = std::exchange(helperError_, nullptr);
    // A failed pack stays among the packs waiting to be written.
    if (error && rethrow) std::rethrow_exception(error);
}

void PackStore::finishOpenPack() {
    PackWriter taken(cipher_);
    {
        std::unique_lock lock(mutex_);
        if (openPack_.blobCount() == 0) return;
        // The blobs stay visible as held while the pack is finished and written.
        for (const auto& entry : openPack_.entries()) unwrittenIDs_.insert(entry.id);
        std::swap(taken, openPack_);
    }
    try {
        PackWriter::Finished finished = taken.finish();
        std::unique_lock lock(mutex_);
        unwritten_.push_back(std::move(finished));
    } catch (...) {
        // The pack's bytes are gone with the writer: the blobs it held can never be written,
        // so this store refuses every further store and commit.
        std::unique_lock lock(mutex_);
        lostPack_ = std::current_exception();
        throw;
    }
}

void PackStore::writeWaiting() {
    awaitHelper(false);
    while (true) {
        std::list<PackWriter::Finished>::iterator pack;
        {
            std::shared_lock lock(mutex_);
            if (lostPack_) std::rethrow_exception(lostPack_);
            if (unwritten_.empty()) return;
            pack = unwritten_.begin();
        }
        writePack(pack);
    }
}

void PackStore::writePack(std::list<PackWriter::Finished>::iterator unwritten) {
    // The element stays in place until this call removes it: only the writer, or the one
    // helper thread it waits for, changes the list.
    const PackWriter::Finished& pack = *unwritten;
    const RepoPath path = RepositoryLayout::pack(pack.id);
    Repository::write(pack.bytes, path, *destination_);

    // Read the file back whole and check it before its blobs enter the index.
    try {
        PackReader reader(destination_->read(path), pack.id, cipher_);
    } catch (const PackFile::Error&) {
        std::unique_lock lock(mutex_);
        health_.recordFault(DestinationHealth::Fault::badRead, Date::now());
        throw;
    } catch (const std::exception&) {
        std::unique_lock lock(mutex_);
        health_.recordFault(DestinationHealth::Fault::disappeared, Date::now());
        throw;
    }
    {
        std::unique_lock lock(mutex_);
        health_.goodOperations += 1;
    }
    const bool flush = written_(IndexFile::Section{pack.id, pack.entries});
    {
        std::unique_lock lock(mutex_);
        for (const auto& entry : pack.entries) unwrittenIDs_.erase(entry.id);
        unwritten_.erase(unwritten);
    }
    if (flush) flushIndex_();
}

}  // namespace wm
