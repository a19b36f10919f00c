#pragma once
// The writing lock of a repository (or of a copy being written), held for a tool's whole run:
// claimed before anything is read for changing, refreshed on a background thread every
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
// wrote it (same device, same "acquiredAt").
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
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "core/Date.h"
#include "core/Identifiers.h"
#include "storage/Destination.h"
#include "storage/FolderLock.h"

namespace wm::tools {

class HeldWritingLock {
public:
    enum class Scope {
        writing,   // backups, mark, repair, the copy a replication writes
        sweeping,  // the same, and no replication may read the packs meanwhile
    };
    struct Holder {
        DeviceID device;
        std::string deviceName;
        double refreshInterval;  // seconds
    };
    // This machine, refreshed every RepositoryFormat::lockRefreshInterval.
    static Holder thisMachine();

    // Claims the lock of the repository folder at `root`, whose files `destination` reaches.
    // Throws ToolRefusal with a sentence naming the holder when another process of this
    // machine or another device holds it, or telling how to clear a lock file that does not
    // decode; a lock file that cannot be written throws the write's error.
    HeldWritingLock(const std::filesystem::path& root, std::shared_ptr<Destination> destination, Scope scope,
                    Holder holder = thisMachine());
    // Stops refreshing and removes the lock file when it is still this run's.
    ~HeldWritingLock();
    HeldWritingLock(const HeldWritingLock&) = delete;
    HeldWritingLock& operator=(const HeldWritingLock&) = delete;

    // False once a refresh found the lock file taken by another device (this run stalled
    // longer than a lock stays fresh). Whatever it had not committed by then is refused by
    // the head check of the commit; nothing else is lost.
    bool stillHeld() const { return !lost_; }

private:
    void refreshUntilStopped();

    std::shared_ptr<Destination> destination_;
    Holder holder_;
    FolderLock folderLock_;
    std::optional<FolderLock> packsLock_;
    std::optional<Date> acquiredAt_;
    std::atomic<bool> lost_{false};
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::thread refresher_;
};

// Held by a replication on its source: keeps sweeps of this machine from deleting packs
// while it reads them. Throws ToolRefusal while a sweep runs.
class ReadingLock {
public:
    explicit ReadingLock(const std::filesystem::path& root);

private:
    std::optional<FolderLock> packsLock_;
};

}  // namespace wm::tools
