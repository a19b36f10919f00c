#include "engine/PackStore.h"

#include <algorithm>
#include <chrono>
#include <system_error>
#include <utility>

#include "engine/Repository.h"
#include "format/PackReader.h"
#include "format/RepositoryLayout.h"

namespace wm {

namespace {

// Sealed chunks a batch may hold ahead of their turn to be appended: about this many bytes,
// enough to keep the sealers busy while an append waits and few enough that several
// batches at once stay small in memory; between two and 32 chunks per sealer (small chunks
// are handed out in larger numbers so that the appending thread seldom waits for one).
constexpr std::size_t kSealedWaitingBytes = 8u << 20;

// While a pack is written and read back, the open pack takes blobs up to this many bytes
// and then waits for that pack: the pack, its read-back and the open pack stay within about
// 170 MiB together.
constexpr std::size_t kFillingWhileWriting = 40u << 20;

// Below this many bytes a batch's identities are computed on the calling thread.
constexpr std::size_t kParallelIdentityBytes = 1 << 20;

}  // namespace

PackStore::PackStore(std::shared_ptr<Destination> destination, BlobCipher cipher, Written written,
                     std::function<void()> flushIndex, Indexed indexed)
    : destination_(std::move(destination)),
      cipher_(std::move(cipher)),
      written_(std::move(written)),
      flushIndex_(std::move(flushIndex)),
      indexed_(std::move(indexed)),
      width_(static_cast<std::size_t>(sealingWidth(activeProcessorCount()))),
      openPack_(cipher_) {}

// Every pack handed to a helper thread is waited for by the call that filled it.
PackStore::~PackStore() = default;

bool PackStore::holds(const BlobID& id) const {
    std::shared_lock lock(mutex_);
    return openPack_.contains(id) || unwrittenIDs_.count(id) != 0;
}

bool PackStore::heldLocked(const BlobID& id) const {
    return openPack_.contains(id) || unwrittenIDs_.count(id) != 0 || indexed_(id);
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

void PackStore::setFullBlobsForTesting(std::size_t blobs) {
    std::unique_lock lock(mutex_);
    fullBlobs_ = std::max<std::size_t>(blobs, 1);
}

bool PackStore::isFull() const {
    return openPack_.byteCount() >= PackWriter::fullBytes || openPack_.blobCount() >= fullBlobs_;
}

WorkerPool& PackStore::pool() {
    // Each batch seals at most width_ chunks at once; the pool has room for a second batch
    // beside the first where the machine has the processors for it.
    std::call_once(poolStarted_, [this] {
        const auto processors = static_cast<std::size_t>(activeProcessorCount());
        pool_ = std::make_unique<WorkerPool>(static_cast<int>(std::clamp(processors, width_, 2 * width_)));
    });
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
    const std::size_t slices = std::min(chunks.size(), width_);
    auto bounds = [&](std::size_t s) {
        return std::pair{chunks.size() * s / slices, chunks.size() * (s + 1) / slices};
    };
    orderedPipeline<int>(
        pool(), slices, slices,
        [&](std::size_t s) {
            const auto [begin, end] = bounds(s);
            for (std::size_t i = begin; i < end; ++i) ids[i] = cipher_.identity(chunks[i]);
            return 0;
        },
        [](std::size_t, int&&) {}, width_);
    return ids;
}

bool PackStore::store(ByteView plaintext, const BlobID& id, BlobType type) {
    if (holds(id)) return false;
    return append(id, type, cipher_.seal(plaintext, id, type), nullptr);
}

std::vector<bool> PackStore::storeBatch(std::span<const ByteView> chunks, const std::vector<BlobID>& ids,
                                        const std::vector<std::size_t>& pending, BlobType type) {
    std::vector<bool> added(pending.size(), false);
    Flights flights;
    try {
        if (pending.size() == 1) {
            const std::size_t i = pending.front();
            added[0] = append(ids[i], type, cipher_.seal(chunks[i], ids[i], type), nullptr);
        } else if (pending.size() > 1) {
            std::size_t bytes = 0;
            for (const std::size_t i : pending) bytes += chunks[i].size();
            const std::size_t window = std::clamp(
                kSealedWaitingBytes / std::max<std::size_t>(bytes / pending.size(), 1), 2 * width_, 32 * width_);
            orderedPipeline<Bytes>(
                pool(), pending.size(), window,
                [&](std::size_t k) {
                    const std::size_t i = pending[k];
                    return cipher_.seal(chunks[i], ids[i], type);
                },
                [&](std::size_t k, Bytes&& sealed) { added[k] = append(ids[pending[k]], type, sealed, &flights); },
                width_);
        }
    } catch (...) {
        land(flights, false);
        throw;
    }
    // The batch is done when every pack it filled is written and verified.
    land(flights, true);
    return added;
}

bool PackStore::append(const BlobID& id, BlobType type, ByteView sealed, Flights* flights) {
    std::unique_lock lock(mutex_);
    while (true) {
        // A full open pack waits here for the pack before it to be written; it takes no
        // blob meanwhile, so no more than two packs are ever in memory.
        changed_.wait(
            lock, [&] { return !isFull() && !(writingTurnTaken_ && openPack_.byteCount() >= kFillingWhileWriting); });
        if (heldLocked(id)) return false;
        // A blob that does not fit the open pack but fits an empty one goes into a new
        // pack; one that fits no pack is refused by addSealed below.
        if (openPack_.canTake(sealed.size()) || openPack_.blobCount() == 0 || !PackWriter::fitsEmptyPack(sealed.size()))
            break;
        if (flights) throwLanded(*flights);
        takeWritingTurn(lock);
        handOff(lock, flights);
    }
    openPack_.addSealed(id, type, sealed);
    if (isFull()) {
        takeWritingTurn(lock);
        // Another call may have handed the pack off while this one waited for the turn.
        if (isFull()) {
            handOff(lock, flights);
        } else {
            writingTurnTaken_ = false;
            changed_.notify_all();
        }
        // A pack this batch filled before and that failed ends the batch; never before the
        // full pack is handed off, which every other call waits for.
        if (flights) throwLanded(*flights);
    }
    return true;
}

void PackStore::takeWritingTurn(std::unique_lock<std::shared_mutex>& lock) {
    changed_.wait(lock, [&] { return !writingTurnTaken_; });
    writingTurnTaken_ = true;
}

void PackStore::endWritingTurn() {
    {
        std::unique_lock lock(mutex_);
        writingTurnTaken_ = false;
    }
    changed_.notify_all();
}

void PackStore::handOff(std::unique_lock<std::shared_mutex>& lock, Flights* flights) {
    if (openPack_.blobCount() == 0) {
        writingTurnTaken_ = false;
        changed_.notify_all();
        return;
    }
    auto taken = std::make_shared<PackWriter>(cipher_);
    // The blobs stay visible as held while the pack is finished and written.
    for (const auto& entry : openPack_.entries()) unwrittenIDs_.insert(entry.id);
    std::swap(*taken, openPack_);
    changed_.notify_all();
    lock.unlock();
    try {
        bool onHelper = false;
        if (flights) {
            try {
                flights->push_back(
                    std::async(std::launch::async, [this, taken] { finishAndWrite(std::move(*taken)); }));
                onHelper = true;
            } catch (const std::system_error&) {
                // No thread to be had: the pack is written here instead.
            }
        }
        if (!onHelper) finishAndWrite(std::move(*taken));
    } catch (...) {
        lock.lock();
        throw;
    }
    lock.lock();
}

void PackStore::finishAndWrite(PackWriter taken) {
    struct TurnEnd {
        PackStore& store;
        ~TurnEnd() { store.endWritingTurn(); }
    } turnEnd{*this};
    std::list<Unwritten>::iterator pack;
    try {
        PackWriter::Finished finished = taken.finish();
        std::unique_lock lock(mutex_);
        pack = unwritten_.insert(unwritten_.end(), Unwritten{std::move(finished), true});
    } catch (...) {
        // The pack's bytes are gone with the writer: the blobs it held can never be written,
        // so this store refuses every further store and commit.
        std::unique_lock lock(mutex_);
        lostPack_ = std::current_exception();
        throw;
    }
    writePack(pack);
}

void PackStore::sealAndWrite() {
    {
        std::unique_lock lock(mutex_);
        takeWritingTurn(lock);
        handOff(lock, nullptr);
    }
    writeWaiting();
}

void PackStore::writeWaiting() {
    auto waiting = [this] {
        return std::find_if(unwritten_.begin(), unwritten_.end(), [](const Unwritten& u) { return !u.writing; });
    };
    while (true) {
        std::unique_lock lock(mutex_);
        if (lostPack_) std::rethrow_exception(lostPack_);
        if (waiting() == unwritten_.end()) return;
        takeWritingTurn(lock);
        const auto pack = waiting();
        if (pack == unwritten_.end()) {
            writingTurnTaken_ = false;
            changed_.notify_all();
            return;
        }
        pack->writing = true;
        lock.unlock();
        struct TurnEnd {
            PackStore& store;
            ~TurnEnd() { store.endWritingTurn(); }
        } turnEnd{*this};
        writePack(pack);
    }
}

void PackStore::writePack(std::list<Unwritten>::iterator unwritten) {
    // The element stays in place until this call removes it: only the holder of the writing
    // turn changes an element marked as being written.
    const PackWriter::Finished& pack = unwritten->pack;
    const RepoPath path = RepositoryLayout::pack(pack.id);
    bool flush = false;
    try {
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
            health_.recordGoodOperation();
        }
        flush = written_(IndexFile::Section{pack.id, pack.entries});
    } catch (...) {
        // The pack waits, whole, for the next store, seal or commit to write it.
        std::unique_lock lock(mutex_);
        unwritten->writing = false;
        throw;
    }
    {
        std::unique_lock lock(mutex_);
        for (const auto& entry : pack.entries) unwrittenIDs_.erase(entry.id);
        unwritten_.erase(unwritten);
    }
    if (flush) flushIndex_();
}

void PackStore::throwLanded(Flights& flights) {
    for (auto& flight : flights) {
        if (flight.valid() && flight.wait_for(std::chrono::seconds(0)) == std::future_status::ready) flight.get();
    }
}

void PackStore::land(Flights& flights, bool rethrow) {
    std::exception_ptr first;
    for (auto& flight : flights) {
        if (!flight.valid()) continue;
        try {
            flight.get();
        } catch (...) {
            if (!first) first = std::current_exception();
        }
    }
    flights.clear();
    // A failed pack stays among the packs waiting to be written.
    if (first && rethrow) std::rethrow_exception(first);
}

}  // namespace wm
