#pragma once
// Whether the person may be asked to review the application now: at most twice, only right
// after something went well, only after five successful backups and two weeks of use, never
// within 120 days of the previous ask, never again after a decline. Each update returns a
// changed copy; showing the request is the caller's business.
#include <cstdint>
#include <optional>

#include "core/Date.h"
#include "core/RepositoryJSON.h"

namespace wm {

struct ReviewPrompt {
    enum class Moment { backupSucceeded, verificationPassed, restoreFinished, somethingWentWrong, ordinary };

    static constexpr std::int64_t maximumAsks = 2;
    static constexpr double minimumBetweenAsks = 10'368'000;  // 120 days
    static constexpr std::int64_t minimumBackups = 5;
    static constexpr double settlingIn = 1'209'600;  // 14 days since first use

    std::int64_t successfulBackups = 0;  // kept by the owner
    std::optional<Date> firstUsed;       // kept by the owner
    std::optional<Date> lastAsked;
    std::int64_t timesAsked = 0;
    bool everDeclined = false;

    bool shouldAsk(Moment moment, Date now) const;
    ReviewPrompt asked(Date at) const;
    ReviewPrompt declined() const;

    // The two dates only when present; the counts and the flag always, required.
    JSON toJSON() const;
    static ReviewPrompt fromJSON(const JSON& json);

    friend bool operator==(const ReviewPrompt&, const ReviewPrompt&) = default;
};

}  // namespace wm
