#include "status/VerificationWording.h"

#include "core/Localization.h"
#include "core/Phrasing.h"

namespace wm::VerificationWording {

std::string everythingIntact(std::int64_t pieces, std::uint64_t bytesRead) {
    return WM_L("Everything in this backup is intact. %@ checked, %@ read.", Phrasing::count(pieces, "piece"),
                Phrasing::bytes(bytesRead));
}

const std::string& sampleFoundNothing() {
    static const std::string sentence =
        WM_L("Nothing wrong in what was checked. This was a sample, and the rest was not read.");
    return sentence;
}

const std::string& neverChecked() {
    static const std::string sentence = WM_L("Nothing here has been read back yet, so this backup is unconfirmed.");
    return sentence;
}

bool countsAsVerified(bool isHealthy, std::int64_t checked, std::int64_t total) {
    return isHealthy && total > 0 && checked == total;
}

}  // namespace wm::VerificationWording
