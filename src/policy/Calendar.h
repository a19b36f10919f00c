#pragma once
// The calendar a person reads the clock in: the hour of a moment in one time zone,
// through ICU's Gregorian calendar. The C++ library here carries no time zones.
#include <string>

#include "core/Date.h"

namespace wm {

class Calendar {
public:
    // The process's time zone (TZ, else the system setting), as ICU finds it.
    static Calendar current();
    // A zone by its identifier ("Europe/Berlin", "UTC"); ICU reads an unknown one as GMT.
    explicit Calendar(std::string timeZoneID) : zone_(std::move(timeZoneID)) {}

    // The hour of the day, 0 to 23, at that moment.
    int hour(Date date) const;
    const std::string& timeZoneID() const { return zone_; }

private:
    std::string zone_;
};

}  // namespace wm
