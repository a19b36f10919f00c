#include "policy/VerificationSchedule.h"

#include "policy/StoredForm.h"

namespace wm {

VerificationSchedule::Due VerificationSchedule::due(Date at, bool isIdle) const {
    if (!isIdle) return Due::nothing;
    if (at.timeIntervalSince(lastFull.value_or(Date::distantPast())) >= fullEvery) return Due::full;
    if (at.timeIntervalSince(lastSample.value_or(Date::distantPast())) >= sampleEvery) return Due::sample;
    return Due::nothing;
}

VerificationSchedule::Depth VerificationSchedule::depth(Due due, bool canReadEverything) {
    switch (due) {
    case Due::nothing: return Depth::nothing;
    case Due::sample: return Depth::sample;
    case Due::full: return canReadEverything ? Depth::everything : Depth::sample;
    }
    return Depth::nothing;
}

VerificationSchedule VerificationSchedule::recorded(Due due, Date at) const {
    VerificationSchedule copy = *this;
    if (due == Due::full) copy.lastFull = at;
    if (due != Due::nothing) copy.lastSample = at;
    return copy;
}

JSON VerificationSchedule::toJSON() const {
    JSON json = JSON::object();
    StoredForm::putOptional(json, "lastSample", lastSample, RepositoryJSON::date);
    StoredForm::putOptional(json, "lastFull", lastFull, RepositoryJSON::date);
    return json;
}

VerificationSchedule VerificationSchedule::fromJSON(const JSON& json) {
    return {StoredForm::optional(json, "lastSample", RepositoryJSON::toDate),
            StoredForm::optional(json, "lastFull", RepositoryJSON::toDate)};
}

}  // namespace wm
