#pragma once
// When to ask whether the person still has the backup's recovery key: not in the first 30
// days of the backup, then about twice a year, never again once they declined. Each update
// returns a changed copy; the caller passes the time and keeps the value.
#include <optional>
#include <string>

#include "core/Date.h"
#include "core/RepositoryJSON.h"

namespace wm {

struct KeyReminder {
    static constexpr double askEvery = 15'724'800;   // 182 days
    static constexpr double settlingIn = 2'592'000;  // 30 days

    std::optional<Date> lastConfirmed;
    std::optional<Date> lastAsked;
    bool declinedToCheck = false;

    // Counted from the last confirmation, else the last question, else the backup's creation.
    bool shouldAsk(Date now, Date backupCreated) const;
    KeyReminder confirmed(Date at) const;  // also counts as asked
    KeyReminder asked(Date at) const;
    KeyReminder declined() const;

    static const std::string& question();
    static const std::string& cannotFindIt();

    // {"lastConfirmed", "lastAsked"} only when present; "declinedToCheck" always, required.
    JSON toJSON() const;
    static KeyReminder fromJSON(const JSON& json);

    friend bool operator==(const KeyReminder&, const KeyReminder&) = default;
};

}  // namespace wm
