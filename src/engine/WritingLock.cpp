#include "engine/WritingLock.h"

#include <optional>

#include "core/Localization.h"
#include "core/RepositoryJSON.h"
#include "engine/Repository.h"
#include "format/RepositoryFormat.h"
#include "format/RepositoryLayout.h"
#include "storage/DestinationError.h"

namespace wm {

namespace {

// What reading the lock file found.
struct LockFileState {
    enum class Kind { absent, unreadable, lock } kind = Kind::absent;
    RepositoryLock lock;  // kind lock
};

LockFileState readLockFile(Destination& destination) {
    Bytes bytes;
    try {
        std::optional<Bytes> read =
            destination.readAtMost(RepositoryLayout::lockFile(), RepositoryFormat::lockFileMaximumBytes);
        if (!read) return {LockFileState::Kind::unreadable, {}};
        bytes = std::move(*read);
    } catch (const DestinationError& error) {
        // Only a file that is not there is free; a file we could not read may be a live lock.
        if (error.kind == DestinationError::Kind::notFound) return {LockFileState::Kind::absent, {}};
        return {LockFileState::Kind::unreadable, {}};
    } catch (const std::exception&) {
        return {LockFileState::Kind::unreadable, {}};
    }
    try {
        return {LockFileState::Kind::lock, RepositoryLock::fromJSON(RepositoryJSON::decode(bytes))};
    } catch (const std::exception&) {
        return {LockFileState::Kind::unreadable, {}};
    }
}

}  // namespace

WritingClaim claimWriting(Repository& repository, const std::string& deviceName, Date now) {
    return claimWriting(*repository.destination(), repository.deviceID(), deviceName, now);
}

WritingClaim claimWriting(Destination& destination, const DeviceID& device, const std::string& deviceName, Date now) {
    const std::string thisDevice = device.hex();
    const LockFileState state = readLockFile(destination);

    if (state.kind == LockFileState::Kind::unreadable) {
        // Someone may be writing: stay away and leave the file exactly as it is.
        WritingClaim claim{RepositoryLock::Verdict::heldBy(WM_L("another Mac"), now), nullptr};
        claim.lockFileUnreadable = true;
        return claim;
    }

    std::optional<RepositoryLock> existing;
    if (state.kind == LockFileState::Kind::lock) existing = state.lock;
    WritingClaim claim{RepositoryLock::evaluate(existing, thisDevice, now), nullptr};
    if (claim.verdict.forbidsWriting()) return claim;

    RepositoryLock lock;
    lock.deviceName = deviceName;
    lock.deviceID = thisDevice;
    lock.acquiredAt = existing && existing->deviceID == thisDevice ? existing->acquiredAt : now;
    lock.heartbeatAt = now;
    try {
        Repository::write(RepositoryJSON::encodeBytes(lock.toJSON(), false), RepositoryLayout::lockFile(), destination);
        claim.acquiredAt = lock.acquiredAt;
    } catch (const std::exception&) {
        claim.writeFailure = std::current_exception();
    }
    return claim;
}

WritingClaim heartbeat(Repository& repository, const std::string& deviceName, Date now) {
    return claimWriting(repository, deviceName, now);
}

RunLock checkRunLock(Destination& destination, const DeviceID& device, Date acquiredAt, Date now) {
    using State = RunLock::State;
    const LockFileState file = readLockFile(destination);
    if (file.kind == LockFileState::Kind::absent) return {State::absent, std::nullopt};
    if (file.kind == LockFileState::Kind::unreadable) return {State::unreadable, std::nullopt};
    const RepositoryLock& lock = file.lock;
    if (lock.deviceID != device.hex() || lock.acquiredAt != acquiredAt) return {State::otherRun, lock.deviceName};
    if (now.timeIntervalSince(lock.heartbeatAt) > RepositoryLock::staleAfter) return {State::stale, std::nullopt};
    return {State::held, std::nullopt};
}

RunLock refreshRunLock(Destination& destination, const DeviceID& device, const std::string& deviceName, Date acquiredAt,
                       Date now) {
    RunLock state = checkRunLock(destination, device, acquiredAt, now);
    if (!state.held()) return state;
    const RepositoryLock lock{deviceName, device.hex(), acquiredAt, now};
    // The file is read again with the new bytes ready, just before they are put in place, so
    // that a lock another run wrote since the first reading is written over only when it lands
    // in the moment between that reading and the rename: no file system gives two devices more.
    struct NoLongerHeld {};
    try {
        Repository::write(RepositoryJSON::encodeBytes(lock.toJSON(), false), RepositoryLayout::lockFile(), destination,
                          [&] {
                              state = checkRunLock(destination, device, acquiredAt, now);
                              if (!state.held()) throw NoLongerHeld{};
                          });
    } catch (const NoLongerHeld&) {
        // Left as the other run wrote it.
    } catch (const std::exception&) {
        // Tried again at the next refresh; the lock stays this run's until it goes stale.
    }
    return state;
}

void releaseRunLock(Destination& destination, const DeviceID& device, Date acquiredAt, Date now) {
    if (!checkRunLock(destination, device, acquiredAt, now).held()) return;
    try {
        destination.remove(RepositoryLayout::lockFile());
    } catch (const std::exception&) {
        // The lock lapses by itself.
    }
}

void releaseWriting(Repository& repository) { releaseWriting(*repository.destination(), repository.deviceID()); }

void releaseWriting(Destination& destination, const DeviceID& device, std::optional<Date> acquiredAt) {
    const LockFileState state = readLockFile(destination);
    if (state.kind != LockFileState::Kind::lock || state.lock.deviceID != device.hex()) return;
    if (acquiredAt && state.lock.acquiredAt != *acquiredAt) return;
    try {
        destination.remove(RepositoryLayout::lockFile());
    } catch (const std::exception&) {
        // The lock stays until it goes stale or this device claims it again.
    }
}

}  // namespace wm
