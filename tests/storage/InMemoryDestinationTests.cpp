// The power-loss model of the in-memory destination: what survives a reset is what a real
// disk would keep after the same steps.
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

std::optional<std::string> contents(InMemoryDestination& d, const RepoPath& path) {
    if (!d.exists(path)) return std::nullopt;
    return stringOf(d.read(path));
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
        const auto after = contents(d, kHead);
        EXPECT_TRUE(after == "old" || after == "new!") << "cut " << cut << ": " << after.value_or("<missing>");
        // Only a synced folder makes the replacing write final; a rename alone is lost.
        auto records = d.durableWrites();
        const bool replacingFinal = records.size() == 2 && records[1].folderSynced;
        EXPECT_EQ(after == "new!", replacingFinal) << "cut " << cut;
        EXPECT_TRUE(d.list(RepoPath() / "tmp").empty());
    }
}

TEST(InMemoryPowerLoss, UnsyncedRemovalsComeBackAndOldWritersAreDead) {
    InMemoryDestination d;
    write(d, RepoPath() / "gc" / "a", "a");
    d.remove(RepoPath() / "gc" / "a");
    auto w = d.openWrite(kHead);
    w->write(viewOf("x"));
    d.simulateReset();
    EXPECT_TRUE(d.exists(RepoPath() / "gc" / "a"));  // unlink without a folder sync
    EXPECT_THROW(w->commit(), SimulatedCrash);
    w->cancel();  // never throws
    EXPECT_FALSE(d.exists(kHead));

    d.remove(RepoPath() / "gc" / "a");
    write(d, RepoPath() / "gc" / "c", "c");  // its commit syncs the folder "gc"
    d.simulateReset();
    EXPECT_FALSE(d.exists(RepoPath() / "gc" / "a"));
    EXPECT_TRUE(d.exists(RepoPath() / "gc" / "c"));
}

}  // namespace
}  // namespace wm
