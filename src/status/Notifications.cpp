#include "status/Notifications.h"

#include "core/Localization.h"
#include "core/Phrasing.h"

namespace wm::Notifications {

std::optional<Message> message(const Event& event) {
    switch (event.kind) {
    case Event::Kind::backupFailed: return Message{WM_L("Wendle Marsh could not back up"), event.text};
    case Event::Kind::sourceLookedEmpty:
        return Message{WM_L("Nothing was backed up from %@", event.text),
                       WM_L("It looks empty, and it was not last time. Nothing in your backup was changed. This "
                            "is usually a drive that is not connected.")};
    case Event::Kind::verificationFoundDamage:
        return Message{WM_L("Part of this backup is damaged"),
                       WM_L("%@ could not be read back correctly. Other copies of this backup may still be intact.",
                            Phrasing::count(event.number, "piece"))};
    case Event::Kind::nothingBackedUpInDays:
        return Message{WM_L("No backup for %@", Phrasing::count(event.number, "day")),
                       WM_L("Wendle Marsh has not managed a backup since then. Opening it will say why.")};
    case Event::Kind::copyFellBehind: return Message{WM_L("A copy has stopped keeping up"), event.text};
    case Event::Kind::backupSucceeded: return std::nullopt;
    case Event::Kind::driveUnreliable:
        return Message{WM_L("This backup drive is not reliable"),
                       WM_L("It returned something other than what was written to it. Whatever the cause, do not "
                            "let this be your only copy.")};
    case Event::Kind::unusualChange:
        return Message{WM_L("An unusual amount changed"),
                       WM_L("The backup was taken and nothing older will be removed until you say this was "
                            "expected. If you did this yourself, it is fine.")};
    }
    return std::nullopt;
}

std::optional<Date> quietReminderDue(const std::optional<Date>& lastSuccess, Date /*now*/) {
    if (!lastSuccess) return std::nullopt;
    return lastSuccess->adding(static_cast<double>(quietForTooLong) * 86'400);
}

}  // namespace wm::Notifications
