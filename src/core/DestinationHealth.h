#pragma once
// The running fault tally of one destination. It starts at zero whenever a
// repository is opened and is never stored.
#include <cstdint>
#include <optional>

#include "core/Date.h"

namespace wm {

struct DestinationHealth {
    enum class Fault { badRead, lostWrite, disappeared };

    std::int64_t badReads = 0;
    std::int64_t lostWrites = 0;
    std::int64_t disappearances = 0;
    std::int64_t goodOperations = 0;
    std::optional<Date> firstFaultAt;

    // Counts the fault; the first fault's time is kept.
    void recordFault(Fault fault, Date at);
    // Counts a pack that was sealed, written and read back whole.
    void recordGoodOperation();

    friend bool operator==(const DestinationHealth&, const DestinationHealth&) = default;
};

}  // namespace wm
