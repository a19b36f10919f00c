#pragma once
// The one-line state of a backup a paired device sends to this computer, which holds it
// without being able to open it.
#include <cstdint>
#include <optional>
#include <string>

#include "core/Date.h"

namespace wm::ReceivedBackup {

// What the storing computer cannot do with such a backup; made once.
const std::string& whatTheStoringMacCannotDo();

// "Paired, and has not sent anything yet." / "Last sent <when>." / "Last sent <when>. <size> here."
std::string sentence(const std::optional<Date>& lastReceived, const std::optional<std::int64_t>& bytesHeld, Date now);

}  // namespace wm::ReceivedBackup
