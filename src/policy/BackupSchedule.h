#pragma once
// How often scheduled backups run, the times and outcome of the latest runs, and the
// standing that follows from them at a given moment. Pure values: the caller passes the
// current time in.
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "core/Date.h"
#include "core/RepositoryJSON.h"

namespace wm {

class BackupFrequency {
public:
    enum Case : std::uint8_t { manual, hourly, daily, weekly };
    static constexpr std::array<Case, 4> allCases = {manual, hourly, daily, weekly};

    constexpr BackupFrequency(Case c) : case_(c) {}
    constexpr operator Case() const { return case_; }

    // Exact, case-sensitive raw values "manual", "hourly", "daily", "weekly".
    static std::optional<BackupFrequency> fromRawValue(std::string_view raw);
    std::string_view rawValue() const;
    // Seconds between scheduled backups; absent for manual.
    std::optional<double> interval() const;
    // The label shown for the choice.
    std::string sentence() const;

private:
    Case case_;
};

struct BackupSchedule {
    // The schedule's standing at one moment.
    struct Standing {
        enum class Kind : std::uint8_t { manual, upToDate, failing, overdue, neverRun };

        Kind kind = Kind::neverRun;
        std::optional<Date> lastSuccess;    // manual, upToDate (always present), failing, overdue
        std::optional<Date> next;           // upToDate: when the next backup is due
        Date since;                         // failing: the failed attempt's time
        std::optional<std::string> reason;  // failing
        double by = 0;                      // overdue: seconds past due

        static Standing manual(std::optional<Date> lastSuccess) { return {Kind::manual, lastSuccess, {}, {}, {}, 0}; }
        static Standing upToDate(Date lastSuccess, std::optional<Date> next) {
            return {Kind::upToDate, lastSuccess, next, {}, {}, 0};
        }
        static Standing failing(Date since, std::optional<Date> lastSuccess, std::optional<std::string> reason) {
            return {Kind::failing, lastSuccess, {}, since, std::move(reason), 0};
        }
        static Standing overdue(std::optional<Date> lastSuccess, double by) {
            return {Kind::overdue, lastSuccess, {}, {}, {}, by};
        }
        static Standing neverRun() { return {}; }

        std::string headline() const;
        bool isGood() const;
        bool needsAttention() const;
        // One line for under the headline; the file count, when given, follows a
        // last-backup sentence.
        std::string detail(std::optional<std::uint64_t> files, Date asOf) const;

        friend bool operator==(const Standing&, const Standing&) = default;
    };

    BackupSchedule() = default;
    explicit BackupSchedule(BackupFrequency frequency_, std::optional<Date> lastAttempt_ = std::nullopt,
                            std::optional<Date> lastSuccess_ = std::nullopt,
                            std::optional<std::string> lastFailure_ = std::nullopt)
        : frequency(frequency_),
          lastAttempt(lastAttempt_),
          lastSuccess(lastSuccess_),
          lastFailure(std::move(lastFailure_)) {}

    BackupFrequency frequency = BackupFrequency::manual;
    std::optional<Date> lastAttempt;
    std::optional<Date> lastSuccess;
    std::optional<std::string> lastFailure;  // shown to the user verbatim

    // Brings lastSuccess forward to the repository's newest snapshot when that is later.
    void adopt(std::optional<Date> newestSnapshot);
    // lastAttempt + interval (even when that lies before `after`); `after` when no
    // attempt is recorded; absent for manual.
    std::optional<Date> nextDue(Date after) const;
    bool isDue(Date now) const;
    Standing standing(Date now) const;

    JSON toJSON() const;
    // Throws RepositoryJSON::DecodingError for a damaged record.
    static BackupSchedule fromJSON(const JSON& json);

    friend bool operator==(const BackupSchedule&, const BackupSchedule&) = default;
};

}  // namespace wm

template <>
struct std::hash<wm::BackupFrequency> {
    std::size_t operator()(wm::BackupFrequency f) const noexcept { return static_cast<std::size_t>(f); }
};
