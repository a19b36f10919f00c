#include "format/HeadRecord.h"

#include <limits>

namespace wm {

namespace J = RepositoryJSON;

std::string HeadVerdict::description() const {
    switch (kind) {
    case Kind::advanced:
        return "HeadVerdict.advanced(from: " + std::to_string(from) + ", to: " + std::to_string(to) + ")";
    case Kind::unchanged: return "HeadVerdict.unchanged(" + std::to_string(counter) + ")";
    case Kind::rollbackSuspected:
        return "HeadVerdict.rollbackSuspected(seen: " + std::to_string(seen) +
               ", remembered: " + std::to_string(remembered) + ")";
    }
    return "HeadVerdict";
}

HeadRecord::Error HeadRecord::Error::counterExhausted() {
    return Error(Kind::counterExhausted, "HeadRecord.Error.counterExhausted");
}

HeadRecord::HeadRecord(std::uint64_t counter_, std::vector<UUID> snapshots_, Date updatedAt_, Bytes writerDeviceID_)
    : counter(counter_),
      snapshots(std::move(snapshots_)),
      updatedAt(updatedAt_),
      writerDeviceID(std::move(writerDeviceID_)) {}

HeadVerdict HeadRecord::compare(std::optional<std::uint64_t> remembered) const {
    if (!remembered) return HeadVerdict::advanced(0, counter);
    if (*remembered < counter) return HeadVerdict::advanced(*remembered, counter);
    if (*remembered == counter) return HeadVerdict::unchanged(counter);
    return HeadVerdict::rollbackSuspected(counter, *remembered);
}

HeadRecord HeadRecord::successor(std::vector<UUID> snapshots_, Date updatedAt_, Bytes writerDeviceID_) const {
    if (counter == std::numeric_limits<std::uint64_t>::max()) throw Error::counterExhausted();
    return HeadRecord(counter + 1, std::move(snapshots_), updatedAt_, std::move(writerDeviceID_));
}

JSON HeadRecord::toJSON() const {
    JSON o = JSON::object();
    o["v"] = v;
    o["counter"] = counter;
    o["snapshots"] = J::uuidArray(snapshots);
    o["updatedAt"] = J::date(updatedAt);
    o["writerDeviceID"] = J::data(writerDeviceID);
    return o;
}

HeadRecord HeadRecord::fromJSON(const JSON& o) {
    std::vector<UUID> snapshots = J::uuids(J::member(o, "snapshots"), "snapshots");
    HeadRecord h(J::uint64(J::member(o, "counter"), "counter"), std::move(snapshots),
                 J::toDate(J::member(o, "updatedAt"), "updatedAt"),
                 J::toData(J::member(o, "writerDeviceID"), "writerDeviceID"));
    h.v = J::int64(J::member(o, "v"), "v");
    return h;
}

}  // namespace wm
