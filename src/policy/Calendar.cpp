#include "policy/Calendar.h"

#include <memory>

#include <unicode/calendar.h>
#include <unicode/gregocal.h>
#include <unicode/timezone.h>

namespace wm {

Calendar Calendar::current() {
    std::unique_ptr<icu::TimeZone> zone(icu::TimeZone::createDefault());
    icu::UnicodeString id;
    zone->getID(id);
    std::string text;
    id.toUTF8String(text);
    return Calendar(text);
}

int Calendar::hour(Date date) const {
    UErrorCode status = U_ZERO_ERROR;
    icu::GregorianCalendar calendar(icu::TimeZone::createTimeZone(icu::UnicodeString::fromUTF8(zone_)), status);
    // Whole milliseconds, rounded down, so 16:59:59.9999 is still 16 o'clock.
    calendar.setTime(static_cast<UDate>(floorDivision(date.microseconds, 1000)), status);
    const int h = calendar.get(UCAL_HOUR_OF_DAY, status);
    return U_SUCCESS(status) ? h : 0;
}

}  // namespace wm
