#pragma once
// When the backup is read back to confirm it is intact: a sample check every 7 days, a full
// check every 90, only ever at a moment the caller reports as idle. Each update returns a
// changed copy; the caller passes the time and keeps the value.
#include <optional>

#include "core/Date.h"
#include "core/RepositoryJSON.h"
#include "core/VerificationSampling.h"

namespace wm {

struct VerificationSchedule {
    enum class Due { nothing, sample, full };
    enum class Depth { nothing, sample, everything };

    static constexpr double sampleEvery = 604'800;                        // 7 days
    static constexpr double fullEvery = 7'776'000;                        // 90 days
    static constexpr double sampleFraction = verificationSampleFraction;  // read by the check itself

    std::optional<Date> lastSample;  // a full check counts as a sample check too
    std::optional<Date> lastFull;

    // Nothing unless idle; a full check when one is due (or none was ever recorded), else a
    // sample check when one is due.
    Due due(Date at, bool isIdle) const;
    // A due full check reads everything only when everything can be read.
    static Depth depth(Due due, bool canReadEverything);
    // The schedule after a check of that kind finished at `at`.
    VerificationSchedule recorded(Due due, Date at) const;

    // {"lastSample", "lastFull"}, each only when present.
    JSON toJSON() const;
    static VerificationSchedule fromJSON(const JSON& json);

    friend bool operator==(const VerificationSchedule&, const VerificationSchedule&) = default;
};

}  // namespace wm
