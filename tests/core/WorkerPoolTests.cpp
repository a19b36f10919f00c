#include "core/WorkerPool.h"

#include <atomic>
#include <chrono>
#include <numeric>
#include <stdexcept>

#include <gtest/gtest.h>


namespace wm {
namespace {

using namespace std::chrono_literals;

TEST(OrderedPipeline, ConsumesInInputOrderWhateverOrderItemsFinish) {
    WorkerPool pool(4);
    std::vector<std::size_t> consumed;
    // Early items take longest, so they finish last.
    orderedPipeline<std::size_t>(
        pool, 24, 8,
        [](std::size_t k) {
            std::this_thread::sleep_for(std::chrono::microseconds((24 - k) * 300));
            return k * 10;
        },
        [&](std::size_t k, std::size_t&& value) {
            EXPECT_EQ(value, k * 10);
            consumed.push_back(k);
        });
    std::vector<std::size_t> expected(24);
    std::iota(expected.begin(), expected.end(), 0);
    EXPECT_EQ(consumed, expected);
}

TEST(OrderedPipeline, NeverRunsMoreThanTheWindowAheadOfTheConsumer) {
    WorkerPool pool(4);
    std::atomic<std::size_t> consumedCount{0};
    std::atomic<std::size_t> worstLead{0};
    const std::size_t window = 5;
    orderedPipeline<int>(
        pool, 200, window,
        [&](std::size_t k) {
            const std::size_t lead = k - std::min(k, consumedCount.load());
            std::size_t seen = worstLead.load();
            while (lead > seen && !worstLead.compare_exchange_weak(seen, lead)) {
            }
            return 0;
        },
        [&](std::size_t, int&&) {
            std::this_thread::sleep_for(50us);
            consumedCount.fetch_add(1);
        });
    EXPECT_LT(worstLead.load(), window);
}

TEST(OrderedPipeline, FirstProduceErrorStopsEverythingAndIsRethrown) {
    WorkerPool pool(3);
    std::atomic<int> produced{0};
    std::vector<std::size_t> consumed;
    EXPECT_THROW(
        orderedPipeline<int>(
            pool, 1000, 6,
            [&](std::size_t k) {
                produced.fetch_add(1);
                if (k == 10) throw std::runtime_error("seal failed at 10");
                return 1;
            },
            [&](std::size_t k, int&&) { consumed.push_back(k); }),
        std::runtime_error);
    // Nothing at or after the failing item was consumed, and the rest was never handed out.
    for (std::size_t k : consumed) EXPECT_LT(k, 10u);
    EXPECT_LE(produced.load(), 10 + 6);
    // The pool is still usable afterwards.
    std::vector<std::size_t> again;
    orderedPipeline<int>(
        pool, 3, 2, [](std::size_t) { return 0; }, [&](std::size_t k, int&&) { again.push_back(k); });
    EXPECT_EQ(again.size(), 3u);
}

TEST(OrderedPipeline, ConsumerErrorStopsTheProducersCleanly) {
    WorkerPool pool(3);
    std::atomic<int> running{0};
    std::atomic<int> produced{0};
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
    // When the pipeline returns, none of its items is still running.
    EXPECT_EQ(running.load(), 0);
    EXPECT_LE(produced.load(), 3 + 1 + 4);
}

}  // namespace
}  // namespace wm
