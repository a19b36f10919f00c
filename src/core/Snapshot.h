#pragma once
// The in-memory model of one backup. The on-disk snapshot record is a separate
// type of the format module; it uses the same vocabulary for kinds and flags.
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "core/AnomalyReport.h"
#include "core/Bytes.h"
#include "core/Date.h"
#include "core/Identifiers.h"

namespace wm {

struct SnapshotSource {
    enum class Kind { folder, wholeMac, photosLibrary, mobileSync, iosPhotos, iosFiles, contacts, calendars };

    Bytes path;  // the source path's bytes
    Kind kind = Kind::folder;

    // The raw value is the case name; any other text gives nothing.
    static std::string_view rawValue(Kind kind);
    static std::optional<Kind> kindFromRawValue(std::string_view text);

    friend bool operator==(const SnapshotSource&, const SnapshotSource&) = default;
};

enum class SnapshotFlag { anomalyDetected, partial, inconsistentSource, sourceUnavailable, reconciled };

// The raw value is the case name; any other text gives nothing.
std::string_view rawValue(SnapshotFlag flag);
std::optional<SnapshotFlag> snapshotFlagFromRawValue(std::string_view text);

struct SnapshotStats {
    std::uint64_t files = 0;
    std::uint64_t directories = 0;
    std::uint64_t bytesLogical = 0;
    std::uint64_t bytesNew = 0;
    std::uint64_t bytesDeduplicated = 0;
    std::uint64_t unstableFiles = 0;
    std::uint64_t unreadableFiles = 0;
    double duration = 0;  // seconds

    friend bool operator==(const SnapshotStats&, const SnapshotStats&) = default;
};

struct Snapshot {
    SnapshotID id;
    std::uint64_t counter = 0;
    DeviceID deviceID;
    std::string deviceName;
    std::optional<SnapshotID> parent;
    Date createdAt;
    BlobID rootTree;
    std::vector<SnapshotSource> sources;
    SnapshotStats stats;
    std::set<SnapshotFlag> flags;
    std::optional<AnomalyReport> anomaly;

    friend bool operator==(const Snapshot&, const Snapshot&) = default;
};

}  // namespace wm
