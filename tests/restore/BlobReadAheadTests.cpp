// Blobs read ahead come out in the order announced, each with its own error, whatever
// order the reads finish in; a walk that asks for something else drops what was read.
#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <future>
#include <mutex>
#include <stdexcept>

#include "format/Fixtures.h"
#include "restore/BlobReadAhead.h"

namespace wm {
namespace {

using test::blobFilled;

TEST(BlobReadAhead, DeliversInAnnouncedOrderWithEachBlobsOwnError) {
    // The first read finishes only after the two behind it, the second fails.
    std::promise<void> laterDone;
    std::shared_future<void> later = laterDone.get_future().share();
    std::atomic<int> finishedBehind{0};
    BlobReadAhead readAhead(
        [&](const BlobID& id, Bytes&, Bytes& plaintext, auto&) {
            const std::uint8_t n = id.bytes[0];
            if (n == 1) later.wait();
            plaintext.assign(n, n);
            if (n > 1 && ++finishedBehind == 2) laterDone.set_value();
            if (n == 2) throw std::runtime_error("blob 2 is damaged");
        },
        3, std::size_t{1} << 20);
    readAhead.announce({blobFilled(1), blobFilled(2), blobFilled(3)});
    Bytes buffer;
    ASSERT_TRUE(readAhead.take(blobFilled(1), buffer));
    EXPECT_EQ(buffer, Bytes(1, 1));
    EXPECT_THROW(readAhead.take(blobFilled(2), buffer), std::runtime_error);
    ASSERT_TRUE(readAhead.take(blobFilled(3), buffer));
    EXPECT_EQ(buffer, Bytes(3, 3));
}

TEST(BlobReadAhead, AnotherBlobFirstDropsWhatWasAnnounced) {
    std::atomic<int> reads{0};
    BlobReadAhead readAhead(
        [&](const BlobID& id, Bytes&, Bytes& plaintext, auto&) { plaintext.assign(4, id.bytes[0]), ++reads; }, 2, 64);
    Bytes buffer;
    EXPECT_FALSE(readAhead.take(blobFilled(1), buffer));  // nothing announced
    readAhead.announce({blobFilled(1), blobFilled(2), blobFilled(3)});
    EXPECT_FALSE(readAhead.take(blobFilled(9), buffer));
    EXPECT_FALSE(readAhead.take(blobFilled(1), buffer));
    // Announcing again after the drop starts afresh, also while dropped reads still finish.
    for (int round = 0; round < 50; ++round) {
        readAhead.announce({blobFilled(5), blobFilled(6)});
        ASSERT_TRUE(readAhead.take(blobFilled(5), buffer));
        EXPECT_EQ(buffer, Bytes(4, 5));
        EXPECT_EQ(readAhead.take(blobFilled(round % 2 ? 6 : 7), buffer), round % 2 == 1);
    }
    EXPECT_LE(reads.load(), 3 + 2 * 50);
}

// A file left part way leaves nothing queued: the next file's blobs are read ahead all the same.
TEST(BlobReadAhead, AnAnnouncementReplacesWhatWasNotTaken) {
    BlobReadAhead readAhead(
        [&](const BlobID& id, Bytes&, Bytes& plaintext, auto&) { plaintext.assign(2, id.bytes[0]); }, 2, 1024);
    Bytes buffer;
    readAhead.announce({blobFilled(1), blobFilled(2), blobFilled(3)});
    ASSERT_TRUE(readAhead.take(blobFilled(1), buffer));
    readAhead.announce({blobFilled(5), blobFilled(6)});
    ASSERT_TRUE(readAhead.take(blobFilled(5), buffer));
    EXPECT_EQ(buffer, Bytes(2, 5));
    ASSERT_TRUE(readAhead.take(blobFilled(6), buffer));
    EXPECT_FALSE(readAhead.take(blobFilled(2), buffer));
}

// Reads make room for their blobs at the lengths the blobs state, within the window, and the
// blob the walk takes next besides: with a window of 100 and blobs stating 60, at most two are
// being made at a time, however many readers there are. Reads still waiting for room when the
// walk goes another way give up.
TEST(BlobReadAhead, ReadsMakeRoomTogetherWithinTheWindowAtTheLengthsStated) {
    std::mutex mutex;
    std::condition_variable changed;
    int arrived = 0;
    std::uint64_t making = 0, most = 0;
    BlobReadAhead readAhead(
        [&](const BlobID& id, Bytes&, Bytes& plaintext, const BlobReadAhead::Admit& admit) {
            std::unique_lock lock(mutex);
            ++arrived;
            changed.notify_all();
            lock.unlock();
            admit(60);
            lock.lock();
            most = std::max(most, making += 60);
            changed.wait(lock, [&] { return arrived >= 4 || making > 100; });
            making -= 60;
            plaintext.assign(60, id.bytes[0]);
        },
        4, 100);
    readAhead.announce({blobFilled(1), blobFilled(2), blobFilled(3), blobFilled(4), blobFilled(5)});
    {
        // Every reader has begun before any blob is let finish or taken.
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return arrived >= 4; });
    }
    Bytes buffer;
    for (std::uint8_t n = 1; n <= 5; ++n) {
        ASSERT_TRUE(readAhead.take(blobFilled(n), buffer));
        EXPECT_EQ(buffer, Bytes(60, n));
    }
    EXPECT_LE(most, 120u);

    readAhead.announce({blobFilled(6), blobFilled(7), blobFilled(8)});
    readAhead.announce({blobFilled(9)});
    ASSERT_TRUE(readAhead.take(blobFilled(9), buffer));
    EXPECT_EQ(buffer, Bytes(60, 9));
}

}  // namespace
}  // namespace wm
