#include "engine/WritingLockErrors.h"

#include "core/ErrorDescription.h"
#include "core/Localization.h"

namespace wm {

WritingLockLost::WritingLockLost(std::optional<std::string> holder)
    : Error(ErrorDescription("WritingLock.Error", "lost").quoted("holder", holder.value_or("")).text()),
      holder(std::move(holder)) {}

std::string WritingLockLost::userSentence() const {
    const std::string done = alreadyDone.empty() ? WM_L("It had not changed the backup yet.") : alreadyDone;
    if (holder)
        return WM_L(
            "This run was paused for longer than its writing lock stays fresh, and %1$@ holds the lock now, "
            "so it stopped. %2$@ Nothing more was added or deleted, and running it again is safe.",
            *holder, done);
    return WM_L(
        "This run was paused for longer than its writing lock stays fresh, so it stopped. %@ Nothing more was "
        "added or deleted, and running it again is safe.",
        done);
}

}  // namespace wm
