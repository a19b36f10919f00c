#include "status/ReceivedBackup.h"

#include "core/Localization.h"
#include "core/Phrasing.h"

namespace wm::ReceivedBackup {

const std::string& whatTheStoringMacCannotDo() {
    static const std::string sentence = WM_L(
        "This Mac stores these and cannot open them: the key belongs to the device that sent them. To get files "
        "back from one, use Wendle Marsh on that device, or open the folder on any Mac with that device's "
        "recovery key.");
    return sentence;
}

std::string sentence(const std::optional<Date>& lastReceived, const std::optional<std::int64_t>& bytesHeld, Date now) {
    if (!lastReceived) return WM_L("Paired, and has not sent anything yet.");
    const std::string when = Phrasing::relativeTime(*lastReceived, now);
    if (!bytesHeld) return WM_L("Last sent %@.", when);
    const std::string size = *bytesHeld > 0 ? Phrasing::bytes(static_cast<std::uint64_t>(*bytesHeld)) : "nothing";
    return WM_L("Last sent %@. %@ here.", when, size);
}

}  // namespace wm::ReceivedBackup
