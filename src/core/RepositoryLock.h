#pragma once
// The writing-lock record: only one device at a time adds snapshots to a repository.
// The holder refreshes its heartbeat; a lock whose heartbeat is older than
// staleAfter seconds may be taken over by another device.
#include <optional>
#include <string>

#include "core/Date.h"
#include "core/RepositoryJSON.h"

namespace wm {

struct RepositoryLock {
    static constexpr double staleAfter = 300.0;  // seconds

    std::string deviceName;  // the holder's display name
    std::string deviceID;    // the holder's DeviceID as lower-case hex
    Date acquiredAt;
    Date heartbeatAt;

    class Verdict {
    public:
        enum class Kind { takenOver, heldBy, mine, free };

        static Verdict takenOver(std::string from) { return Verdict(Kind::takenOver, std::move(from), {}); }
        static Verdict heldBy(std::string device, Date since) {
            return Verdict(Kind::heldBy, std::move(device), since);
        }
        static Verdict mine() { return Verdict(Kind::mine, {}, {}); }
        static Verdict free() { return Verdict(Kind::free, {}, {}); }

        Kind kind;
        std::string device;  // takenOver: the former holder; heldBy: the holder
        Date since;          // heldBy: when the holder acquired the lock

        // Only a lock held freshly by another device forbids writing.
        bool forbidsWriting() const { return kind == Kind::heldBy; }

        friend bool operator==(const Verdict&, const Verdict&) = default;

    private:
        Verdict(Kind k, std::string d, Date s) : kind(k), device(std::move(d)), since(s) {}
    };

    // No lock: free. This device's lock (deviceID equal to thisDevice): mine, however
    // old. Another device's lock with a heartbeat more than staleAfter seconds before
    // now: takenOver(from: its name); otherwise heldBy(its name, since its acquiredAt).
    static Verdict evaluate(const std::optional<RepositoryLock>& existing, const std::string& thisDevice, Date now);

    // Keys "acquiredAt", "deviceID", "deviceName", "heartbeatAt"; all required.
    JSON toJSON() const;
    static RepositoryLock fromJSON(const JSON& json);  // throws RepositoryJSON::DecodingError

    friend bool operator==(const RepositoryLock&, const RepositoryLock&) = default;
};

}  // namespace wm
