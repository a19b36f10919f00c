#pragma once
// A small fixed set of worker threads, and an ordered pipeline over it: items are produced
// in parallel and consumed on the calling thread strictly in input order.
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace wm {

// The number of processors this process may run on (its CPU affinity), at least 1.
int activeProcessorCount();

class WorkerPool {
public:
    // Starts `width` threads (at least one).
    explicit WorkerPool(int width);
    // Lets queued tasks finish, then joins the threads.
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    int width() const { return static_cast<int>(threads_.size()); }
    // Queues a task. Tasks must not throw (wrap them); the pool never reports anything.
    void submit(std::function<void()> task);

private:
    void run();

    std::vector<std::thread> threads_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> queue_;
    bool stopping_ = false;
};

// Runs produce(k) for k = 0 ..< count on the pool and consume(k, result) on the calling
// thread in the order k = 0, 1, 2, ... At most `window` items are handed out ahead of the
// next one to consume, so at most `window` results wait in memory, and at most `parallel`
// of them run at once (pipelines sharing a larger pool each keep to their own share). Items
// are handed out both by the consumer and by the workers as they finish, so the pool keeps
// working while the consumer is busy (writing a full pack, say).
//
// The first exception, from produce or consume, stops the pipeline: no further item is
// handed out, items not yet started are skipped, the running ones are waited for, and then
// that exception is rethrown. Nothing of the pipeline runs after it returns or throws.
template <class Result>
void orderedPipeline(WorkerPool& pool, std::size_t count, std::size_t window,
                     const std::function<Result(std::size_t)>& produce,
                     const std::function<void(std::size_t, Result&&)>& consume,
                     std::size_t parallel = static_cast<std::size_t>(-1)) {
    if (count == 0) return;
    if (window == 0) window = 1;

    // Shared with the tasks: a task may still be unwinding its closure when the caller
    // returns, so the state it touches lives as long as the last task.
    struct State : std::enable_shared_from_this<State> {
        WorkerPool* pool = nullptr;
        const std::function<Result(std::size_t)>* produce = nullptr;
        std::size_t count = 0;
        std::size_t window = 0;
        std::size_t parallel = 0;
        std::mutex mutex;
        std::condition_variable changed;
        std::vector<std::optional<Result>> results;
        std::exception_ptr error;
        bool stop = false;
        std::size_t running = 0;
        std::size_t handedOut = 0;
        std::size_t consumed = 0;

        // With mutex held: hands out what the window allows.
        void handOutLocked() {
            while (!stop && handedOut < count && handedOut < consumed + window && running < parallel) {
                const std::size_t k = handedOut++;
                ++running;
                pool->submit([self = this->shared_from_this(), k] { self->runItem(k); });
            }
        }

        void runItem(std::size_t k) {
            bool skip;
            {
                std::lock_guard lock(mutex);
                skip = stop;
            }
            std::optional<Result> value;
            std::exception_ptr failure;
            if (!skip) {
                try {
                    value.emplace((*produce)(k));
                } catch (...) {
                    failure = std::current_exception();
                }
            }
            std::lock_guard lock(mutex);
            if (failure && !error) {
                error = failure;
                stop = true;
            }
            if (value) results[k] = std::move(value);
            --running;
            handOutLocked();
            changed.notify_all();
        }
    };
    auto state = std::make_shared<State>();
    state->pool = &pool;
    state->produce = &produce;
    state->count = count;
    state->window = window;
    state->parallel = parallel == 0 ? 1 : parallel;
    state->results.resize(count);

    // Stops the pipeline and waits until no task of it runs.
    auto drain = [&] {
        std::unique_lock lock(state->mutex);
        state->stop = true;
        state->changed.wait(lock, [&] { return state->running == 0; });
    };

    try {
        {
            std::lock_guard lock(state->mutex);
            state->handOutLocked();
        }
        for (std::size_t next = 0; next < count; ++next) {
            Result value;
            {
                std::unique_lock lock(state->mutex);
                state->changed.wait(lock, [&] { return state->error || state->results[next].has_value(); });
                if (state->error) break;
                value = std::move(*state->results[next]);
                state->results[next].reset();
            }
            consume(next, std::move(value));
            std::lock_guard lock(state->mutex);
            state->consumed = next + 1;
            state->handOutLocked();
        }
    } catch (...) {
        drain();
        throw;
    }
    drain();
    std::lock_guard lock(state->mutex);
    if (state->error) std::rethrow_exception(state->error);
}

}  // namespace wm
