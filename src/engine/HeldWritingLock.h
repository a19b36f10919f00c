#pragma once
// The writing lock of a repository (or of a copy being written), held for a writer's whole
// run: claimed before anything is read for changing, refreshed on a background thread every
// RepositoryFormat::lockRefreshInterval, released when the holder goes.
//
// Two locks make one, because two kinds of writer must be kept apart:
//  - other devices read "writing.lock" at the folder's root (a record that names its device
//    and goes stale when not refreshed);
//  - other processes of this machine carry the same device identity, so the file cannot tell
//    them apart: they exclude each other through a lock of the operating system on the
//    folder itself (FolderLock), which writes nothing into the repository and dies with its
//    process.
// The lock file is claimed only under the folder lock, and removed only by the run that
// wrote it (same device, same "acquiredAt") while it is fresh.
//
// A run can be paused for longer than its lock stays fresh (a machine asleep, a network volume
// that does not pass folder locks between machines): another device may then take the lock
// over, sweep and finish. The refresher's timer runs on a clock that stops while the machine
// sleeps, so it cannot tell; the wall clock and the file can. A refresh therefore writes only
// over this run's own fresh lock. The lock is lost for good when the file is gone, names
// another run, or holds this run's heartbeat more than RepositoryLock::staleAfter seconds old;
// a file the refresher cannot read is left alone and read again at the next heartbeat. Before
// each step that makes its work visible or deletes, a writer calls confirmHeld() (passed to the
// engine as a Repository::WritingCheck), which reads the file again and stops the writer with
// WritingLockLost unless it still names this run and is fresh; a file it cannot read then is
// lost too, since the step cannot wait.
//
// Sweeps and replications: a replication reads the packs of its source without writing to
// it, so it holds no writing lock there and backups go on beside it; but a sweep deletes
// packs, and one deleted while the replication copies would leave the copy listing a
// snapshot it cannot read. So the "packs" folder carries a second lock of the operating
// system: a replication holds it shared (ReadingLock below) for its whole run, a sweep holds
// it exclusive (Scope::sweeping) for its whole run. Two replications share it, a sweep waits
// for none and is refused while one reads, and a backup, mark or repair never takes it. A
// repository without a "packs" folder has nothing to sweep, so neither side locks it then.
#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "core/Date.h"
#include "core/Identifiers.h"
#include "engine/WritingLockErrors.h"
#include "format/RepositoryFormat.h"
#include "storage/Destination.h"
#include "storage/FolderLock.h"

namespace wm {

class HeldWritingLock {
public:
    enum class Scope {
        writing,   // backups, mark, repair, the copy a replication writes
        sweeping,  // the same, and no replication may read the packs meanwhile
    };
    struct Holder {
        DeviceID device;
        std::string deviceName;
        double refreshInterval = RepositoryFormat::lockRefreshInterval;  // seconds
        // The wall clock another device judges the lock by (tests move it).
        std::function<Date()> clock = [] { return Date::repositoryNow(); };
    };

    // Claims the lock of the repository folder at `root`, whose files `destination` reaches.
    // Throws WritingLockRefusal with a sentence naming the holder when another process of this
    // machine or another device holds it, or telling how to clear a lock file that does not
    // decode; a lock file that cannot be written throws the write's error.
    HeldWritingLock(const std::filesystem::path& root, std::shared_ptr<Destination> destination, Scope scope,
                    Holder holder);
    // Stops refreshing and removes the lock file while it names this run and is fresh; a lock
    // of this run gone stale is left to lapse.
    ~HeldWritingLock();
    HeldWritingLock(const HeldWritingLock&) = delete;
    HeldWritingLock& operator=(const HeldWritingLock&) = delete;

    // Reads the lock file and returns when it still names this run and is fresh by the wall
    // clock; otherwise the lock is lost for good and this throws WritingLockLost saying why:
    // gone stale, held by another run (named), removed, or not readable now. Safe to call from
    // any thread.
    void confirmHeld() const;

private:
    void refreshUntilStopped();

    std::shared_ptr<Destination> destination_;
    Holder holder_;
    FolderLock folderLock_;
    std::optional<FolderLock> packsLock_;
    Date acquiredAt_;
    // Set once the lock is found lost, after cause_.
    mutable std::atomic<bool> lost_{false};
    mutable std::atomic<WritingLockLost::Cause> cause_{WritingLockLost::Cause::stale};
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::thread refresher_;
};

// Held by a replication on its source: keeps sweeps of this machine from deleting packs
// while it reads them. Throws WritingLockRefusal while a sweep runs.
class ReadingLock {
public:
    explicit ReadingLock(const std::filesystem::path& root);

private:
    std::optional<FolderLock> packsLock_;
};

}  // namespace wm
