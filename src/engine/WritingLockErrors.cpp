#include "engine/WritingLockErrors.h"

#include "core/ErrorDescription.h"

namespace wm {

WritingLockLost::WritingLockLost(std::optional<std::string> holder)
    : Error(ErrorDescription("WritingLock.Error", "lost").quoted("holder", holder.value_or("")).text()),
      holder(std::move(holder)) {}

std::string WritingLockLost::userSentence() const {
    const std::string now = holder ? ", and " + *holder + " holds the lock now" : "";
    const std::string done = alreadyDone.empty() ? "It had not changed the backup yet." : alreadyDone;
    return "This run was paused for longer than its writing lock stays fresh" + now + ", so it stopped. " + done +
           " Nothing more was added or deleted, and running it again is safe.";
}

}  // namespace wm
