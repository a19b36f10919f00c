// Arbitrary bytes as the stored form of the backup side's records: a schedule, exclusion
// rules and chosen sources. Damage must be refused with a decoding error, and whatever is
// accepted must be written in a form that reads back to itself (times are stored to the
// millisecond, so the first write may round them).
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "core/RepositoryJSON.h"
#include "policy/BackupSchedule.h"
#include "policy/Exclusions.h"
#include "policy/SourceSelection.h"

namespace {

template <class Record>
void roundTrip(const wm::JSON& json) {
    try {
        const Record written = Record::fromJSON(Record::fromJSON(json).toJSON());
        if (!(Record::fromJSON(written.toJSON()) == written)) std::abort();
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
    roundTrip<wm::BackupSchedule>(json);
    roundTrip<wm::Exclusions>(json);
    roundTrip<wm::SourceSelection>(json);
    return 0;
}
