#include "policy/BackupSchedule.h"

#include "core/Localization.h"
#include "core/Phrasing.h"
#include "policy/StoredForm.h"

namespace wm {

std::optional<BackupFrequency> BackupFrequency::fromRawValue(std::string_view raw) {
    for (Case c : allCases)
        if (BackupFrequency(c).rawValue() == raw) return BackupFrequency(c);
    return std::nullopt;
}

std::string_view BackupFrequency::rawValue() const {
    switch (case_) {
    case manual: return "manual";
    case hourly: return "hourly";
    case daily: return "daily";
    case weekly: return "weekly";
    }
    return "manual";
}

std::optional<double> BackupFrequency::interval() const {
    switch (case_) {
    case manual: return std::nullopt;
    case hourly: return 3600.0;
    case daily: return 86400.0;
    case weekly: return 604800.0;
    }
    return std::nullopt;
}

std::string BackupFrequency::sentence() const {
    switch (case_) {
    case manual: return WM_L("Only when I ask");
    case hourly: return WM_L("Every hour");
    case daily: return WM_L("Every day");
    case weekly: return WM_L("Every week");
    }
    return {};
}

void BackupSchedule::adopt(std::optional<Date> newestSnapshot) {
    if (!newestSnapshot) return;
    if (lastSuccess.value_or(Date::distantPast()) < *newestSnapshot) lastSuccess = newestSnapshot;
}

std::optional<Date> BackupSchedule::nextDue(Date after) const {
    const auto interval = frequency.interval();
    if (!interval) return std::nullopt;
    if (!lastAttempt) return after;
    return lastAttempt->adding(*interval);
}

bool BackupSchedule::isDue(Date now) const {
    const auto due = nextDue(now);
    return due && *due <= now;
}

BackupSchedule::Standing BackupSchedule::standing(Date now) const {
    if (lastAttempt && (!lastSuccess || *lastSuccess < *lastAttempt))
        return Standing::failing(*lastAttempt, lastSuccess, lastFailure);
    const auto interval = frequency.interval();
    if (!interval) return Standing::manual(lastSuccess);
    if (!lastSuccess) return Standing::neverRun();
    const double age = now.timeIntervalSince(*lastSuccess);
    if (age > 2 * *interval) return Standing::overdue(lastSuccess, age - *interval);
    return Standing::upToDate(*lastSuccess, nextDue(now));
}

std::string BackupSchedule::Standing::headline() const {
    switch (kind) {
    case Kind::manual: return lastSuccess ? WM_L("Backed up") : WM_L("Ready to protect your files");
    case Kind::upToDate: return WM_L("You're protected");
    case Kind::failing: return WM_L("Backups are not working");
    case Kind::overdue: return WM_L("Your backup is out of date");
    case Kind::neverRun: return WM_L("Ready to protect your files");
    }
    return {};
}

bool BackupSchedule::Standing::isGood() const {
    return kind == Kind::upToDate || (kind == Kind::manual && lastSuccess);
}

bool BackupSchedule::Standing::needsAttention() const { return kind == Kind::failing || kind == Kind::overdue; }

std::string BackupSchedule::Standing::detail(std::optional<std::uint64_t> files, Date asOf) const {
    const std::string fileCount = files ? " " + Phrasing::count(*files, "file") + "." : "";
    const std::string reasonPart = reason ? " " + *reason : "";
    switch (kind) {
    case Kind::neverRun: return WM_L("Nothing has been backed up here yet.");
    case Kind::manual:
    case Kind::upToDate:
        if (!lastSuccess) return WM_L("Nothing has been backed up here yet.");
        return WM_L("Last backup %@.", Phrasing::relativeTime(*lastSuccess, asOf)) + fileCount;
    case Kind::overdue:
        if (!lastSuccess) return WM_L("No backup has ever succeeded.");
        return WM_L("Last backup %@.", Phrasing::staleness(*lastSuccess, asOf)) + fileCount;
    case Kind::failing:
        if (!lastSuccess) return WM_L("No backup has ever succeeded.") + reasonPart;
        return WM_L("Last successful backup %@.", Phrasing::staleness(*lastSuccess, asOf)) + reasonPart;
    }
    return {};
}

JSON BackupSchedule::toJSON() const {
    JSON out = JSON::object();
    out["frequency"] = std::string(frequency.rawValue());
    StoredForm::putOptional(out, "lastAttempt", lastAttempt, RepositoryJSON::date);
    StoredForm::putOptional(out, "lastSuccess", lastSuccess, RepositoryJSON::date);
    StoredForm::putOptional(out, "lastFailure", lastFailure, [](const std::string& s) { return JSON(s); });
    return out;
}

BackupSchedule BackupSchedule::fromJSON(const JSON& json) {
    const std::string raw = RepositoryJSON::text(RepositoryJSON::member(json, "frequency"), "frequency");
    const auto frequency = BackupFrequency::fromRawValue(raw);
    if (!frequency)
        throw RepositoryJSON::DecodingError(RepositoryJSON::DecodingError::Kind::dataCorrupted, "frequency",
                                            "not a backup frequency");
    BackupSchedule schedule{*frequency};
    schedule.lastAttempt = StoredForm::optional(json, "lastAttempt", RepositoryJSON::toDate);
    schedule.lastSuccess = StoredForm::optional(json, "lastSuccess", RepositoryJSON::toDate);
    schedule.lastFailure = StoredForm::optional(json, "lastFailure", RepositoryJSON::text);
    return schedule;
}

}  // namespace wm
