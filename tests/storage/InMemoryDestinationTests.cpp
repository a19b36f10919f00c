// The power-loss model of the in-memory destination: what survives a reset is what a real
// disk would keep after the same steps.
#include "support/InMemoryDestination.h"

#include <gtest/gtest.h>

#include "support/SimulatedCrash.h"

namespace wm {
namespace {

using test::InMemoryDestination;
using test::SimulatedCrash;
using Step = InMemoryDestination::Step;

const RepoPath kHead = RepoPath() / "refs" / "head";

void write(Destination& d, const RepoPath& path, std::string_view text) {
    auto w = d.openWrite(path);
    w->write(viewOf(text));
    w->commit();
}

std::optional<std::string> contents(InMemoryDestination& d, const RepoPath& path) {
    if (!d.exists(path)) return std::nullopt;
    return stringOf(d.read(path));
}

TEST(InMemoryPowerLoss, ACommittedWriteSurvivesAndRecordsEveryStage) {
    InMemoryDestination d;
    write(d, kHead, "v1");
    d.simulateReset();
    EXPECT_EQ(contents(d, kHead), "v1");
    auto records = d.durableWrites();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].path, kHead);
    EXPECT_EQ(records[0].bytesWritten, 2);
    EXPECT_TRUE(records[0].dataSynced && records[0].renamed && records[0].folderSynced);
}

TEST(InMemoryPowerLoss, CuttingThePowerAtEveryStepLeavesTheOldOrTheNewObject) {
    // First write: folders "refs" and "tmp" created, the temporary file, one write, sync,
    // rename, folder sync. The second write replaces the first.
    for (std::int64_t cut = 1;; ++cut) {
        InMemoryDestination d;
        write(d, kHead, "old");
        d.cutPowerAtStep(cut);
        bool crashed = false;
        try {
            write(d, kHead, "new!");
        } catch (const SimulatedCrash&) {
            crashed = true;
        }
        if (!crashed) {
            EXPECT_EQ(contents(d, kHead), "new!");
            EXPECT_GE(cut, 6);  // the replacing write takes five steps
            break;
        }
        EXPECT_TRUE(d.powerIsOff());
        EXPECT_THROW(d.read(kHead), SimulatedCrash);  // nothing works without power
        d.simulateReset();
        const auto after = contents(d, kHead);
        EXPECT_TRUE(after == "old" || after == "new!") << "cut " << cut << ": " << after.value_or("<missing>");
        // What a reset keeps of the replacing write: only a synced folder makes it final.
        auto records = d.durableWrites();
        const bool replacingFinal = records.size() == 2 && records[1].folderSynced;
        EXPECT_EQ(after == "new!", replacingFinal) << "cut " << cut;
        // Debris is never visible at the final path, and nothing unsynced stays in tmp.
        EXPECT_TRUE(d.list(RepoPath() / "tmp").empty());
    }
}

TEST(InMemoryPowerLoss, ARenameWithoutAFolderSyncIsLost) {
    InMemoryDestination d;
    write(d, kHead, "old");
    d.cutPowerAtStep(5);  // createTemporary, writeData, syncData, rename, [syncFolder]
    EXPECT_THROW(write(d, kHead, "new"), SimulatedCrash);
    auto record = d.durableWrites().back();
    EXPECT_TRUE(record.dataSynced);
    EXPECT_TRUE(record.renamed);
    EXPECT_FALSE(record.folderSynced);
    d.simulateReset();
    EXPECT_EQ(contents(d, kHead), "old");
}

TEST(InMemoryPowerLoss, UnsyncedRemovalsComeBackAndSyncedOnesStayGone) {
    InMemoryDestination d;
    write(d, RepoPath() / "gc" / "a", "a");
    write(d, RepoPath() / "gc" / "b", "b");
    d.remove(RepoPath() / "gc" / "a");
    EXPECT_FALSE(d.exists(RepoPath() / "gc" / "a"));
    d.simulateReset();
    EXPECT_TRUE(d.exists(RepoPath() / "gc" / "a"));  // unlink without a folder sync
    d.remove(RepoPath() / "gc" / "a");
    write(d, RepoPath() / "gc" / "c", "c");  // its commit syncs the folder "gc"
    d.simulateReset();
    EXPECT_FALSE(d.exists(RepoPath() / "gc" / "a"));
    EXPECT_TRUE(d.exists(RepoPath() / "gc" / "c"));
}

TEST(InMemoryPowerLoss, WritersFromBeforeAResetAreDead) {
    InMemoryDestination d;
    auto w = d.openWrite(kHead);
    w->write(viewOf("x"));
    d.simulateReset();
    EXPECT_THROW(w->commit(), SimulatedCrash);
    w->cancel();  // never throws
    EXPECT_FALSE(d.exists(kHead));
    EXPECT_TRUE(d.list(RepoPath() / "tmp").empty());
}

TEST(InMemoryDestination, UnavailableDestinationsSaySo) {
    InMemoryDestination d;
    d.put(kHead, "h");
    d.setAvailability(Availability::notMounted("Backup Drive"));
    try {
        d.read(kHead);
        FAIL();
    } catch (const DestinationError& e) {
        EXPECT_EQ(e.kind, DestinationError::Kind::unavailable);
        EXPECT_EQ(e.destination, d.id());
        EXPECT_EQ(e.availability, Availability::notMounted("Backup Drive"));
    }
    EXPECT_EQ(d.availability().case_, Availability::Case::notMounted);
    d.setAvailability(Availability::available());
    EXPECT_EQ(stringOf(d.read(kHead)), "h");
    EXPECT_EQ(d.kind(), DestinationKind::synthetic());
}

TEST(InMemoryDestination, PutIsDurableAtOnce) {
    InMemoryDestination d;
    d.put(RepoPath() / "a" / "b" / "c", "deep");
    d.simulateReset();
    EXPECT_EQ(contents(d, RepoPath() / "a" / "b" / "c"), "deep");
    EXPECT_EQ(d.folders(), (std::vector<std::string>{"a", "a/b"}));
    EXPECT_EQ(d.stepsTaken(), 0);
}

}  // namespace
}  // namespace wm
