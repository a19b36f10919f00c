#pragma once
// The packs a repository is filling: new blobs are sealed (several at once on a small pool
// for a batch), appended to the open pack in input order, and each full pack is finished,
// written, read back whole and verified before its blobs are handed to the index.
//
// A blob a caller was told is stored is never dropped: when its pack cannot be written or
// does not read back intact, the finished pack is kept in memory and written by the next
// store, seal or commit; hasUnwritten() tells whether any is waiting.
//
// Threads: holds(), hasUnwritten() and health() may be called from any thread. Everything
// else is called by one writer at a time (the repository's writing lock); within a batch a
// helper thread writes the full pack while the batch fills the next one.
#include <exception>
#include <functional>
#include <list>
#include <memory>
#include <shared_mutex>
#include <span>
#include <thread>
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
    // pack is done. Both run on the writer's thread or the helper thread; their errors pass
    // to the writer.
    using Written = std::function<bool(IndexFile::Section)>;

    PackStore(std::shared_ptr<Destination> destination, BlobCipher cipher, Written written,
              std::function<void()> flushIndex);
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
    // Seals one blob and appends it; false when it was already held here.
    bool store(ByteView plaintext, const BlobID& id, BlobType type);
    // Seals the chunks at `pending` (indexes into chunks and ids) in parallel and appends
    // them strictly in that order; for each, whether it was added. The first failure stops
    // the batch and is thrown; the batch is done when every pack it filled is written.
    std::vector<bool> storeBatch(std::span<const ByteView> chunks, const std::vector<BlobID>& ids,
                                 const std::vector<std::size_t>& pending, BlobType type);
    // Finishes the open pack and writes it and every pack still waiting.
    void sealAndWrite();
    // Writes every pack still waiting, in order, on this thread.
    void writeWaiting();

    // Seals running at once for a number of active processors: 3 below 8, then half the
    // processors, at most 8.
    static int sealingWidth(int activeProcessors);

private:
    bool append(const BlobID& id, BlobType type, ByteView sealed, bool inBatch);
    void seal(bool inBatch);
    // Moves the open pack, if it holds anything, to the packs waiting to be written.
    void finishOpenPack();
    void writePack(std::list<PackWriter::Finished>::iterator pack);
    // Waits for the helper thread's pack; its failure is thrown when asked for.
    void awaitHelper(bool rethrow);
    WorkerPool& pool();

    const std::shared_ptr<Destination> destination_;
    const BlobCipher cipher_;
    const Written written_;
    const std::function<void()> flushIndex_;

    mutable std::shared_mutex mutex_;
    PackWriter openPack_;
    std::list<PackWriter::Finished> unwritten_;
    std::unordered_set<BlobID> unwrittenIDs_;
    std::exception_ptr lostPack_;  // set when a finished pack's bytes were lost
    DestinationHealth health_;

    std::unique_ptr<WorkerPool> pool_;  // started on the first batch that needs it
    std::thread helper_;                // a full pack being written during a batch
    std::exception_ptr helperError_;
};

}  // namespace wm
