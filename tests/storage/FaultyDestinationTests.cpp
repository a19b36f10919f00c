#include "support/FaultyDestination.h"

#include <gtest/gtest.h>

#include "support/InMemoryDestination.h"

namespace wm {
namespace {

using test::FaultyDestination;
using test::InMemoryDestination;
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

TEST_F(FaultyTest, LogsEveryCallAndFailsOnlyTheNthMutation) {
    faulty->failMutation(4, DestinationError::outOfSpace(100, 5));
    write(*faulty, kPack, "data");
    faulty->read(kPack, ByteRange{1, 3});
    EXPECT_THROW(faulty->remove(kPack), DestinationError);
    faulty->remove(kPack);
    std::vector<Op> ops;
    for (const auto& c : faulty->calls()) ops.push_back(c.operation);
    EXPECT_EQ(ops, (std::vector<Op>{Op::openWrite, Op::write, Op::commit, Op::read, Op::remove, Op::remove}));
    EXPECT_EQ(faulty->calls()[1].byteCount, 4);
    EXPECT_EQ(faulty->calls()[3].range, (ByteRange{1, 3}));
    EXPECT_TRUE(faulty->calls()[4].failed);
    EXPECT_FALSE(memory->exists(kPack));
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

TEST_F(FaultyTest, PathFaultsFlippedBitsAndRetentionRefusals) {
    const RepoPath index = RepoPath() / "index" / "a.idx";
    memory->put(index, "i");
    memory->put(kPack, std::string(16, '\0'));
    faulty->failCalls("index/*", DestinationError::ioFailed(RepoPath(), "bad sector"), {Op::read}, 2);
    EXPECT_THROW(faulty->read(index), DestinationError);
    EXPECT_TRUE(faulty->exists(index));  // other operations pass
    EXPECT_THROW(faulty->read(index), DestinationError);
    EXPECT_EQ(stringOf(faulty->read(index)), "i");  // used up

    // The same damage whatever range is read; the stored bytes are untouched.
    faulty->flipBitOnRead("packs/*", 8 * 10 + 3);
    EXPECT_EQ(faulty->read(kPack)[10], 0x08);
    EXPECT_EQ(faulty->read(kPack, ByteRange{8, 12}), (Bytes{0, 0, 0x08, 0}));
    std::uint8_t one;
    faulty->readInto(kPack, 10, {&one, 1});
    EXPECT_EQ(one, 0x08);
    EXPECT_EQ(memory->read(kPack), Bytes(16, 0));

    // A retention refusal is no DestinationError, and removes nothing.
    faulty->refuseRemovalUntilRetentionExpires("packs/*");
    try {
        faulty->remove(kPack);
        FAIL();
    } catch (const DestinationError&) {
        FAIL() << "a retention refusal is not a DestinationError";
    } catch (const test::RetentionRefusal& e) {
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
    EXPECT_THROW(faulty->read(RepoPath() / "a"), SimulatedCrash);
    EXPECT_THROW(w->commit(), SimulatedCrash);
    w->cancel();  // never throws
    memory->simulateReset();
    EXPECT_TRUE(memory->exists(RepoPath() / "a"));
    EXPECT_FALSE(memory->exists(RepoPath() / "b"));
}

}  // namespace
}  // namespace wm
