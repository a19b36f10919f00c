#pragma once
// A lock of the operating system on a folder, taken on a descriptor of the folder itself
// (flock). It writes nothing into the folder, so it adds nothing to what a repository holds;
// every process of this machine sees it, so do other machines on network volumes that pass
// such locks on, and it goes away with the process however the process ends. Shared locks
// of a folder coexist; an exclusive one excludes every other lock of that folder, also
// another one of the same process taken through another descriptor.
#include <filesystem>

#include "core/SystemCall.h"

namespace wm {

class FolderLock {
public:
    enum class Mode { shared, exclusive };
    enum class Outcome {
        acquired,
        heldElsewhere,  // a lock that conflicts is held through another descriptor
        unsupported,    // the volume keeps no such locks: nothing is held
    };

    // Tries once, without waiting. A folder that cannot be opened (missing, not a folder,
    // not readable; with followLink false also a link in the folder's own place) throws
    // DestinationError.
    static FolderLock tryLock(const std::filesystem::path& folder, Mode mode, bool followLink = true);
    // The same, waiting while a conflicting lock is held.
    static FolderLock lock(const std::filesystem::path& folder, Mode mode);

    Outcome outcome() const { return outcome_; }
    bool held() const { return outcome_ == Outcome::acquired; }

    // Closing the descriptor releases the lock.
    FolderLock(FolderLock&&) noexcept = default;
    FolderLock& operator=(FolderLock&&) noexcept = default;

private:
    static FolderLock take(const std::filesystem::path& folder, Mode mode, bool followLink, bool wait);
    FolderLock(UniqueFd fd, Outcome outcome) : fd_(std::move(fd)), outcome_(outcome) {}
    UniqueFd fd_;
    Outcome outcome_ = Outcome::unsupported;
};

}  // namespace wm
