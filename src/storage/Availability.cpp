#include "storage/Availability.h"

namespace wm {

std::string Availability::description() const {
    switch (case_) {
    case Case::notMounted: return "notMounted(volumeName: " + (volumeName ? *volumeName : std::string("nil")) + ")";
    case Case::unreachable: return "unreachable(reason: " + reason + ")";
    case Case::available: return "available";
    case Case::permissionRequired: return "permissionRequired";
    }
    return "available";
}

}  // namespace wm
