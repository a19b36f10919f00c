#include "core/DestinationHealth.h"

#include <limits>

namespace wm {

namespace {
void increment(std::int64_t& counter) {
    if (counter < std::numeric_limits<std::int64_t>::max()) ++counter;
}
}  // namespace

void DestinationHealth::recordFault(Fault fault, Date at) {
    switch (fault) {
    case Fault::badRead: increment(badReads); break;
    case Fault::lostWrite: increment(lostWrites); break;
    case Fault::disappeared: increment(disappearances); break;
    }
    if (!firstFaultAt) firstFaultAt = at;
}

void DestinationHealth::recordGoodOperation() { increment(goodOperations); }

}  // namespace wm
