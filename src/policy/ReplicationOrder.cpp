#include "policy/ReplicationOrder.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace wm::ReplicationOrder {

std::vector<Location> order(const std::vector<Location>& locations) {
    // A stable sort keeps the input order among equal keys: the position is the last key.
    std::vector<Location> sorted = locations;
    std::stable_sort(sorted.begin(), sorted.end(), [](const Location& a, const Location& b) {
        if (a.unconfirmed != b.unconfirmed) return !a.unconfirmed;
        const double ra = a.bytesPerSecond.value_or(std::numeric_limits<double>::max());
        const double rb = b.bytesPerSecond.value_or(std::numeric_limits<double>::max());
        // Not-a-number compares with nothing, which would break the sort's ordering:
        // such a rate gets its own rank, behind every number.
        if (std::isnan(ra) || std::isnan(rb)) return !std::isnan(ra) && std::isnan(rb);
        return ra > rb;
    });
    return sorted;
}

}  // namespace wm::ReplicationOrder
