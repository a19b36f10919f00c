// The writing lock with two devices on one repository folder.
#include <gtest/gtest.h>

#include "core/RepositoryJSON.h"
#include "engine/WritingLock.h"
#include "format/RepositoryLayout.h"
#include "support/EngineTestSupport.h"

namespace wm::test {
namespace {

using Verdict = RepositoryLock::Verdict;

DeviceID otherDevice() { return *DeviceID::fromBytes(Bytes(16, 0x3C)); }

class WritingLockTest : public FaultyRepositoryTest {
protected:
    Repository& mine = *repository;
    std::shared_ptr<Repository> theirs = Repository::open(faulty, keys, otherDevice(), std::string(kAppVersion),
                                                          std::nullopt, Repository::Access::readWrite)
                                             .repository;
    Date now = fixedNow();

    std::optional<Bytes> lockBytes() const {
        const auto files = memory->files();
        const auto it = files.find(RepositoryLayout::lockFile().string());
        return it == files.end() ? std::nullopt : std::optional(it->second);
    }
    RepositoryLock lockOnDisk() const { return RepositoryLock::fromJSON(RepositoryJSON::decode(lockBytes().value())); }
    void putLock(const RepositoryLock& lock) {
        memory->put(RepositoryLayout::lockFile(), RepositoryJSON::encodeBytes(lock.toJSON(), false));
    }
    static RepositoryLock lockOf(const DeviceID& device, std::string name, Date acquired, Date heartbeat) {
        return RepositoryLock{std::move(name), device.hex(), acquired, heartbeat};
    }
    // A claim, heartbeat and release leave a lock they could not read as it was, writing nothing.
    void expectHeldByAnotherMacUntouched(Date at) {
        const Bytes before = lockBytes().value();
        const std::size_t mark = faulty->calls().size();
        const WritingClaim claim = claimWriting(mine, "Studio", at);
        EXPECT_EQ(claim.verdict, Verdict::heldBy("another Mac", at));
        EXPECT_TRUE(!claim.holdsLock() && claim.lockFileUnreadable);
        heartbeat(mine, "Studio", at);
        releaseWriting(mine);
        const auto calls = faulty->calls();
        for (std::size_t i = mark; i < calls.size(); ++i)
            EXPECT_NE(calls[i].operation, FaultyDestination::Operation::openWrite);
        EXPECT_EQ(lockBytes().value(), before);
    }
};

TEST_F(WritingLockTest, StateTable) {
    const Date hourAgo = now.adding(-3600);
    struct Case {
        RepositoryLock onDisk;
        Verdict verdict;
        std::optional<Date> acquired;  // rewritten as this device's lock acquired then; nothing: untouched
    };
    for (const Case& c :
         {Case{lockOf(testDevice(), "Old name", hourAgo, now.adding(-60)), Verdict::mine(), hourAgo},
          Case{lockOf(testDevice(), "Studio", hourAgo, hourAgo), Verdict::mine(), hourAgo},
          Case{lockOf(otherDevice(), "Laptop", hourAgo, now.adding(-300)), Verdict::heldBy("Laptop", hourAgo),
               std::nullopt},
          Case{lockOf(otherDevice(), "Laptop", hourAgo, now.adding(-300.001)), Verdict::takenOver("Laptop"), now}}) {
        SCOPED_TRACE(c.onDisk.deviceName + " " + std::to_string(c.onDisk.heartbeatAt.microseconds));
        putLock(c.onDisk);
        const Bytes before = lockBytes().value();
        const WritingClaim claim = claimWriting(mine, "Studio", now);
        EXPECT_EQ(claim.verdict, c.verdict);
        EXPECT_EQ(claim.holdsLock(), c.acquired.has_value());
        EXPECT_EQ(lockBytes().value() == before, !c.acquired);
        if (c.acquired) {
            EXPECT_EQ(lockOnDisk(), lockOf(testDevice(), "Studio", *c.acquired, now));
        }
    }
}

// A damaged lock file, or one that exists but cannot be read right now, may be live: it is held
// by "another Mac" and stays byte for byte. Only a missing file is free.
TEST_F(WritingLockTest, UnreadableLockFileIsHeldByAnotherMacAndStaysByteIdentical) {
    for (const Bytes& bytes :
         {bytesOf("{}"), randomBytes(64, 7), Bytes{},
          bytesOf(R"({"acquiredAt":"yesterday","deviceID":"00","deviceName":"x","heartbeatAt":"now"})")}) {
        memory->put(RepositoryLayout::lockFile(), bytes);
        expectHeldByAnotherMacUntouched(now);
    }
    putLock(lockOf(otherDevice(), "Laptop", now, now));
    for (const auto& error : {DestinationError::ioFailed(RepositoryLayout::lockFile(), "EIO"),
                              DestinationError::permissionDenied(RepositoryLayout::lockFile()),
                              DestinationError::unavailable(memory->id(), Availability::unreachable("offline"))}) {
        SCOPED_TRACE(error.what());
        faulty->clearFaults();
        faulty->failCalls("writing.lock", error, {FaultyDestination::Operation::read});
        expectHeldByAnotherMacUntouched(now.adding(3600));
    }
}

// A claim whose write fails (a full disk, a read-only repository) says so and holds nothing.
TEST_F(WritingLockTest, FailedWriteIsReportedInsteadOfATakenLock) {
    auto readOnly = openRepository(memory, keys, Repository::Access::readOnly).repository;
    faulty->failCalls("*", DestinationError::outOfSpace(100, 0), {FaultyDestination::Operation::commit});
    for (Repository* repo : {&mine, readOnly.get()}) {
        const WritingClaim claim = claimWriting(*repo, "Studio", now);
        EXPECT_TRUE(claim.writeFailure && !claim.holdsLock() && !lockBytes());
    }
    EXPECT_THROW(std::rethrow_exception(claimWriting(mine, "Studio", now).writeFailure), DestinationError);
}

TEST_F(WritingLockTest, ReleaseRemovesOnlyThisDevicesLock) {
    releaseWriting(mine);  // nothing there: quiet
    ASSERT_TRUE(claimWriting(mine, "Studio", now).holdsLock());
    releaseWriting(*theirs);
    // Another run of this device that took the lock over later keeps it.
    releaseWriting(*faulty, testDevice(), now.adding(-1));
    EXPECT_TRUE(lockBytes().has_value()) << "released a lock its owner does not hold";
    releaseWriting(*faulty, testDevice(), now);
    EXPECT_FALSE(lockBytes().has_value());
    // A failing removal is dropped quietly.
    ASSERT_TRUE(claimWriting(mine, "Studio", now).holdsLock());
    faulty->failCalls("writing.lock", DestinationError::ioFailed(RepositoryLayout::lockFile(), "EIO"),
                      {FaultyDestination::Operation::remove});
    releaseWriting(mine);
    EXPECT_TRUE(lockBytes().has_value());
}

// How a run judges the lock file it wrote, and whether it removes it at its end: only its own
// lock while fresh. A read that fails is neither held nor lost to anyone.
TEST_F(WritingLockTest, ARunJudgesItsOwnLockAndRemovesItOnlyWhileFresh) {
    using State = RunLock::State;
    const Date acquired = now.adding(-600);
    struct Case {
        std::optional<RepositoryLock> onDisk;  // nothing: no file
        State state;
        std::optional<std::string> holder;
    };
    for (const Case& c : {Case{lockOf(testDevice(), "Studio", acquired, now.adding(-300)), State::held, {}},
                          Case{lockOf(testDevice(), "Studio", acquired, now.adding(-300.001)), State::stale, {}},
                          Case{lockOf(testDevice(), "Studio", now.adding(-1), now), State::otherRun, "Studio"},
                          Case{lockOf(otherDevice(), "Laptop", acquired, now), State::otherRun, "Laptop"},
                          Case{std::nullopt, State::absent, {}}}) {
        SCOPED_TRACE(static_cast<int>(c.state));
        memory->remove(RepositoryLayout::lockFile());
        if (c.onDisk) putLock(*c.onDisk);
        const RunLock judged = checkRunLock(*faulty, testDevice(), acquired, now);
        EXPECT_EQ(judged.state, c.state);
        EXPECT_EQ(judged.holder, c.holder);
        releaseRunLock(*faulty, testDevice(), acquired, now);
        EXPECT_EQ(lockBytes().has_value(), c.onDisk && c.state != State::held);
    }
    putLock(lockOf(testDevice(), "Studio", acquired, now));
    faulty->failCalls("writing.lock", DestinationError::ioFailed(RepositoryLayout::lockFile(), "EIO"),
                      {FaultyDestination::Operation::read}, 2);
    EXPECT_EQ(checkRunLock(*faulty, testDevice(), acquired, now).state, State::unreadable);
    const std::size_t mark = faulty->calls().size();
    EXPECT_EQ(refreshRunLock(*faulty, testDevice(), "Studio", acquired, now.adding(1)).state, State::unreadable);
    for (std::size_t i = mark; i < faulty->calls().size(); ++i)
        EXPECT_NE(faulty->calls()[i].operation, FaultyDestination::Operation::openWrite);
    EXPECT_EQ(lockOnDisk().heartbeatAt, now);
    EXPECT_EQ(refreshRunLock(*faulty, testDevice(), "Studio", acquired, now.adding(1)).state, State::held);
    EXPECT_EQ(lockOnDisk().heartbeatAt, now.adding(1));

    // Another device takes the lock while a refresh has its bytes ready: the refresh reads the
    // file again before putting them in place and leaves the other device's lock as it is.
    const RepositoryLock theirs = lockOf(otherDevice(), "Laptop", now.adding(2), now.adding(2));
    faulty->pauseAtMutation(2, [&] { putLock(theirs); });  // after openWrite, before its bytes
    const RunLock refreshed = refreshRunLock(*faulty, testDevice(), "Studio", acquired, now.adding(2));
    EXPECT_EQ(refreshed.state, State::otherRun);
    EXPECT_EQ(refreshed.holder, "Laptop");
    EXPECT_EQ(lockOnDisk(), theirs);
}

}  // namespace
}  // namespace wm::test
