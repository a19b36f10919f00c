#include "engine/HeldWritingLock.h"

#include <chrono>

#include "core/Localization.h"
#include "core/RepositoryJSON.h"
#include "engine/WritingLock.h"
#include "format/RepositoryLayout.h"

namespace wm {

namespace {

// The lock of the "packs" folder, when the repository has one.
std::optional<FolderLock> lockPacks(const std::filesystem::path& root, FolderLock::Mode mode) {
    const std::filesystem::path packs = root / RepositoryLayout::packsDirectory().string();
    std::error_code error;
    if (!std::filesystem::exists(std::filesystem::symlink_status(packs, error))) return std::nullopt;
    return FolderLock::tryLock(packs, mode, false);
}

}  // namespace

HeldWritingLock::HeldWritingLock(const std::filesystem::path& root, std::shared_ptr<Destination> destination,
                                 Scope scope, Holder holder)
    : destination_(std::move(destination)),
      holder_(std::move(holder)),
      folderLock_(FolderLock::tryLock(root, FolderLock::Mode::exclusive)) {
    if (folderLock_.outcome() == FolderLock::Outcome::heldElsewhere)
        throw WritingLockRefusal(
            WM_L("Another program on this computer is writing to \"%@\" right now. Run this "
                 "again when it has finished.",
                 root.string()));
    if (scope == Scope::sweeping) {
        packsLock_ = lockPacks(root, FolderLock::Mode::exclusive);
        if (packsLock_ && packsLock_->outcome() == FolderLock::Outcome::heldElsewhere)
            throw WritingLockRefusal(
                WM_L("A copy is being made from \"%@\" right now, and a sweep would delete "
                     "packs it is copying. Run the sweep when the copy has finished.",
                     root.string()));
    }

    const WritingClaim claim = claimWriting(*destination_, holder_.device, holder_.deviceName, holder_.clock());
    if (claim.lockFileUnreadable)
        throw WritingLockRefusal(
            WM_L("The lock file \"%@\" cannot be read, so another device may be writing to "
                 "this backup. If no backup or maintenance is running on any device, delete "
                 "that file by hand and run this again.",
                 (root / RepositoryLayout::lockFile().string()).string()));
    if (claim.verdict.forbidsWriting())
        throw WritingLockRefusal(
            WM_L("%1$@ has been writing to \"%2$@\" since %3$@. Run this again when it has "
                 "finished; its lock lapses by itself five minutes after it was last refreshed.",
                 claim.verdict.device, root.string(), RepositoryJSON::dateText(claim.verdict.since)));
    if (claim.writeFailure) std::rethrow_exception(claim.writeFailure);
    acquiredAt_ = *claim.acquiredAt;
    refresher_ = std::thread([this] { refreshUntilStopped(); });
}

HeldWritingLock::~HeldWritingLock() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (refresher_.joinable()) refresher_.join();
    releaseRunLock(*destination_, holder_.device, acquiredAt_, holder_.clock());
    // The locks of the operating system go with their descriptors, after the file.
}

namespace {

WritingLockLost::Cause causeOf(const RunLock& state) {
    switch (state.state) {
    case RunLock::State::otherRun: return WritingLockLost::Cause::takenOver;
    case RunLock::State::absent: return WritingLockLost::Cause::removed;
    case RunLock::State::unreadable: return WritingLockLost::Cause::unreadable;
    case RunLock::State::held:
    case RunLock::State::stale: break;
    }
    return WritingLockLost::Cause::stale;
}

}  // namespace

void HeldWritingLock::confirmHeld() const {
    const RunLock state = checkRunLock(*destination_, holder_.device, acquiredAt_, holder_.clock());
    if (state.held()) {
        if (!lost_) return;
        // Found lost by the refresher: a file that reads as held again (put back by hand) does
        // not make the lock this run's again.
        throw WritingLockLost(cause_.load());
    }
    cause_ = causeOf(state);
    lost_ = true;
    throw WritingLockLost(causeOf(state), state.holder);
}

void HeldWritingLock::refreshUntilStopped() {
    const auto interval = std::chrono::duration<double>(holder_.refreshInterval);
    std::unique_lock lock(mutex_);
    while (!wake_.wait_for(lock, interval, [this] { return stopping_; })) {
        if (lost_) return;
        lock.unlock();
        const RunLock state =
            refreshRunLock(*destination_, holder_.device, holder_.deviceName, acquiredAt_, holder_.clock());
        lock.lock();
        // A file that could not be read now may read at the next heartbeat; nothing was written.
        if (state.state == RunLock::State::unreadable) continue;
        // Lost for good: never refreshed or written again by this run.
        if (!state.held()) {
            cause_ = causeOf(state);
            lost_ = true;
            return;
        }
    }
}

ReadingLock::ReadingLock(const std::filesystem::path& root) : packsLock_(lockPacks(root, FolderLock::Mode::shared)) {
    if (packsLock_ && packsLock_->outcome() == FolderLock::Outcome::heldElsewhere)
        throw WritingLockRefusal(
            WM_L("A sweep is deleting packs from \"%@\" right now. Make the copy when the "
                 "sweep has finished.",
                 root.string()));
}

}  // namespace wm
