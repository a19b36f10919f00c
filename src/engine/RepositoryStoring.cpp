// Storing new chunks: deduplication, parallel sealing, appending to the open pack in input
// order, and sealing full packs into pack files that are written, read back and verified
// before their blobs enter the index.
//
// A chunk the caller was told is stored (isNew true) is never dropped: when its pack cannot
// be written or does not read back intact, the finished pack is kept in memory and written
// by the next store, seal or commit, and commit refuses until that has happened.
#include <iterator>
#include <unordered_set>
#include <utility>

#include "engine/Repository.h"
#include "core/WorkerPool.h"
#include "format/PackReader.h"
#include "format/RepositoryLayout.h"

namespace wm {

namespace {

// Index sections are written as an index file once this many entries wait.
constexpr std::size_t kFlushEntries = 50000;

// Sealed chunks that may wait for their turn to be appended, per sealer. Sealing goes on
// while a full pack is written and read back, up to this many chunks ahead.
constexpr std::size_t kSealedWaitingPerSealer = 8;

// Below this many bytes a batch's identities are computed on the calling thread.
constexpr std::size_t kParallelIdentityBytes = 1 << 20;

}  // namespace

Repository::Stored Repository::store(ByteView plaintext, BlobType type) {
    std::lock_guard writing(writerMutex_);
    writeUnwrittenPacks();
    const BlobID id = cipher_.identity(plaintext);
    {
        std::shared_lock lock(stateMutex_);
        if (holdsLocked(id)) return Stored{id, false};
    }
    const Bytes sealed = cipher_.seal(plaintext, id, type);
    return Stored{id, appendSealed(id, type, sealed, false)};
}

std::vector<Repository::Stored> Repository::storeChunks(const std::vector<Bytes>& chunks, BlobType type) {
    std::vector<ByteView> views(chunks.begin(), chunks.end());
    return storeChunks(std::span<const ByteView>(views), type);
}

std::vector<BlobID> Repository::identities(std::span<const ByteView> chunks) {
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
    auto bounds = [&](std::size_t s) { return std::pair{chunks.size() * s / slices, chunks.size() * (s + 1) / slices}; };
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

std::vector<Repository::Stored> Repository::storeChunks(std::span<const ByteView> chunks, BlobType type) {
    if (chunks.empty()) return {};
    std::lock_guard writing(writerMutex_);
    writeUnwrittenPacks();

    const std::size_t count = chunks.size();
    const std::vector<BlobID> ids = identities(chunks);

    // Content repeated inside the batch is sealed once: its first occurrence is pending,
    // every later one is reported as already stored.
    std::vector<Stored> results(count);
    std::vector<std::size_t> pending;
    {
        std::unordered_set<BlobID> taken;
        std::shared_lock lock(stateMutex_);
        for (std::size_t i = 0; i < count; ++i) {
            results[i] = Stored{ids[i], false};
            if (holdsLocked(ids[i]) || !taken.insert(ids[i]).second) continue;
            pending.push_back(i);
        }
    }

    auto append = [&](std::size_t i, const Bytes& sealed) {
        results[i].isNew = appendSealed(ids[i], type, sealed, true);
    };

    try {
        if (pending.size() == 1) {
            const std::size_t i = pending.front();
            append(i, cipher_.seal(chunks[i], ids[i], type));
        } else if (pending.size() > 1) {
            WorkerPool& workers = pool();
            const auto width = static_cast<std::size_t>(workers.width());
            orderedPipeline<Bytes>(
                workers, pending.size(), kSealedWaitingPerSealer * width,
                [&](std::size_t k) {
                    const std::size_t i = pending[k];
                    return cipher_.seal(chunks[i], ids[i], type);
                },
                [&](std::size_t k, Bytes&& sealed) { append(pending[k], sealed); });
        }
    } catch (...) {
        awaitPackWrite(false);
        throw;
    }
    // The batch is done when every pack it filled is written and verified.
    awaitPackWrite(true);
    return results;
}

bool Repository::appendSealed(const BlobID& id, BlobType type, ByteView sealed, bool inBatch) {
    bool added = false;
    bool full = false;
    bool splitOff = false;
    {
        std::unique_lock lock(stateMutex_);
        if (index_.contains(id) || unwrittenIDs_.count(id) != 0) return false;
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
        sealOpenPack(inBatch);
        std::unique_lock lock(stateMutex_);
        added = openPack_.addSealed(id, type, sealed);
    }
    {
        std::shared_lock lock(stateMutex_);
        full = openPack_.isFull();
    }
    if (full) sealOpenPack(inBatch);
    return added;
}

void Repository::sealOpenPack(bool inBatch) {
    if (!inBatch) {
        finishOpenPack();
        writeUnwrittenPacks();
        return;
    }
    // Within a batch the full pack is written, read back and verified on a helper thread
    // while the batch goes on filling the next one. One pack at a time: the one before must
    // be done first, and its failure stops the batch.
    awaitPackWrite(true);
    finishOpenPack();
    std::list<UnwrittenPack>::iterator pack;
    {
        std::shared_lock lock(stateMutex_);
        if (unwrittenPacks_.empty()) return;
        pack = std::prev(unwrittenPacks_.end());
    }
    packWrite_ = std::thread([this, pack] {
        try {
            writePack(pack);
        } catch (...) {
            packWriteError_ = std::current_exception();
        }
    });
}

void Repository::awaitPackWrite(bool rethrow) {
    if (!packWrite_.joinable()) return;
    packWrite_.join();
    std::exception_ptr error = std::exchange(packWriteError_, nullptr);
    // A failed pack stays among the packs waiting to be written.
    if (error && rethrow) std::rethrow_exception(error);
}

void Repository::finishOpenPack() {
    PackWriter taken(cipher_);
    {
        std::unique_lock lock(stateMutex_);
        if (openPack_.blobCount() == 0) return;
        // The blobs stay visible as held while the pack is finished and written.
        for (const auto& entry : openPack_.entries()) unwrittenIDs_.insert(entry.id);
        std::swap(taken, openPack_);
    }
    try {
        PackWriter::Finished finished = taken.finish();
        std::unique_lock lock(stateMutex_);
        unwrittenPacks_.push_back(UnwrittenPack{std::move(finished)});
    } catch (...) {
        // The pack's bytes are gone with the writer: the blobs it held can never be written,
        // so this instance refuses every further store and commit.
        std::unique_lock lock(stateMutex_);
        lostPack_ = std::current_exception();
        throw;
    }
}

void Repository::writeUnwrittenPacks() {
    awaitPackWrite(false);
    while (true) {
        std::list<UnwrittenPack>::iterator pack;
        {
            std::shared_lock lock(stateMutex_);
            if (lostPack_) std::rethrow_exception(lostPack_);
            if (unwrittenPacks_.empty()) return;
            pack = unwrittenPacks_.begin();
        }
        writePack(pack);
    }
}

void Repository::writePack(std::list<UnwrittenPack>::iterator unwritten) {
    // The element stays in place until this call removes it: only the holder of the
    // writing lock, or the one helper thread it waits for, changes the list.
    const PackWriter::Finished& pack = unwritten->pack;
    const RepoPath path = RepositoryLayout::pack(pack.id);
    write(pack.bytes, path, *destination_);

    // Read the file back whole and check it before its blobs enter the index.
    try {
        PackReader reader(destination_->read(path), pack.id, cipher_);
    } catch (const PackFile::Error&) {
        std::unique_lock lock(stateMutex_);
        health_.recordFault(DestinationHealth::Fault::badRead, Date::now());
        throw;
    } catch (const std::exception&) {
        std::unique_lock lock(stateMutex_);
        health_.recordFault(DestinationHealth::Fault::disappeared, Date::now());
        throw;
    }

    bool flush = false;
    {
        std::unique_lock lock(stateMutex_);
        health_.goodOperations += 1;
        IndexFile::Section section{pack.id, pack.entries};
        index_.merge(section);
        for (const auto& entry : section.entries) unwrittenIDs_.erase(entry.id);
        unflushedEntryCount_ += section.entries.size();
        unflushedSections_.push_back(std::move(section));
        unwrittenPacks_.erase(unwritten);
        flush = unflushedEntryCount_ >= kFlushEntries;
    }
    if (flush) flushPendingIndex();
}

bool Repository::hasUnwrittenChunks() const {
    std::shared_lock lock(stateMutex_);
    return !unwrittenIDs_.empty() || openPack_.blobCount() > 0 || lostPack_ != nullptr;
}

}  // namespace wm
