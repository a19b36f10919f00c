// The records the engine reads back from a repository, against hostile bytes: hold records,
// the retention setting and the writing lock. Decoding may refuse only with the JSON coding's
// own error; what decodes maps to a hold or a policy without failing, and encodes to a record
// that reads back the same from then on.
#include <cstdint>

#include "RecordRoundTrip.h"
#include "core/RepositoryLock.h"
#include "engine/HoldRecord.h"
#include "engine/RetentionRecord.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto json = wm::fuzz::jsonDocument(data, size);
    if (!json) return 0;
    wm::fuzz::roundTrip<wm::HoldRecord>(*json, [](const wm::HoldRecord& r) { (void)r.hold(); });
    wm::fuzz::roundTrip<wm::RetentionRecord>(*json, [](const wm::RetentionRecord& r) { (void)r.policy(); });
    try {
        const wm::RepositoryLock lock = wm::RepositoryLock::fromJSON(*json);
        (void)wm::RepositoryLock::evaluate(lock, "00112233445566778899aabbccddeeff", wm::Date::now());
    } catch (const wm::RepositoryJSON::DecodingError&) {
    }
    return 0;
}
