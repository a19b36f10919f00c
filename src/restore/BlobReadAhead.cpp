#include "restore/BlobReadAhead.h"

#include <algorithm>

#include "core/WorkerPool.h"

namespace wm {

namespace {

// Thrown by admit to a read whose blob was dropped while it waited for room.
struct Dropped {};

}  // namespace

BlobReadAhead::BlobReadAhead(Fetch fetch, int width, std::size_t windowBytes)
    : fetch_(std::move(fetch)),
      width_(static_cast<std::size_t>(std::max(width, 1))),
      windowBytes_(windowBytes),
      pool_(std::make_unique<WorkerPool>(std::max(width, 1))) {}

BlobReadAhead::~BlobReadAhead() {
    std::unique_lock lock(mutex_);
    dropLocked();
    changed_.wait(lock, [&] { return running_ == 0; });
}

int BlobReadAhead::widthFor(int processors) { return processors <= 2 ? 0 : std::min(processors - 1, 4); }

void BlobReadAhead::announce(const std::vector<BlobID>& ids) {
    std::lock_guard lock(mutex_);
    if (!slots_.empty()) dropLocked();
    for (const BlobID& id : ids) slots_.push_back(Slot{id});
    startReadsLocked();
}

bool BlobReadAhead::take(const BlobID& id, Bytes& buffer) {
    std::unique_lock lock(mutex_);
    if (slots_.empty() || !(slots_.front().id == id)) {
        dropLocked();
        return false;
    }
    const bool readHere = !slots_.front().begun;
    if (!readHere) changed_.wait(lock, [&] { return slots_.front().done; });
    Slot slot = std::move(slots_.front());
    slots_.pop_front();
    ++firstSequence_;
    if (started_ > 0) --started_;
    waitingBytes_ -= slot.plaintext.size();
    startReadsLocked();
    changed_.notify_all();  // a read waiting for room may now have it, or be next
    lock.unlock();
    if (readHere) {
        // Its task, if one was handed out, finds the slot gone and reads nothing.
        fetch_(id, sealed_, buffer, [](std::uint64_t) {});
        return true;
    }
    if (slot.error) std::rethrow_exception(slot.error);
    buffer = std::move(slot.plaintext);
    return true;
}

void BlobReadAhead::dropLocked() {
    slots_.clear();
    firstSequence_ = 0;
    started_ = 0;
    waitingBytes_ = 0;
    ++generation_;
    changed_.notify_all();  // reads waiting for room give up
}

bool BlobReadAhead::currentLocked(std::uint64_t sequence, std::uint64_t generation) const {
    return generation == generation_ && sequence >= firstSequence_;
}

void BlobReadAhead::startReadsLocked() {
    while (started_ < slots_.size() && running_ < width_) {
        const bool full = waitingBytes_ + admittedBytes_ >= windowBytes_;
        if (full && (waitingBytes_ > 0 || running_ > 0)) break;
        ++running_;
        pool_->submit([this, sequence = firstSequence_ + started_, generation = generation_, id = slots_[started_].id] {
            read(sequence, generation, id);
        });
        ++started_;
    }
}

bool BlobReadAhead::mayAdmitLocked(std::size_t index, std::uint64_t length) const {
    // The blob the walk takes next always may; another once the window has room for it. A read
    // never waits for those before it: each becomes the next in turn, so none waits for ever.
    return index == 0 || waitingBytes_ + admittedBytes_ + length <= windowBytes_;
}

void BlobReadAhead::admit(std::uint64_t sequence, std::uint64_t generation, std::uint64_t length) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] {
        return !currentLocked(sequence, generation) ||
               mayAdmitLocked(static_cast<std::size_t>(sequence - firstSequence_), length);
    });
    if (!currentLocked(sequence, generation)) throw Dropped{};
    admittedBytes_ += length;
}

void BlobReadAhead::read(std::uint64_t sequence, std::uint64_t generation, BlobID id) {
    {
        std::lock_guard lock(mutex_);
        if (!currentLocked(sequence, generation)) {
            --running_;  // taken by the walk meanwhile, or dropped
            startReadsLocked();
            changed_.notify_all();
            return;
        }
        slots_[static_cast<std::size_t>(sequence - firstSequence_)].begun = true;
    }
    thread_local Bytes sealed;
    Bytes plaintext;
    std::exception_ptr error;
    std::uint64_t admitted = 0;
    try {
        fetch_(id, sealed, plaintext, [&](std::uint64_t length) {
            admit(sequence, generation, length);
            admitted += length;
        });
    } catch (...) {
        error = std::current_exception();
    }
    std::lock_guard lock(mutex_);
    --running_;
    admittedBytes_ -= admitted;
    if (currentLocked(sequence, generation)) {
        Slot& slot = slots_[static_cast<std::size_t>(sequence - firstSequence_)];
        slot.plaintext = std::move(plaintext);
        slot.error = error;
        slot.done = true;
        waitingBytes_ += slot.plaintext.size();
    }
    startReadsLocked();
    changed_.notify_all();
}

}  // namespace wm
