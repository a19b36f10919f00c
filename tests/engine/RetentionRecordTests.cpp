// Retention holds and the retention setting stored in a repository.
#include <algorithm>
#include <limits>

#include <gtest/gtest.h>

#include "engine/HoldRecord.h"
#include "engine/RetentionRecord.h"
#include "format/RepositoryLayout.h"
#include "format/SignedFile.h"
#include "support/DataTable.h"
#include "support/EngineTestSupport.h"

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

// Every reason reads back; the same identity again replaces its file; a cleared hold stays
// listed but is not active.
TEST_F(Holds, EveryReasonRoundTripsAndAClearedHoldIsNotActive) {
    const SnapshotID snapshot = SnapshotID::random();
    RetentionHold user = makeHold(HoldReason::userRequested("first"), 5);
    const RetentionHold failure = makeHold(HoldReason::verificationFailure(snapshot), 7),
                        anomaly = makeHold(HoldReason::anomalyDetected(), 8);
    for (const auto& hold : {user, failure, anomaly}) addHold(*repository, hold);
    user.reason = HoldReason::userRequested("Keep the wedding photos");
    addHold(*repository, user);
    const Date when = fixedNow().adding(3600.25);
    clearHold(*repository, anomaly, when);
    RetentionHold cleared = anomaly;
    cleared.clearedAt = when;
    EXPECT_EQ(filesUnder(*memory, "holds").size(), 3u);
    EXPECT_EQ(sortedByID(holds(*repository).holds), sortedByID({user, failure, cleared}));
    EXPECT_EQ(sortedByID(activeHolds(*repository)), sortedByID({user, failure}));
    // A failed verification names its snapshot in upper case with hyphens.
    const HoldRecord record = SignedFile::open<HoldRecord>(memory->read(RepositoryLayout::hold(failure.id)),
                                                           repository->keys(), repository->cipher());
    EXPECT_EQ(record.note, snapshot.value.uuidString());
}

TEST_F(Holds, RecordToHoldTable) {
    const UUID snapshot = UUID::random();
    // Reason, note, the hold's reason (nothing: unreadable).
    using Case = std::tuple<std::string, std::optional<std::string>, std::optional<HoldReason>>;
    const Case cases[] = {
        {"anomalyDetected", "ignored", HoldReason::anomalyDetected()},
        {"userRequested", std::nullopt, HoldReason::userRequested("")},
        {"verificationFailure", snapshot.uuidString(), HoldReason::verificationFailure(SnapshotID{snapshot})},
        {"verificationFailure", std::nullopt, std::nullopt},
        {"verificationFailure", snapshot.compactHex(), std::nullopt},
        {"legalHold", "whatever", HoldReason::userRequested("legalHold")},
    };
    for (const auto& [reason, note, expected] : cases) {
        HoldRecord record(makeHold(HoldReason::anomalyDetected()));
        record.reason = reason;
        record.note = note;
        const auto hold = record.hold();
        EXPECT_EQ(hold ? std::optional(hold->reason) : std::nullopt, expected) << reason << " / " << note.value_or("-");
    }
}

// One damaged, one unmappable and one unreadable file are counted; the other holds still read.
TEST_F(Holds, BadFilesAreCountedAndTheOthersRead) {
    const RetentionHold good = makeHold(HoldReason::anomalyDetected()),
                        damaged = makeHold(HoldReason::userRequested("b")),
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
    EXPECT_EQ(holds(*repository).unreadable, 4);
    EXPECT_EQ(holds(*repository).holds, std::vector<RetentionHold>{good});
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

constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();

using RetentionSetting = FaultyRepositoryTest;

TEST_F(RetentionSetting, EveryRuleRoundTrips) {
    EXPECT_EQ(retentionPolicy(*repository), std::nullopt);
    for (const RetentionPolicy& policy :
         {RetentionPolicy::duration(7), RetentionPolicy::smart(24, 7, 12, kMax), RetentionPolicy::size(500000000000)}) {
        setRetentionPolicy(*repository, policy);
        EXPECT_EQ(retentionPolicy(*repository), policy);
    }
    // The record holds only its rule's keys.
    setRetentionPolicy(*repository, RetentionPolicy::lastN(30));
    const Bytes payload = SignedFile::openPayload(memory->read(RepositoryLayout::retentionSetting()),
                                                  repository->keys(), repository->cipher());
    EXPECT_EQ(std::string(payload.begin(), payload.end()), R"({"count":30,"rule":"lastN","v":2})");
}

// A stored record, the policy it stands for as the record that policy writes.
TEST_F(RetentionSetting, RecordToPolicyTable) {
    for (const auto& row : dataTable("engine/retention-records.tsv", 2)) {
        memory->put(RepositoryLayout::retentionSetting(),
                    SignedFile::sealPayload(bytesOf(row[0]), repository->keys(), repository->cipher()));
        EXPECT_EQ(RetentionRecord(retentionPolicy(*repository).value()).toJSON().dump(), row[1]) << row[0];
    }
}

TEST_F(RetentionSetting, DamagedFileKeepsEverything) {
    setRetentionPolicy(*repository, RetentionPolicy::lastN(3));
    const Bytes whole = memory->read(RepositoryLayout::retentionSetting());
    Bytes flipped = whole;
    flipped[20] ^= 0x40;
    for (const Bytes& damaged : {Bytes(whole.begin(), whole.begin() + 10), flipped}) {
        memory->put(RepositoryLayout::retentionSetting(), damaged);
        EXPECT_EQ(retentionPolicy(*repository), RetentionRecord::keepEverything());
    }
    // A file that cannot be read right now is no setting.
    faulty->failCalls("refs/retention", DestinationError::ioFailed(RepositoryLayout::retentionSetting(), "EIO"),
                      {FaultyDestination::Operation::read});
    EXPECT_EQ(retentionPolicy(*repository), std::nullopt);
}

}  // namespace
}  // namespace wm::test
