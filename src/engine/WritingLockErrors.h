#pragma once
// What a writer hears from its writing lock (HeldWritingLock): a refusal before it starts,
// and the loss of the lock while it runs. Both word themselves.
#include <optional>
#include <string>

#include "core/Error.h"
#include "core/UserPresentableError.h"

namespace wm {

// The lock could not be claimed: another process of this machine or another device is
// writing, a replication reads the packs a sweep would delete, or the lock file does not
// decode. Nothing was written. what() is the sentence.
class WritingLockRefusal : public Error, public UserPresentableError {
public:
    using Error::Error;
    std::string userSentence() const override { return what(); }
};

// The lock is no longer this run's: the run was paused for longer than a lock stays fresh,
// and the lock went stale, vanished or was taken over by another device. Thrown by the check
// a writer makes before each step that makes its work visible or deletes; the writer fills
// in what it had done by then and stops.
class WritingLockLost : public Error, public UserPresentableError {
public:
    // The device that holds the lock now, when one does.
    explicit WritingLockLost(std::optional<std::string> holder);

    std::optional<std::string> holder;
    // What the stopped writer had done, as whole sentences; empty: nothing yet.
    std::string alreadyDone;

    std::string userSentence() const override;
};

}  // namespace wm
