#include "policy/ReviewPrompt.h"

#include <limits>

#include "policy/StoredForm.h"

namespace wm {

bool ReviewPrompt::shouldAsk(Moment moment, Date now) const {
    if (moment != Moment::backupSucceeded && moment != Moment::verificationPassed) return false;
    if (everDeclined || timesAsked >= maximumAsks || successfulBackups < minimumBackups) return false;
    if (!firstUsed || now.timeIntervalSince(*firstUsed) < settlingIn) return false;
    return !lastAsked || now.timeIntervalSince(*lastAsked) >= minimumBetweenAsks;
}

ReviewPrompt ReviewPrompt::asked(Date at) const {
    ReviewPrompt copy = *this;
    copy.lastAsked = at;
    // A stored count can be anything; it stops at the top instead of wrapping to negative.
    if (copy.timesAsked < std::numeric_limits<std::int64_t>::max()) ++copy.timesAsked;
    return copy;
}

ReviewPrompt ReviewPrompt::declined() const {
    ReviewPrompt copy = *this;
    copy.everDeclined = true;
    return copy;
}

JSON ReviewPrompt::toJSON() const {
    JSON json = {{"successfulBackups", successfulBackups}, {"timesAsked", timesAsked}, {"everDeclined", everDeclined}};
    StoredForm::putOptional(json, "firstUsed", firstUsed, RepositoryJSON::date);
    StoredForm::putOptional(json, "lastAsked", lastAsked, RepositoryJSON::date);
    return json;
}

ReviewPrompt ReviewPrompt::fromJSON(const JSON& json) {
    using namespace RepositoryJSON;
    return {int64(member(json, "successfulBackups"), "successfulBackups"),
            StoredForm::optional(json, "firstUsed", toDate), StoredForm::optional(json, "lastAsked", toDate),
            int64(member(json, "timesAsked"), "timesAsked"), boolean(member(json, "everDeclined"), "everDeclined")};
}

}  // namespace wm
