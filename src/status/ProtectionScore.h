#pragma once
// How well a person's files are protected: points out of 100, one sentence and the most
// useful thing left to do.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/Date.h"

namespace wm {

class ProtectionScore {
public:
    struct Inputs {
        std::int64_t confirmedCopies = 0;
        std::int64_t offsiteCopies = 0;
        std::optional<Date> lastVerified;
        std::optional<Date> lastSuccessfulBackup;
        bool hasUnresolvedDamage = false;
        bool hasDestinationReportingFaults = false;
        bool hasUnacknowledgedAnomaly = false;
        friend bool operator==(const Inputs&, const Inputs&) = default;
    };

    struct Step {
        std::string what;  // a localised instruction
        std::int64_t points = 0;
        friend bool operator==(const Step&, const Step&) = default;
    };

    ProtectionScore(const Inputs& inputs, Date now);

    std::int64_t outOf() const { return 100; }
    std::int64_t points() const { return points_; }
    // The steps not yet earned, in scoring order.
    const std::vector<Step>& steps() const { return steps_; }
    bool isCappedByDamage() const { return cappedByDamage_; }
    bool isCappedByRisk() const { return cappedByFault_ || cappedByAnomaly_; }
    bool isCapped() const { return cappedByDamage_ || isCappedByRisk(); }

    std::string sentence() const;
    // The step worth most (the earliest of equals); nothing while capped or when all is earned.
    std::optional<Step> nextStep() const;

    friend bool operator==(const ProtectionScore&, const ProtectionScore&) = default;

private:
    std::int64_t points_ = 0;
    std::vector<Step> steps_;
    bool cappedByDamage_ = false;
    std::int64_t confirmedCopies_ = 0;
    bool cappedByFault_ = false;
    bool cappedByAnomaly_ = false;
};

}  // namespace wm
