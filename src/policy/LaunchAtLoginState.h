#pragma once
// Whether the backup application starts by itself at login, from the status number the
// system's login-item service reports, and what that means for a backup schedule.
// Registering and asking the service are the caller's business.
#include <cstdint>
#include <string>

namespace wm {

struct LaunchAtLoginState {
    enum class Kind { unavailable, enabled, off, waitingForApproval };
    Kind kind = Kind::off;
    std::string reason;  // unavailable: why, as a sentence

    // 0 and 3 (not registered, not found) are off, 1 enabled, 2 waiting for approval;
    // any other number is unavailable.
    static LaunchAtLoginState fromServiceStatus(std::int64_t raw);

    bool canRunUnattended() const { return kind == Kind::enabled; }
    // What to expect of backups, with a schedule set or without one.
    std::string scheduleClaim(bool isScheduled) const;

    friend bool operator==(const LaunchAtLoginState&, const LaunchAtLoginState&) = default;
};

}  // namespace wm
