#pragma once
// Reads the blobs a restore is about to ask for on a few threads of its own, ahead of
// the walk but within a bounded amount of memory, and hands each over strictly in the
// order announced: its plaintext, or the error reading it gave. Nothing but reading and
// opening blobs happens ahead; every change on disk stays with the walk.
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "core/Bytes.h"
#include "core/Identifiers.h"

namespace wm {

class WorkerPool;

class BlobReadAhead {
public:
    // Told by a read how long the blob's plaintext will be, before room is made for it.
    // Returns once the window has room for it; throws when the blob is no longer wanted.
    using Admit = std::function<void(std::uint64_t length)>;
    // Reads one blob's plaintext into `plaintext`, with a sealed-bytes buffer kept per
    // thread, calling admit before it makes room for the plaintext. Called on several
    // threads at once.
    using Fetch = std::function<void(const BlobID& id, Bytes& sealed, Bytes& plaintext, const Admit& admit)>;

    // `width` reading threads (at least one). A read makes room for a blob only once the
    // plaintext waiting to be taken, plus the blobs being made at the lengths they state,
    // leaves room for it within windowBytes; the blob the walk takes next always may, so a
    // blob larger than the window still passes. A read that never calls admit is counted
    // once it is done. New reads start while the window is not full.
    BlobReadAhead(Fetch fetch, int width, std::size_t windowBytes);
    // Drops what waits and waits for the reads under way.
    ~BlobReadAhead();
    BlobReadAhead(const BlobReadAhead&) = delete;
    BlobReadAhead& operator=(const BlobReadAhead&) = delete;

    // Blobs the walk will ask for next, in this order. What was announced before and not
    // taken is dropped: the walk announces the content of one file at a time, so the queue
    // never holds more than one file's blobs, and a file left part way leaves nothing behind.
    void announce(const std::vector<BlobID>& ids);
    // If id is the next blob announced: moves its plaintext into buffer, or throws the
    // error reading it gave, and returns true. A blob no thread has begun to read yet is
    // read here and now, so the walk never waits for a thread that is not running.
    // Otherwise the walk went another way: drops everything announced and returns false.
    bool take(const BlobID& id, Bytes& buffer);

    // Reading threads for a restore on a machine with this many processors: none on one
    // or two (the walk reads for itself: a single reading thread beside it costs more in
    // hand-overs than it saves), else one fewer than the processors, up to four.
    static int widthFor(int processors);

private:
    struct Slot {
        BlobID id;
        bool begun = false;  // a thread is reading it
        bool done = false;
        Bytes plaintext;
        std::exception_ptr error;
    };

    void startReadsLocked();
    void read(std::uint64_t sequence, std::uint64_t generation, BlobID id);
    void admit(std::uint64_t sequence, std::uint64_t generation, std::uint64_t length);
    bool mayAdmitLocked(std::size_t index, std::uint64_t length) const;
    bool currentLocked(std::uint64_t sequence, std::uint64_t generation) const;
    void dropLocked();

    Fetch fetch_;
    std::size_t width_;
    std::size_t windowBytes_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Slot> slots_;            // announced and not yet taken, in order
    std::uint64_t firstSequence_ = 0;   // sequence number of slots_.front()
    std::uint64_t generation_ = 0;      // bumped when the announced blobs are dropped
    std::size_t started_ = 0;           // slots from the front handed to a thread
    std::size_t running_ = 0;           // reads handed to the pool and not finished
    std::uint64_t waitingBytes_ = 0;    // plaintext of finished slots not yet taken
    std::uint64_t admittedBytes_ = 0;   // stated lengths of admitted reads not finished, dropped ones too
    Bytes sealed_;                      // for the blobs the walk reads itself
    std::unique_ptr<WorkerPool> pool_;  // last: its threads stop before the state above goes
};

}  // namespace wm
