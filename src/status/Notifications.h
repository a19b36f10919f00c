#pragma once
// The events the backup side tells the user about, and the title and body of each.
#include <cstdint>
#include <optional>
#include <string>

#include "core/Date.h"

namespace wm::Notifications {

struct Event {
    enum class Kind {
        backupFailed,             // text: why, shown as the body
        sourceLookedEmpty,        // text: the source's name
        verificationFoundDamage,  // number: pieces that failed to read back
        nothingBackedUpInDays,    // number: days without a backup
        copyFellBehind,           // text: shown as the body
        backupSucceeded,
        driveUnreliable,
        unusualChange,
    };
    Kind kind = Kind::backupSucceeded;
    std::string text;
    std::int64_t number = 0;

    static Event backupFailed(std::string reason) { return {Kind::backupFailed, std::move(reason)}; }
    static Event sourceLookedEmpty(std::string source) { return {Kind::sourceLookedEmpty, std::move(source)}; }
    static Event verificationFoundDamage(std::int64_t pieces) { return {Kind::verificationFoundDamage, {}, pieces}; }
    static Event nothingBackedUpInDays(std::int64_t days) { return {Kind::nothingBackedUpInDays, {}, days}; }
    static Event copyFellBehind(std::string text) { return {Kind::copyFellBehind, std::move(text)}; }
    static Event backupSucceeded() { return {Kind::backupSucceeded}; }
    static Event driveUnreliable() { return {Kind::driveUnreliable}; }
    static Event unusualChange() { return {Kind::unusualChange}; }

    friend bool operator==(const Event&, const Event&) = default;
};

struct Message {
    std::string title;
    std::string body;
    bool interrupts = true;  // interrupt the user rather than wait quietly
    friend bool operator==(const Message&, const Message&) = default;
};

// Days without a backup after which the user is reminded.
inline constexpr std::int64_t quietForTooLong = 7;

// The notification for an event; nothing for a backup that succeeded.
std::optional<Message> message(const Event& event);

// When the reminder about a quiet spell falls due: a week after the last success,
// whether or not that moment has passed. Nothing without a last success.
std::optional<Date> quietReminderDue(const std::optional<Date>& lastSuccess, Date now);

}  // namespace wm::Notifications
