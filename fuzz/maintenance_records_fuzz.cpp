// The records maintenance reads back from a repository, against hostile bytes: pruning marks
// and replica states. Decoding may refuse only with the JSON coding's own error; what decodes
// encodes to a record that reads back the same from then on.
#include <cstdint>

#include "RecordRoundTrip.h"
#include "maintenance/Pruner.h"
#include "maintenance/ReplicaStateRecord.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto json = wm::fuzz::jsonDocument(data, size);
    if (!json) return 0;
    wm::fuzz::roundTrip<wm::Pruner::Mark>(*json);
    wm::fuzz::roundTrip<wm::ReplicaStateRecord>(*json);
    return 0;
}
