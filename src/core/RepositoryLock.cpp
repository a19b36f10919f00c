#include "core/RepositoryLock.h"

namespace wm {

RepositoryLock::Verdict RepositoryLock::evaluate(const std::optional<RepositoryLock>& existing,
                                                 const std::string& thisDevice, Date now) {
    if (!existing) return Verdict::free();
    if (existing->deviceID == thisDevice) return Verdict::mine();
    if (now.timeIntervalSince(existing->heartbeatAt) > staleAfter) return Verdict::takenOver(existing->deviceName);
    return Verdict::heldBy(existing->deviceName, existing->acquiredAt);
}

JSON RepositoryLock::toJSON() const {
    JSON json = JSON::object();
    json["acquiredAt"] = RepositoryJSON::date(acquiredAt);
    json["deviceID"] = deviceID;
    json["deviceName"] = deviceName;
    json["heartbeatAt"] = RepositoryJSON::date(heartbeatAt);
    return json;
}

RepositoryLock RepositoryLock::fromJSON(const JSON& json) {
    using namespace RepositoryJSON;
    RepositoryLock lock;
    lock.acquiredAt = toDate(member(json, "acquiredAt"), "acquiredAt");
    lock.deviceID = text(member(json, "deviceID"), "deviceID");
    lock.deviceName = text(member(json, "deviceName"), "deviceName");
    lock.heartbeatAt = toDate(member(json, "heartbeatAt"), "heartbeatAt");
    return lock;
}

}  // namespace wm
