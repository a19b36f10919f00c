#pragma once
// When the application looks for a new version of itself, when one may be installed, and
// the sentence that says where updates stand. It checks, downloads and installs nothing.
#include <optional>
#include <string>

#include "core/Date.h"

namespace wm::UpdatePolicy {

// What the application is busy with.
enum class Activity { idle, backingUp, restoring, verifying, pruning };

// Due when never checked, when the last check lies in the future, or once interval
// seconds have passed (inclusive).
bool shouldCheck(const std::optional<Date>& lastChecked, Date now, double interval);
// Only an idle application installs.
bool mayInstall(Activity during);
// The activity's localised phrase ("your backup").
std::string describe(Activity activity);

struct Standing {
    enum class Kind {
        upToDate,          // date: the check that found nothing newer
        available,         // version
        installing,        // version
        readyToInstall,    // version
        waitingUntilIdle,  // version, because
        couldNotCheck,     // reason, lastSuccessful
        neverChecked,
        handledByTheAppStore,
    };
    Kind kind = Kind::neverChecked;
    std::string text;  // the version, or the reason
    Date checked;      // upToDate
    std::optional<Date> lastSuccessful;
    Activity because = Activity::idle;

    static Standing upToDate(Date checked) { return {Kind::upToDate, {}, checked}; }
    static Standing available(std::string version) { return {Kind::available, std::move(version)}; }
    static Standing installing(std::string version) { return {Kind::installing, std::move(version)}; }
    static Standing readyToInstall(std::string version) { return {Kind::readyToInstall, std::move(version)}; }
    static Standing waitingUntilIdle(std::string version, Activity because) {
        return {Kind::waitingUntilIdle, std::move(version), {}, std::nullopt, because};
    }
    static Standing couldNotCheck(std::string reason, std::optional<Date> lastSuccessful) {
        return {Kind::couldNotCheck, std::move(reason), {}, lastSuccessful};
    }
    static Standing neverChecked() { return {Kind::neverChecked}; }
    static Standing handledByTheAppStore() { return {Kind::handledByTheAppStore}; }

    // The sentence, with ages measured from now (the system clock unless a test fixes it).
    std::string sentence(Date now = Date::now()) const;
    bool isKnownCurrent() const { return kind == Kind::upToDate; }

    friend bool operator==(const Standing&, const Standing&) = default;
};

}  // namespace wm::UpdatePolicy
