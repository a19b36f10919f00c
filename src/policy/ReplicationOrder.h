#pragma once
// The order in which further copy locations are served: locations already holding a
// confirmed copy first, the fastest first within each group, the caller's order last.
#include <optional>
#include <string>
#include <vector>

namespace wm::ReplicationOrder {

struct Location {
    std::string name;                      // carried through, never compared
    std::optional<double> bytesPerSecond;  // absent until measured
    bool unconfirmed = false;              // not yet known to hold a confirmed copy

    friend bool operator==(const Location&, const Location&) = default;
};

// The same locations in serving order. Within a group an unmeasured rate ranks ahead of
// every finite one; a rate that is not a number ranks behind every other, and equal
// ranks keep the input order.
std::vector<Location> order(const std::vector<Location>& locations);

}  // namespace wm::ReplicationOrder
