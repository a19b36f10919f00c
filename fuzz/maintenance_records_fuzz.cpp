// The records maintenance reads back from a repository, against hostile bytes: pruning marks
// and replica states. Decoding may refuse only with the JSON coding's own error; what decodes
// encodes to a record that reads back the same from then on.
#include <cstdint>
#include <cstdlib>

#include "core/RepositoryJSON.h"
#include "maintenance/Pruner.h"
#include "maintenance/ReplicaStateRecord.h"

namespace {

template <class Record>
void check(const wm::JSON& json) {
    try {
        // Dates are stored to the millisecond: from the first encoding on, nothing changes.
        const Record stored = Record::fromJSON(Record::fromJSON(json).toJSON());
        if (!(Record::fromJSON(stored.toJSON()) == stored)) std::abort();
    } catch (const wm::RepositoryJSON::DecodingError&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    wm::JSON json;
    try {
        json = wm::RepositoryJSON::decode(wm::ByteView(data, size));
    } catch (const wm::RepositoryJSON::DecodingError&) {
        return 0;
    }
    check<wm::Pruner::Mark>(json);
    check<wm::ReplicaStateRecord>(json);
    return 0;
}
