// The power-loss model of the in-memory destination (what survives a reset is what a real
// disk would keep after the same steps) and the fault injector wrapped around it.
#include "support/FaultyDestination.h"
#include "support/InMemoryDestination.h"

#include <gtest/gtest.h>

#include "support/SimulatedCrash.h"

namespace wm {
namespace {

using test::InMemoryDestination;
using test::SimulatedCrash;

const RepoPath kHead = RepoPath() / "refs" / "head";

void write(Destination& d, const RepoPath& path, std::string_view text) {
    auto w = d.openWrite(path);
    w->write(viewOf(text));
    w->commit();
}

TEST(InMemoryPowerLoss, CuttingThePowerAtEveryStepLeavesTheOldOrTheNewObject) {
    for (std::int64_t cut = 1;; ++cut) {
        InMemoryDestination d;
        write(d, kHead, "old");
        d.cutPowerAtStep(cut);
        try {
            write(d, kHead, "new!");
            EXPECT_GE(cut, 6);  // the replacing write takes five steps
            break;
        } catch (const SimulatedCrash&) {
        }
        EXPECT_THROW(d.read(kHead), SimulatedCrash);  // nothing works without power
        d.simulateReset();
        const auto after = stringOf(d.read(kHead));
        // Only a synced folder makes the replacing write final; a rename alone is lost.
        const auto records = d.durableWrites();
        EXPECT_EQ(after, records.size() == 2 && records[1].folderSynced ? "new!" : "old") << "cut " << cut;
        EXPECT_TRUE(d.list(RepoPath() / "tmp").empty());
    }
}

TEST(InMemoryPowerLoss, UnsyncedRemovalsComeBackAndOldWritersAreDead) {
    InMemoryDestination d;
    const RepoPath a = RepoPath() / "gc" / "a";
    write(d, a, "a");
    d.remove(a);
    auto w = d.openWrite(kHead);
    d.simulateReset();
    EXPECT_TRUE(d.exists(a));  // unlink without a folder sync
    EXPECT_THROW(w->commit(), SimulatedCrash);
    d.remove(a);
    write(d, RepoPath() / "gc" / "c", "c");  // its commit syncs the folder "gc"
    d.simulateReset();
    EXPECT_FALSE(d.exists(a));
}

// The fault injector the crash tests rely on: a failed or crashed step must behave as a real
// volume would, or those tests prove nothing.
class FaultInjection : public ::testing::Test {
protected:
    std::shared_ptr<InMemoryDestination> memory = std::make_shared<InMemoryDestination>();
    std::shared_ptr<test::FaultyDestination> faulty = std::make_shared<test::FaultyDestination>(memory);
};

// A write that failed leaves the pending object short of those bytes: committing it anyway
// must fail, as it does on a real volume, never store the shortened object.
TEST_F(FaultInjection, AFailedWriteCannotBeCommittedAfterwards) {
    faulty->failMutation(2, DestinationError::outOfSpace(4, 0));
    auto w = faulty->openWrite(kHead);
    EXPECT_THROW(w->write(viewOf("data")), DestinationError);
    EXPECT_THROW(w->write(viewOf("more")), DestinationError);
    EXPECT_THROW(w->commit(), DestinationError);
    EXPECT_FALSE(memory->exists(kHead));
    w->cancel();
    EXPECT_TRUE(memory->list(RepoPath() / "tmp").empty());
}

TEST_F(FaultInjection, ACrashStopsEveryLaterCallAndIsNoOrdinaryError) {
    write(*faulty, RepoPath() / "a", "a");
    faulty->crashAtMutation(2);  // the write of the next file
    auto w = faulty->openWrite(RepoPath() / "b");
    static_assert(!std::is_base_of_v<std::exception, SimulatedCrash>, "no handler of ordinary errors catches it");
    EXPECT_THROW(w->write(viewOf("b")), SimulatedCrash);
    EXPECT_THROW(faulty->read(RepoPath() / "a"), SimulatedCrash);
    EXPECT_THROW(w->commit(), SimulatedCrash);
    w->cancel();  // never throws
    memory->simulateReset();
    EXPECT_TRUE(memory->exists(RepoPath() / "a"));
    EXPECT_FALSE(memory->exists(RepoPath() / "b"));
}

}  // namespace
}  // namespace wm
