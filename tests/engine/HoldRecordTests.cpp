// Retention holds stored in a repository.
#include <algorithm>

#include <gtest/gtest.h>

#include "SnapshotBrowserFixture.h"
#include "engine/HoldRecord.h"
#include "format/RepositoryLayout.h"
#include "format/SignedFile.h"

namespace wm::test {
namespace {

RetentionHold makeHold(HoldReason reason, int minutes = 0) {
    RetentionHold hold;
    hold.id = HoldID::random();
    hold.reason = std::move(reason);
    hold.protectsSnapshotsBefore = fixedNow().adding(60.0 * minutes);
    hold.createdAt = fixedNow().adding(-60.0);
    return hold;
}

std::vector<RetentionHold> sortedByID(std::vector<RetentionHold> holds) {
    std::sort(holds.begin(), holds.end(), [](const auto& a, const auto& b) { return a.id < b.id; });
    return holds;
}

using Holds = FaultyRepositoryTest;

TEST_F(Holds, EveryReasonRoundTrips) {
    const SnapshotID snapshot = SnapshotID::random();
    const std::vector<RetentionHold> added = {makeHold(HoldReason::userRequested("Keep the wedding photos"), 5),
                                              makeHold(HoldReason::verificationFailure(snapshot), 7),
                                              makeHold(HoldReason::anomalyDetected(), 8)};
    for (const auto& hold : added) addHold(*repository, hold);
    EXPECT_EQ(sortedByID(holds(*repository).holds), sortedByID(added));
    // A failed verification names its snapshot in upper case with hyphens.
    const HoldRecord record = SignedFile::open<HoldRecord>(memory->read(RepositoryLayout::hold(added[1].id)),
                                                           repository->keys(), repository->cipher());
    EXPECT_EQ(record.reason, "verificationFailure");
    EXPECT_EQ(record.note, snapshot.value.uuidString());
}

TEST_F(Holds, RecordToHoldTable) {
    const UUID snapshot = UUID::random();
    std::string lower = snapshot.uuidString();
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    struct Case {
        const char* reason;
        std::optional<std::string> note;
        std::optional<HoldReason> expected;  // nothing: unreadable
    };
    const Case cases[] = {
        {"anomalyDetected", "ignored", HoldReason::anomalyDetected()},
        {"userRequested", std::nullopt, HoldReason::userRequested("")},
        {"verificationFailure", snapshot.uuidString(), HoldReason::verificationFailure(SnapshotID{snapshot})},
        {"verificationFailure", lower, HoldReason::verificationFailure(SnapshotID{snapshot})},
        {"verificationFailure", std::nullopt, std::nullopt},
        {"verificationFailure", snapshot.compactHex(), std::nullopt},
        {"legalHold", "whatever", HoldReason::userRequested("legalHold")},
    };
    for (const Case& c : cases) {
        HoldRecord record(makeHold(HoldReason::anomalyDetected()));
        record.reason = c.reason;
        record.note = c.note;
        const auto hold = record.hold();
        EXPECT_EQ(hold ? std::optional(hold->reason) : std::nullopt, c.expected) << c.reason << " / " << c.note.value_or("-");
    }
}

// One damaged, one unmappable and one unreadable file are counted; the other holds still read.
TEST_F(Holds, BadFilesAreCountedAndTheOthersRead) {
    const RetentionHold good = makeHold(HoldReason::anomalyDetected()), damaged = makeHold(HoldReason::userRequested("b")),
                        unreadable = makeHold(HoldReason::userRequested("c"));
    for (const auto& h : {good, damaged, unreadable}) addHold(*repository, h);

    Bytes bytes = memory->read(RepositoryLayout::hold(damaged.id));
    bytes[bytes.size() - 3] ^= 0x01;  // the signature no longer verifies
    memory->put(RepositoryLayout::hold(damaged.id), bytes);
    HoldRecord noSnapshot(makeHold(HoldReason::anomalyDetected()));
    noSnapshot.reason = "verificationFailure";
    memory->put(RepositoryLayout::hold(HoldID{noSnapshot.id}),
                SignedFile::seal(noSnapshot, repository->keys(), repository->cipher()));
    faulty->failCalls(RepositoryLayout::hold(unreadable.id).string(),
                      DestinationError::ioFailed(RepositoryLayout::hold(unreadable.id), "EIO"),
                      {FaultyDestination::Operation::read});
    memory->put(*RepoPath::parse("holds/notes.txt"), "not a hold");  // not even counted
    memory->put(*RepoPath::parse("holds/short.hold"), "x");          // counted

    const HoldListing listing = holds(*repository);
    EXPECT_EQ(listing.unreadable, 4);
    EXPECT_EQ(listing.holds, std::vector<RetentionHold>{good});
}

TEST_F(Holds, ClearedHoldStaysListedButIsNotActive) {
    RetentionHold keep = makeHold(HoldReason::userRequested("first"));
    const RetentionHold clear = makeHold(HoldReason::userRequested("clear"));
    addHold(*repository, keep);
    keep.reason = HoldReason::userRequested("keep");  // the same identity again: one file, the second record
    addHold(*repository, keep);
    addHold(*repository, clear);
    const Date when = fixedNow().adding(3600.25);
    clearHold(*repository, clear, when);
    EXPECT_EQ(filesUnder(*memory, "holds").size(), 2u);
    RetentionHold cleared = clear;
    cleared.clearedAt = when;
    EXPECT_EQ(sortedByID(holds(*repository).holds), sortedByID({keep, cleared}));
    EXPECT_EQ(activeHolds(*repository), std::vector<RetentionHold>{keep});
}

TEST_F(Holds, FailuresAreThrownAndTheEarlierFileStays) {
    const RetentionHold hold = makeHold(HoldReason::userRequested("x"));
    addHold(*repository, hold);
    const Bytes before = memory->read(RepositoryLayout::hold(hold.id));
    faulty->failCalls("*", DestinationError::outOfSpace(10, 0), {FaultyDestination::Operation::commit});
    EXPECT_THROW(clearHold(*repository, hold, fixedNow()), DestinationError);
    EXPECT_EQ(memory->read(RepositoryLayout::hold(hold.id)), before);

    auto readOnly = openRepository(memory, keys, Repository::Access::readOnly).repository;
    EXPECT_ANY_THROW(addHold(*readOnly, makeHold(HoldReason::anomalyDetected())));
    EXPECT_EQ(holds(*readOnly).holds.size(), 1u);

    faulty->failCalls("holds", DestinationError::ioFailed(RepositoryLayout::holdsDirectory(), "EIO"),
                      {FaultyDestination::Operation::list});
    EXPECT_THROW(activeHolds(*repository), DestinationError);
}

}  // namespace
}  // namespace wm::test
