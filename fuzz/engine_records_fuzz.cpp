// The records the engine reads back from a repository, against hostile bytes: hold records,
// the retention setting and the writing lock. Decoding may refuse only with the JSON coding's
// own error; what decodes maps to a hold or a policy without failing, and encodes to a record
// that reads back the same from then on.
#include <cstdint>
#include <cstdlib>

#include "core/RepositoryJSON.h"
#include "core/RepositoryLock.h"
#include "engine/HoldRecord.h"
#include "engine/RetentionRecord.h"

namespace {

template <class Record, class Use>
void check(const wm::JSON& json, Use&& use) {
    try {
        const Record record = Record::fromJSON(json);
        use(record);
        const Record stored = Record::fromJSON(record.toJSON());
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
    check<wm::HoldRecord>(json, [](const wm::HoldRecord& r) { (void)r.hold(); });
    check<wm::RetentionRecord>(json, [](const wm::RetentionRecord& r) { (void)r.policy(); });
    try {
        const wm::RepositoryLock lock = wm::RepositoryLock::fromJSON(json);
        (void)wm::RepositoryLock::evaluate(lock, "00112233445566778899aabbccddeeff", wm::Date::now());
    } catch (const wm::RepositoryJSON::DecodingError&) {
    }
    return 0;
}
