#include "policy/DriveRotation.h"

#include <algorithm>

#include "core/Localization.h"
#include "core/Phrasing.h"
#include "policy/StoredForm.h"

namespace wm {

void DriveRotation::saw(const std::string& name, const std::string& volumeUUID, std::int64_t snapshots, Date at) {
    auto it = std::find_if(drives.begin(), drives.end(), [&](const Drive& d) { return d.volumeUUID == volumeUUID; });
    if (it == drives.end()) {
        drives.push_back(Drive{name, volumeUUID, at, snapshots});
        return;
    }
    it->name = name;
    it->lastSeen = at;
    it->snapshotsWhenLastSeen = snapshots;
}

std::optional<DriveRotation::Drive> DriveRotation::dueForSwap(Date now) const {
    const Drive* chosen = nullptr;
    for (const auto& drive : drives) {
        if (now.timeIntervalSince(drive.lastSeen) < staleAfter) continue;
        if (!chosen || drive.lastSeen < chosen->lastSeen) chosen = &drive;
    }
    return chosen ? std::optional(*chosen) : std::nullopt;
}

std::string DriveRotation::sentence(const Drive& drive, Date now) {
    return WM_L(
        "%@ was last connected %@. Swapping it in would bring it up to date and put the current one somewhere "
        "else.",
        drive.name, Phrasing::staleness(drive.lastSeen, now));
}

JSON DriveRotation::toJSON() const {
    JSON list = JSON::array();
    for (const auto& d : drives)
        list.push_back(JSON{{"name", d.name},
                            {"volumeUUID", d.volumeUUID},
                            {"lastSeen", RepositoryJSON::date(d.lastSeen)},
                            {"snapshotsWhenLastSeen", d.snapshotsWhenLastSeen}});
    return JSON{{"drives", list}};
}

DriveRotation DriveRotation::fromJSON(const JSON& json) {
    using namespace RepositoryJSON;
    return {StoredForm::each(member(json, "drives"), "drives", [](const JSON& d, const std::string& path) {
        auto field = [&](std::string_view key, auto read) {
            return read(member(d, key, path), path + "." + std::string(key));
        };
        return Drive{field("name", text), field("volumeUUID", text), field("lastSeen", toDate),
                     field("snapshotsWhenLastSeen", int64)};
    })};
}

}  // namespace wm
