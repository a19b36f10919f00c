#include "policy/KeyReminder.h"

#include "core/Localization.h"
#include "policy/StoredForm.h"

namespace wm {

bool KeyReminder::shouldAsk(Date now, Date backupCreated) const {
    if (declinedToCheck || now.timeIntervalSince(backupCreated) < settlingIn) return false;
    const Date reference = lastConfirmed.value_or(lastAsked.value_or(backupCreated));
    return now.timeIntervalSince(reference) >= askEvery;
}

KeyReminder KeyReminder::confirmed(Date at) const {
    KeyReminder copy = *this;
    copy.lastConfirmed = copy.lastAsked = at;
    return copy;
}

KeyReminder KeyReminder::asked(Date at) const {
    KeyReminder copy = *this;
    copy.lastAsked = at;
    return copy;
}

KeyReminder KeyReminder::declined() const {
    KeyReminder copy = *this;
    copy.declinedToCheck = true;
    return copy;
}

const std::string& KeyReminder::question() {
    static const std::string text = WM_L(
        "Do you still have your recovery key? It opens this backup on any Mac, and nobody, including us, can "
        "produce another. Now is a good moment to check where you put it.");
    return text;
}

const std::string& KeyReminder::cannotFindIt() {
    static const std::string text = WM_L(
        "The old key cannot be shown again, because it was never stored anywhere. While this backup is open on "
        "this Mac, Wendle Marsh can make you a new one, and both will work. If you lose this Mac before doing "
        "that, the backup cannot be opened by anybody.");
    return text;
}

JSON KeyReminder::toJSON() const {
    JSON json = {{"declinedToCheck", declinedToCheck}};
    StoredForm::putOptional(json, "lastConfirmed", lastConfirmed, RepositoryJSON::date);
    StoredForm::putOptional(json, "lastAsked", lastAsked, RepositoryJSON::date);
    return json;
}

KeyReminder KeyReminder::fromJSON(const JSON& json) {
    return {StoredForm::optional(json, "lastConfirmed", RepositoryJSON::toDate),
            StoredForm::optional(json, "lastAsked", RepositoryJSON::toDate),
            RepositoryJSON::boolean(RepositoryJSON::member(json, "declinedToCheck"), "declinedToCheck")};
}

}  // namespace wm
