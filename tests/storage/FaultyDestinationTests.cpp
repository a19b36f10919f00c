#include "support/FaultyDestination.h"

#include <gtest/gtest.h>

#include "support/InMemoryDestination.h"

namespace wm {
namespace {

using test::FaultyDestination;
using test::InMemoryDestination;
using test::RetentionRefusal;
using test::SimulatedCrash;
using Op = FaultyDestination::Operation;

const RepoPath kPack = RepoPath() / "packs" / "ab" / "ab.pack";

class FaultyTest : public ::testing::Test {
protected:
    void write(Destination& d, const RepoPath& path, std::string_view text) {
        auto w = d.openWrite(path);
        w->write(viewOf(text));
        w->commit();
    }
    std::shared_ptr<InMemoryDestination> memory = std::make_shared<InMemoryDestination>();
    std::shared_ptr<FaultyDestination> faulty = std::make_shared<FaultyDestination>(memory);
};

TEST_F(FaultyTest, LogsEveryCall) {
    write(*faulty, kPack, "data");
    faulty->read(kPack, ByteRange{1, 3});
    faulty->list(RepoPath() / "packs");
    faulty->remove(kPack);
    auto calls = faulty->calls();
    std::vector<Op> ops;
    for (const auto& c : calls) ops.push_back(c.operation);
    EXPECT_EQ(ops, (std::vector<Op>{Op::openWrite, Op::write, Op::commit, Op::read, Op::list, Op::remove}));
    EXPECT_EQ(calls[1].byteCount, 4);
    EXPECT_EQ(calls[3].range, (ByteRange{1, 3}));
    EXPECT_EQ(calls[4].path, RepoPath() / "packs");
    EXPECT_EQ(faulty->mutatingCallCount(), 4);
}

TEST_F(FaultyTest, FailsTheNthMutatingCall) {
    // Calls 1..3 are openWrite, write, commit of the first file; 4.. the second.
    for (std::int64_t n = 1; n <= 3; ++n) {
        SCOPED_TRACE(n);
        memory = std::make_shared<InMemoryDestination>();
        faulty = std::make_shared<FaultyDestination>(memory);
        faulty->failMutation(n, DestinationError::outOfSpace(100, 5));
        try {
            write(*faulty, kPack, "data");
            FAIL();
        } catch (const DestinationError& e) {
            EXPECT_EQ(e.kind, DestinationError::Kind::outOfSpace);
        }
        EXPECT_FALSE(memory->exists(kPack));
        EXPECT_TRUE(faulty->calls().back().failed);
        write(*faulty, kPack, "again");  // only the nth call failed
        EXPECT_EQ(stringOf(memory->read(kPack)), "again");
    }
}

// A write that failed leaves the pending object short of those bytes: committing it anyway
// must fail, as it does on a real volume, never store the shortened object.
TEST_F(FaultyTest, AFailedWriteCannotBeCommittedAfterwards) {
    faulty->failMutation(2, DestinationError::outOfSpace(4, 0));
    auto w = faulty->openWrite(kPack);
    EXPECT_THROW(w->write(viewOf("data")), DestinationError);
    EXPECT_THROW(w->write(viewOf("more")), DestinationError);
    EXPECT_THROW(w->commit(), DestinationError);
    EXPECT_FALSE(memory->exists(kPack));
    w->cancel();
    EXPECT_TRUE(memory->list(RepoPath() / "tmp").empty());
}

TEST_F(FaultyTest, FailsCallsOnMatchingPaths) {
    faulty->failCalls("index/*", DestinationError::ioFailed(RepoPath(), "bad sector"), {Op::read}, 2);
    memory->put(RepoPath() / "index" / "a.idx", "i");
    memory->put(RepoPath() / "keys" / "k", "k");
    EXPECT_THROW(faulty->read(RepoPath() / "index" / "a.idx"), DestinationError);
    EXPECT_EQ(stringOf(faulty->read(RepoPath() / "keys" / "k")), "k");
    EXPECT_TRUE(faulty->exists(RepoPath() / "index" / "a.idx"));  // other operations pass
    EXPECT_THROW(faulty->read(RepoPath() / "index" / "a.idx"), DestinationError);
    EXPECT_EQ(stringOf(faulty->read(RepoPath() / "index" / "a.idx")), "i");  // used up

    faulty->failCalls("*", DestinationError::unavailable(memory->id(), Availability::unreachable("cable")));
    EXPECT_THROW(faulty->list(RepoPath()), DestinationError);
    EXPECT_EQ(faulty->availability().case_, Availability::Case::unreachable);
    faulty->clearFaults();
    EXPECT_NO_THROW(faulty->list(RepoPath()));
}

TEST_F(FaultyTest, FlippedBitsAreTheSameDamageWhateverRangeIsRead) {
    memory->put(kPack, std::string(16, '\0'));
    faulty->flipBitOnRead("packs/*", 8 * 10 + 3);  // byte 10, bit 3
    auto whole = faulty->read(kPack);
    EXPECT_EQ(whole[10], 0x08);
    EXPECT_EQ(std::count(whole.begin(), whole.end(), 0), 15);
    auto part = faulty->read(kPack, ByteRange{8, 12});
    EXPECT_EQ(part, (Bytes{0, 0, 0x08, 0}));
    EXPECT_EQ(faulty->read(kPack, ByteRange{0, 10}), Bytes(10, 0));
    std::uint8_t one;
    faulty->readInto(kPack, 10, {&one, 1});
    EXPECT_EQ(one, 0x08);
    EXPECT_EQ(memory->read(kPack), Bytes(16, 0));  // the stored bytes are untouched
}

TEST_F(FaultyTest, RetentionRefusalsCarryTheTextAndRemoveNothing) {
    memory->put(kPack, "p");
    faulty->refuseRemovalUntilRetentionExpires("packs/*");
    try {
        faulty->remove(kPack);
        FAIL();
    } catch (const DestinationError&) {
        FAIL() << "a retention refusal is not a DestinationError";
    } catch (const RetentionRefusal& e) {
        EXPECT_NE(std::string(e.what()).find("retention expires"), std::string::npos);
    }
    EXPECT_TRUE(memory->exists(kPack));
}

TEST_F(FaultyTest, ACrashStopsEveryLaterCallAndIsNoOrdinaryError) {
    write(*faulty, RepoPath() / "a", "a");
    faulty->crashAtMutation(2);  // the write of the next file
    auto w = faulty->openWrite(RepoPath() / "b");
    bool caughtAsError = false;
    try {
        w->write(viewOf("b"));
    } catch (const std::exception&) {
        caughtAsError = true;
    } catch (const SimulatedCrash&) {
    }
    EXPECT_FALSE(caughtAsError);
    EXPECT_TRUE(faulty->hasCrashed());
    EXPECT_THROW(faulty->read(RepoPath() / "a"), SimulatedCrash);
    EXPECT_THROW(w->commit(), SimulatedCrash);
    w->cancel();  // never throws; the machine is gone, so nothing is cleaned up
    // Paired with the in-memory model: the reset keeps what was made durable.
    memory->simulateReset();
    EXPECT_TRUE(memory->exists(RepoPath() / "a"));
    EXPECT_FALSE(memory->exists(RepoPath() / "b"));
}

}  // namespace
}  // namespace wm
