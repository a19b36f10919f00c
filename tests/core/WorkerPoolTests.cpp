#include "core/WorkerPool.h"

#include <atomic>
#include <chrono>
#include <numeric>
#include <stdexcept>

#include <gtest/gtest.h>

namespace wm {
namespace {

using namespace std::chrono_literals;

// Early items take longest, so they finish last; the consumer still sees input order, no item
// is produced more than the window ahead of it, and no more than `parallel` run at once on a
// larger pool.
TEST(OrderedPipeline, ConsumesInInputOrderWithinTheWindowAndTheParallelShare) {
    WorkerPool pool(6);
    const std::size_t count = 48, window = 5, parallel = 2;
    std::vector<std::size_t> consumed;
    std::atomic<std::size_t> worstLead{0}, consumedCount{0}, running{0}, mostRunning{0};
    auto raise = [](std::atomic<std::size_t>& most, std::size_t value) {
        std::size_t seen = most.load();
        while (value > seen && !most.compare_exchange_weak(seen, value)) {
        }
    };
    orderedPipeline<std::size_t>(
        pool, count, window,
        [&](std::size_t k) {
            raise(mostRunning, running.fetch_add(1) + 1);
            raise(worstLead, k - std::min(k, consumedCount.load()));
            std::this_thread::sleep_for(std::chrono::microseconds((count - k) * 100));
            running.fetch_sub(1);
            return k * 10;
        },
        [&](std::size_t k, std::size_t&& value) {
            EXPECT_EQ(value, k * 10);
            consumed.push_back(k);
            consumedCount.fetch_add(1);
        },
        parallel);
    std::vector<std::size_t> expected(count);
    std::iota(expected.begin(), expected.end(), 0);
    EXPECT_EQ(consumed, expected);
    EXPECT_LT(worstLead.load(), window);
    EXPECT_EQ(mostRunning.load(), parallel);
}

TEST(OrderedPipeline, FirstErrorOnEitherSideStopsEverythingAndIsRethrown) {
    WorkerPool pool(3);
    std::atomic<int> produced{0}, running{0};
    std::vector<std::size_t> consumed;
    EXPECT_THROW(orderedPipeline<int>(
                     pool, 1000, 6,
                     [&](std::size_t k) {
                         produced.fetch_add(1);
                         if (k == 10) throw std::runtime_error("seal failed at 10");
                         return 1;
                     },
                     [&](std::size_t k, int&&) { consumed.push_back(k); }),
                 std::runtime_error);
    for (std::size_t k : consumed) EXPECT_LT(k, 10u);
    EXPECT_LE(produced.load(), 10 + 6);

    // The pool is still usable; a consumer's error leaves no producer running.
    produced = 0;
    EXPECT_THROW(orderedPipeline<int>(
                     pool, 500, 4,
                     [&](std::size_t) {
                         running.fetch_add(1);
                         std::this_thread::sleep_for(200us);
                         produced.fetch_add(1);
                         running.fetch_sub(1);
                         return 0;
                     },
                     [&](std::size_t k, int&&) {
                         if (k == 3) throw std::logic_error("append failed");
                     }),
                 std::logic_error);
    EXPECT_EQ(running.load(), 0);
    EXPECT_LE(produced.load(), 3 + 1 + 4);
}

}  // namespace
}  // namespace wm
