#pragma once
// The packs a repository is filling: new blobs are sealed (several at once on a small pool
// for a batch), appended to the open pack in input order, and each full pack is finished,
// written, read back whole and verified before its blobs are handed to the index.
//
// A blob a caller was told is stored is never dropped: when its pack cannot be written or
// does not read back intact, the finished pack is kept in memory and written by the next
// store, seal or commit; hasUnwritten() tells whether any is waiting.
//
// Threads: every member may be called from any thread, and several store() and
// storeBatch() calls may run at once (sealAndWrite() and writeWaiting() may run beside
// them too). Calls share the open pack: each appends its blobs in its own input order, and
// the call whose blob fills the pack writes it, on a helper thread of its own while it goes
// on sealing, and returns only once that pack is written and verified, with that pack's
// error if it fails. One pack is written at a time; while it is, the open pack takes blobs
// only up to a part of a pack's size, so one pack, its read-back and part of another are
// the most in memory.
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <future>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <span>
#include <unordered_set>
#include <vector>

#include "core/Bytes.h"
#include "core/DestinationHealth.h"
#include "core/Identifiers.h"
#include "core/WorkerPool.h"
#include "crypto/BlobCipher.h"
#include "format/IndexFile.h"
#include "format/PackWriter.h"
#include "storage/Destination.h"

namespace wm {

class PackStore {
public:
    // Receives each pack once it is written and verified, before its blobs stop counting as
    // held here (so a blob is always found in one or the other), and answers whether the
    // index sections waiting should be written now; if so, flushIndex is called once the
    // pack is done (never two at once). Both run on the writing thread; their errors pass to
    // the call the pack belongs to.
    using Written = std::function<bool(IndexFile::Section)>;
    // Whether the index holds a blob: checked again just before each append, so a blob
    // another call stored meanwhile is not added twice.
    using Indexed = std::function<bool(const BlobID&)>;

    PackStore(std::shared_ptr<Destination> destination, BlobCipher cipher, Written written,
              std::function<void()> flushIndex, Indexed indexed);
    ~PackStore();
    PackStore(const PackStore&) = delete;
    PackStore& operator=(const PackStore&) = delete;

    // Whether the blob is in the open pack or in a pack waiting to be written.
    bool holds(const BlobID& id) const;
    // Whether blobs already accepted are not yet in a written, verified pack.
    bool hasUnwritten() const;
    DestinationHealth health() const;

    // The identities of a batch, computed on the pool when the batch is large.
    std::vector<BlobID> identities(std::span<const ByteView> chunks);
    // Seals one blob and appends it; false when it was already held here or indexed.
    bool store(ByteView plaintext, const BlobID& id, BlobType type);
    // Seals the chunks at `pending` (indexes into chunks and ids) in parallel, at most
    // sealingWidth at once, and appends them strictly in that order; for each, whether it
    // was added. The first failure stops the batch and is thrown; the batch is done when
    // every pack it filled is written and verified.
    std::vector<bool> storeBatch(std::span<const ByteView> chunks, const std::vector<BlobID>& ids,
                                 const std::vector<std::size_t>& pending, BlobType type);
    // Finishes the open pack and writes it and every pack still waiting.
    void sealAndWrite();
    // Writes every pack still waiting, in order, on this thread.
    void writeWaiting();

    // Seals running at once in one batch for a number of active processors: 3 below 8, then
    // half the processors, at most 8.
    static int sealingWidth(int activeProcessors);

    // Test seam: the open pack counts as full from this many blobs (or the usual byte count).
    void setFullBlobsForTesting(std::size_t blobs);

private:
    // A finished pack not yet written and verified; `writing` while a call writes it.
    struct Unwritten {
        PackWriter::Finished pack;
        bool writing = false;
    };
    // The packs one batch filled, each being written on a thread of its own.
    using Flights = std::vector<std::future<void>>;

    // Appends a sealed blob; a pack it fills is written on a helper thread recorded in
    // flights, or on this thread when there are none.
    bool append(const BlobID& id, BlobType type, ByteView sealed, Flights* flights);
    // With the lock held: whether the blob is already held here or indexed.
    bool heldLocked(const BlobID& id) const;
    bool isFull() const;
    // With the lock held: waits until no pack is being written, then takes the turn.
    void takeWritingTurn(std::unique_lock<std::shared_mutex>& lock);
    void endWritingTurn();
    // With the lock and the writing turn held: takes the open pack out (its blobs stay held)
    // and finishes and writes it, here or on a helper thread recorded in flights; gives the
    // turn back when done (at once when the open pack is empty). The lock is held again on
    // return.
    void handOff(std::unique_lock<std::shared_mutex>& lock, Flights* flights);
    // Finishes a pack and writes it; runs with the writing turn, and gives it back.
    void finishAndWrite(PackWriter taken);
    // Writes, reads back and verifies one pack marked as being written; runs with the
    // writing turn.
    void writePack(std::list<Unwritten>::iterator pack);
    // Throws the failure of a flight that has ended, if any.
    static void throwLanded(Flights& flights);
    // Waits for every flight; the first failure is thrown when asked for.
    static void land(Flights& flights, bool rethrow);
    WorkerPool& pool();

    const std::shared_ptr<Destination> destination_;
    const BlobCipher cipher_;
    const Written written_;
    const std::function<void()> flushIndex_;
    const Indexed indexed_;
    const std::size_t width_;  // sealingWidth of this machine
    std::size_t fullBlobs_ = PackWriter::fullBlobs;

    mutable std::shared_mutex mutex_;
    std::condition_variable_any changed_;  // the open pack emptied, or a writing turn ended
    PackWriter openPack_;
    bool writingTurnTaken_ = false;
    std::list<Unwritten> unwritten_;
    std::unordered_set<BlobID> unwrittenIDs_;
    std::exception_ptr lostPack_;  // set when a finished pack's bytes were lost
    DestinationHealth health_;

    std::once_flag poolStarted_;
    std::unique_ptr<WorkerPool> pool_;  // started on the first batch that needs it
};

}  // namespace wm
