#include "policy/NetworkConditions.h"

#include "core/Localization.h"

namespace wm::NetworkConditions {

Verdict shouldSendRemoteCopies(const State& state) {
    if (state.isExpensive)
        return Verdict::waiting(
            WM_L("This Mac is on a connection that charges by the byte, so copies to anywhere that is "
                 "not on this Mac are waiting. Update All sends them anyway."));
    if (state.isConstrained)
        return Verdict::waiting(
            WM_L("Low Data Mode is on, so copies to anywhere that is not on this Mac are waiting. Update All sends "
                 "them anyway."));
    return Verdict::go();
}

}  // namespace wm::NetworkConditions
