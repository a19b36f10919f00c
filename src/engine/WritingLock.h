#pragma once
// The writing lock of a repository: the file "writing.lock" at its root names the one device
// that adds snapshots. The writer claims it, refreshes it while it works (every
// RepositoryFormat::lockRefreshInterval seconds) and releases it when done; another device
// that finds a fresh lock of someone else stays away, and a lock whose heartbeat is more than
// RepositoryLock::staleAfter seconds old may be taken over. Nothing here runs a timer: the
// caller supplies `now` and decides when to refresh.
//
// A lock file is never overwritten unless it was read and judged: a file that is missing
// counts as free, while a file that cannot be read or decoded counts as held by another device.
//
// A run that holds the lock (HeldWritingLock) refreshes it with refreshRunLock, which writes
// only over the run's own lock, asks checkRunLock before each step that makes its work visible
// or deletes, and removes it with releaseRunLock.
#include <exception>
#include <optional>
#include <string>

#include "core/Date.h"
#include "core/Identifiers.h"
#include "core/RepositoryLock.h"

namespace wm {

class Destination;
class Repository;

// The outcome of a claim or a refresh.
struct WritingClaim {
    // free, mine or takenOver when this device may write; heldBy when another device holds
    // the lock (or a lock file is there that could not be read).
    RepositoryLock::Verdict verdict = RepositoryLock::Verdict::free();
    // Set when the verdict allowed writing but the lock file could not be written (a full
    // disk, a read-only repository, ...): this device does not hold the lock.
    std::exception_ptr writeFailure;
    // Set with heldBy when a lock file is there that could not be read or decoded: it may be
    // live, so it is left as it is; only a person can tell that no writer is behind it.
    bool lockFileUnreadable = false;
    // When the lock was written: its "acquiredAt".
    std::optional<Date> acquiredAt;

    // This device holds the lock now: the verdict allows writing and the file names it.
    bool holdsLock() const { return !verdict.forbidsWriting() && !writeFailure; }
};

// Reads the lock file and claims it for this device unless another device holds it freshly.
// A device's own lock keeps its "acquiredAt" and gets a new heartbeat and name. Never throws
// for an ordinary failure: see WritingClaim.
[[nodiscard]] WritingClaim claimWriting(Repository& repository, const std::string& deviceName, Date now);
// The same on a repository's destination before the repository is opened (a writer claims
// first, then reads what it will change), or on a copy that holds no repository yet.
[[nodiscard]] WritingClaim claimWriting(Destination& destination, const DeviceID& device, const std::string& deviceName,
                                        Date now);

// The same as claimWriting: the device's own lock gets a new heartbeat, a fresh lock of
// another device is left alone, a stale one is taken over.
WritingClaim heartbeat(Repository& repository, const std::string& deviceName, Date now);

// Whether the lock file still names this run, as another device would judge it.
struct RunLock {
    enum class State {
        held,        // names this device and the run's "acquiredAt", heartbeat at most
                     // RepositoryLock::staleAfter seconds before now
        stale,       // names this run, heartbeat older than that
        otherRun,    // names another device, or another run of this one
        absent,      // no file
        unreadable,  // could not be read or decoded now
    };
    State state = State::absent;
    // otherRun: the device whose lock the file holds now (this machine's name when another
    // process of it claimed the lock since).
    std::optional<std::string> holder;

    bool held() const { return state == State::held; }
};
// Reads the lock file (never throws).
[[nodiscard]] RunLock checkRunLock(Destination& destination, const DeviceID& device, Date acquiredAt, Date now);
// Gives this run's lock a new heartbeat when checkRunLock finds it held, read once before the
// new bytes are written and again just before they are put in place, and writes nothing
// otherwise. A failed write keeps the lock held (until it goes stale). Never throws for an
// ordinary failure.
RunLock refreshRunLock(Destination& destination, const DeviceID& device, const std::string& deviceName, Date acquiredAt,
                       Date now);

// Removes the lock file while checkRunLock finds it held: a lock of another run stays, and so
// does this run's own gone stale, left to lapse (another device may be taking it over right
// now). Never throws for an ordinary failure.
void releaseRunLock(Destination& destination, const DeviceID& device, Date acquiredAt, Date now);

// Removes the lock file when it is this device's lock. A lock of another device, a lock that
// cannot be read and a missing file are left as they are. Never throws for an ordinary failure.
void releaseWriting(Repository& repository);
// The same on a destination. With acquiredAt, only the lock this device acquired then is
// removed: a later lock of this device (another process of the same machine that took over
// a stale one) stays.
void releaseWriting(Destination& destination, const DeviceID& device, std::optional<Date> acquiredAt = std::nullopt);

}  // namespace wm
