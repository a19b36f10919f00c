#include "engine/WritingLockErrors.h"

#include "core/ErrorDescription.h"
#include "core/Localization.h"

namespace wm {

namespace {

const char* causeName(WritingLockLost::Cause cause) {
    switch (cause) {
    case WritingLockLost::Cause::stale: return "stale";
    case WritingLockLost::Cause::takenOver: return "takenOver";
    case WritingLockLost::Cause::removed: return "removed";
    case WritingLockLost::Cause::unreadable: return "unreadable";
    }
    return "stale";
}

}  // namespace

WritingLockLost::WritingLockLost(Cause cause, std::optional<std::string> holder)
    : Error(ErrorDescription("WritingLock.Error", "lost")
                .add("cause", causeName(cause))
                .quoted("holder", holder.value_or(""))
                .text()),
      cause(cause),
      holder(std::move(holder)) {}

std::string WritingLockLost::userSentence() const {
    const std::string done = alreadyDone.empty() ? WM_L("It had not changed the backup yet.") : alreadyDone;
    switch (cause) {
    case Cause::removed:
        return WM_L(
            "This run's writing lock file was removed while it ran, so it stopped. %@ Nothing more was added or "
            "deleted, and running it again is safe.",
            done);
    case Cause::unreadable:
        return WM_L(
            "This run's writing lock file could not be read back, so it stopped. %@ Nothing more was added or "
            "deleted, and running it again is safe.",
            done);
    case Cause::takenOver:
        if (holder)
            return WM_L(
                "This run was paused for longer than its writing lock stays fresh, and %1$@ holds the lock now, "
                "so it stopped. %2$@ Nothing more was added or deleted, and running it again is safe.",
                *holder, done);
        break;
    case Cause::stale: break;
    }
    return WM_L(
        "This run was paused for longer than its writing lock stays fresh, so it stopped. %@ Nothing more was "
        "added or deleted, and running it again is safe.",
        done);
}

}  // namespace wm
