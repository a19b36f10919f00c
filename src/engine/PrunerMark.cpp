#include "engine/PrunerMark.h"

namespace wm {

namespace J = RepositoryJSON;

JSON PrunerMark::toJSON() const {
    JSON list = JSON::array();
    for (const auto& c : candidates) list.push_back(J::data(c));
    JSON o = JSON::object();
    o["v"] = v;
    o["runID"] = J::uuid(runID);
    o["markedAt"] = J::date(markedAt);
    o["candidates"] = std::move(list);
    o["reachableDigest"] = J::data(reachableDigest);
    o["retainedSnapshots"] = J::uuidArray(retainedSnapshots);
    o["prunableSnapshots"] = J::uuidArray(prunableSnapshots);
    return o;
}

PrunerMark PrunerMark::fromJSON(const JSON& o) {
    PrunerMark m;
    m.v = J::int64(J::member(o, "v"), "v");
    m.runID = J::toUUID(J::member(o, "runID"), "runID");
    m.markedAt = J::toDate(J::member(o, "markedAt"), "markedAt");
    for (const auto& item : J::array(J::member(o, "candidates"), "candidates"))
        m.candidates.push_back(J::toData(item, "candidates"));
    m.reachableDigest = J::toData(J::member(o, "reachableDigest"), "reachableDigest");
    m.retainedSnapshots = J::uuids(J::member(o, "retainedSnapshots"), "retainedSnapshots");
    m.prunableSnapshots = J::uuids(J::member(o, "prunableSnapshots"), "prunableSnapshots");
    return m;
}

}  // namespace wm
