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

// The lock is no longer this run's. Thrown by the check a writer makes before each step that
// makes its work visible or deletes; the writer fills in what it had done by then and stops.
class WritingLockLost : public Error, public UserPresentableError {
public:
    enum class Cause {
        stale,       // the run was paused for longer than a lock stays fresh
        takenOver,   // another device, or another run of this machine, holds it now
        removed,     // the lock file is gone
        unreadable,  // the lock file could not be read back
    };
    // holder: the device that holds the lock now (takenOver).
    explicit WritingLockLost(Cause cause, std::optional<std::string> holder = std::nullopt);

    Cause cause;
    std::optional<std::string> holder;
    // What the stopped writer had done, as whole sentences; empty: nothing yet.
    std::string alreadyDone;

    std::string userSentence() const override;
};

}  // namespace wm
