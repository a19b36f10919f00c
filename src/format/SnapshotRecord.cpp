#include "format/SnapshotRecord.h"

#include <cmath>

namespace wm {

namespace J = RepositoryJSON;

JSON SnapshotRecord::toJSON() const {
    if (!std::isfinite(stats.duration)) throw J::EncodingError("stats.duration is not a finite number");
    JSON sourceList = JSON::array();
    for (const auto& s : sources) sourceList.push_back(JSON{{"kind", s.kind}, {"path", J::data(s.path)}});
    JSON o = JSON::object();
    o["v"] = v;
    o["id"] = J::uuid(id);
    o["counter"] = counter;
    o["deviceID"] = J::data(deviceID);
    o["deviceName"] = deviceName;
    if (parent) o["parent"] = J::uuid(*parent);
    o["createdAt"] = J::date(createdAt);
    o["hostPlatform"] = hostPlatform;
    o["appVersion"] = appVersion;
    o["sources"] = std::move(sourceList);
    o["rootTree"] = J::data(rootTree);
    if (excludeRules) o["excludeRules"] = J::textArray(*excludeRules);
    o["stats"] = JSON{{"files", stats.files},
                      {"directories", stats.directories},
                      {"bytesLogical", stats.bytesLogical},
                      {"bytesNew", stats.bytesNew},
                      {"bytesDeduplicated", stats.bytesDeduplicated},
                      {"unstableFiles", stats.unstableFiles},
                      {"unreadableFiles", stats.unreadableFiles},
                      {"duration", stats.duration}};
    o["flags"] = J::textArray(flags);
    if (anomalyDetectedAt) o["anomalyDetectedAt"] = J::date(*anomalyDetectedAt);
    return o;
}

SnapshotRecord SnapshotRecord::fromJSON(const JSON& o) {
    SnapshotRecord r;
    r.v = J::int64(J::member(o, "v"), "v");
    r.id = J::toUUID(J::member(o, "id"), "id");
    r.counter = J::uint64(J::member(o, "counter"), "counter");
    r.deviceID = J::toData(J::member(o, "deviceID"), "deviceID");
    r.deviceName = J::text(J::member(o, "deviceName"), "deviceName");
    if (J::has(o, "parent")) r.parent = J::toUUID(o["parent"], "parent");
    r.createdAt = J::toDate(J::member(o, "createdAt"), "createdAt");
    r.hostPlatform = J::text(J::member(o, "hostPlatform"), "hostPlatform");
    r.appVersion = J::text(J::member(o, "appVersion"), "appVersion");
    const JSON& sourceList = J::array(J::member(o, "sources"), "sources");
    r.sources.reserve(sourceList.size());
    for (const auto& s : sourceList) {
        Source source;
        source.kind = J::text(J::member(s, "kind", "sources"), "sources.kind");
        source.path = J::toData(J::member(s, "path", "sources"), "sources.path");
        r.sources.push_back(std::move(source));
    }
    r.rootTree = J::toData(J::member(o, "rootTree"), "rootTree");
    if (J::has(o, "excludeRules")) r.excludeRules = J::texts(o["excludeRules"], "excludeRules");
    const JSON& s = J::member(o, "stats");
    r.stats.files = J::uint64(J::member(s, "files", "stats"), "stats.files");
    r.stats.directories = J::uint64(J::member(s, "directories", "stats"), "stats.directories");
    r.stats.bytesLogical = J::uint64(J::member(s, "bytesLogical", "stats"), "stats.bytesLogical");
    r.stats.bytesNew = J::uint64(J::member(s, "bytesNew", "stats"), "stats.bytesNew");
    r.stats.bytesDeduplicated = J::uint64(J::member(s, "bytesDeduplicated", "stats"), "stats.bytesDeduplicated");
    r.stats.unstableFiles = J::uint64(J::member(s, "unstableFiles", "stats"), "stats.unstableFiles");
    r.stats.unreadableFiles = J::uint64(J::member(s, "unreadableFiles", "stats"), "stats.unreadableFiles");
    r.stats.duration = J::float64(J::member(s, "duration", "stats"), "stats.duration");
    r.flags = J::texts(J::member(o, "flags"), "flags");
    if (J::has(o, "anomalyDetectedAt")) r.anomalyDetectedAt = J::toDate(o["anomalyDetectedAt"], "anomalyDetectedAt");
    return r;
}

}  // namespace wm
