// Arbitrary bytes as the stored form of the backup side's records: a schedule, exclusion
// rules and chosen sources. Damage must be refused with a decoding error, and whatever is
// accepted must be written in a form that reads back to itself (times are stored to the
// millisecond, so the first write may round them).
#include <cstdint>

#include "RecordRoundTrip.h"
#include "policy/BackupSchedule.h"
#include "policy/Exclusions.h"
#include "policy/SourceSelection.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto json = wm::fuzz::jsonDocument(data, size);
    if (!json) return 0;
    wm::fuzz::roundTrip<wm::BackupSchedule>(*json);
    wm::fuzz::roundTrip<wm::Exclusions>(*json);
    wm::fuzz::roundTrip<wm::SourceSelection>(*json);
    return 0;
}
