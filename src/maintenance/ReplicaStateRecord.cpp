#include "maintenance/ReplicaStateRecord.h"

namespace wm {

namespace J = RepositoryJSON;

std::string ReplicaStateRecord::rawValue(const DestinationKind& kind) {
    switch (kind.case_) {
    case DestinationKind::Case::cloudFolder: return "cloud";
    case DestinationKind::Case::externalVolume: return "external";
    case DestinationKind::Case::networkShare: return "network";
    case DestinationKind::Case::localFolder:
    case DestinationKind::Case::synthetic: break;
    }
    return "local";
}

JSON ReplicaStateRecord::toJSON() const {
    JSON o = JSON::object();
    o["v"] = v;
    o["replicaID"] = J::uuid(replicaID);
    o["kind"] = kind;
    o["label"] = label;
    o["lastSyncAt"] = J::date(lastSyncAt);
    o["holdsSnapshots"] = J::uuidArray(holdsSnapshots);
    o["holdsPacksDigest"] = J::data(holdsPacksDigest);
    o["durability"] = durability;
    if (lastVerifiedAt) o["lastVerifiedAt"] = J::date(*lastVerifiedAt);
    return o;
}

ReplicaStateRecord ReplicaStateRecord::fromJSON(const JSON& o) {
    ReplicaStateRecord r;
    r.v = J::int64(J::member(o, "v"), "v");
    r.replicaID = J::toUUID(J::member(o, "replicaID"), "replicaID");
    r.kind = J::text(J::member(o, "kind"), "kind");
    r.label = J::text(J::member(o, "label"), "label");
    r.lastSyncAt = J::toDate(J::member(o, "lastSyncAt"), "lastSyncAt");
    r.holdsSnapshots = J::uuids(J::member(o, "holdsSnapshots"), "holdsSnapshots");
    r.holdsPacksDigest = J::toData(J::member(o, "holdsPacksDigest"), "holdsPacksDigest");
    r.durability = J::text(J::member(o, "durability"), "durability");
    if (J::has(o, "lastVerifiedAt")) r.lastVerifiedAt = J::toDate(J::member(o, "lastVerifiedAt"), "lastVerifiedAt");
    return r;
}

}  // namespace wm
