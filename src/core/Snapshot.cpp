#include "core/Snapshot.h"

#include <array>
#include <utility>

namespace wm {

namespace {

constexpr std::array<std::pair<SnapshotSource::Kind, std::string_view>, 8> kKinds = {{
    {SnapshotSource::Kind::folder, "folder"},
    {SnapshotSource::Kind::wholeMac, "wholeMac"},
    {SnapshotSource::Kind::photosLibrary, "photosLibrary"},
    {SnapshotSource::Kind::mobileSync, "mobileSync"},
    {SnapshotSource::Kind::iosPhotos, "iosPhotos"},
    {SnapshotSource::Kind::iosFiles, "iosFiles"},
    {SnapshotSource::Kind::contacts, "contacts"},
    {SnapshotSource::Kind::calendars, "calendars"},
}};

constexpr std::array<std::pair<SnapshotFlag, std::string_view>, 5> kFlags = {{
    {SnapshotFlag::anomalyDetected, "anomalyDetected"},
    {SnapshotFlag::partial, "partial"},
    {SnapshotFlag::inconsistentSource, "inconsistentSource"},
    {SnapshotFlag::sourceUnavailable, "sourceUnavailable"},
    {SnapshotFlag::reconciled, "reconciled"},
}};

}  // namespace

std::string_view SnapshotSource::rawValue(Kind kind) {
    for (const auto& [k, text] : kKinds)
        if (k == kind) return text;
    return "folder";
}

std::optional<SnapshotSource::Kind> SnapshotSource::kindFromRawValue(std::string_view text) {
    for (const auto& [k, raw] : kKinds)
        if (raw == text) return k;
    return std::nullopt;
}

std::string_view rawValue(SnapshotFlag flag) {
    for (const auto& [f, text] : kFlags)
        if (f == flag) return text;
    return "partial";
}

std::optional<SnapshotFlag> snapshotFlagFromRawValue(std::string_view text) {
    for (const auto& [f, raw] : kFlags)
        if (raw == text) return f;
    return std::nullopt;
}

}  // namespace wm
