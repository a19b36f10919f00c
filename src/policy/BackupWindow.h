#pragma once
// A band of hours of the day in which scheduled backups may run (for example only at
// night). The caller passes the moment and its calendar; nothing here reads a clock.
#include <cstdint>
#include <optional>
#include <string>

#include "core/Date.h"
#include "core/RepositoryJSON.h"
#include "policy/Calendar.h"

namespace wm {

struct BackupWindow {
    std::int64_t startHour = 0;  // first hour in which scheduled backups may run
    std::int64_t endHour = 0;    // the hour at which the window closes (not inside it)
    bool enabled = false;

    // May a scheduled backup run at that moment. Equal hours cover the whole day; a start
    // after the end makes a band across midnight.
    bool allows(Date date, const Calendar& calendar) const;
    // Outside an enabled window, when scheduled backups run and that a backup by hand is
    // still possible; absent otherwise.
    std::optional<std::string> sentence(Date now, const Calendar& calendar) const;

    // {"startHour", "endHour", "enabled"}, all required.
    JSON toJSON() const;
    static BackupWindow fromJSON(const JSON& json);

    friend bool operator==(const BackupWindow&, const BackupWindow&) = default;
};

}  // namespace wm
