#pragma once
// The external drives a person uses in turn as backup destinations, so that one can stay
// somewhere else while another is plugged in: when each was last connected, which one has
// been away long enough to swap in, and the reminder that says so. A drive is known by its
// volume's UUID; its name may change between sightings. The caller passes the time and
// keeps the value.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/Date.h"
#include "core/RepositoryJSON.h"

namespace wm {

struct DriveRotation {
    struct Drive {
        std::string name;        // as the volume showed it when last seen
        std::string volumeUUID;  // the drive's identity
        Date lastSeen;
        std::int64_t snapshotsWhenLastSeen = 0;

        const std::string& id() const { return volumeUUID; }
        friend bool operator==(const Drive&, const Drive&) = default;
    };

    // A drive not seen for at least this long is due to be swapped in (45 days).
    static constexpr double staleAfter = 3'888'000;

    std::vector<Drive> drives;  // in the order each was first seen

    // Refreshes the drive with that UUID in place, or appends a new one at the end.
    void saw(const std::string& name, const std::string& volumeUUID, std::int64_t snapshots, Date at);
    // The drive away longest among those away for at least staleAfter; on a tie the
    // earlier in the list. Absent when none is due.
    std::optional<Drive> dueForSwap(Date now) const;
    // The reminder for one drive, whatever its age.
    static std::string sentence(const Drive& drive, Date now);

    // {"drives": [{"name", "volumeUUID", "lastSeen", "snapshotsWhenLastSeen"}]}, every key
    // required. A decoded list is accepted as it stands.
    JSON toJSON() const;
    static DriveRotation fromJSON(const JSON& json);

    friend bool operator==(const DriveRotation&, const DriveRotation&) = default;
};

}  // namespace wm
