#pragma once
// The check every JSON record target makes: decoding may refuse only with the JSON coding's
// own error, and what decodes is written in a form that reads back to itself from the first
// write on (dates are stored to the millisecond, so that first write may round them).
#include <cstdlib>
#include <optional>

#include "core/RepositoryJSON.h"

namespace wm::fuzz {

// The JSON document of the input, or nothing when the bytes are not one.
inline std::optional<JSON> jsonDocument(const std::uint8_t* data, std::size_t size) {
    try {
        return RepositoryJSON::decode(ByteView(data, size));
    } catch (const RepositoryJSON::DecodingError&) {
        return std::nullopt;
    }
}

template <class Record, class Use>
void roundTrip(const JSON& json, Use&& use) {
    try {
        const Record record = Record::fromJSON(json);
        use(record);
        const Record written = Record::fromJSON(record.toJSON());
        if (!(Record::fromJSON(written.toJSON()) == written)) std::abort();
    } catch (const RepositoryJSON::DecodingError&) {
    }
}

template <class Record>
void roundTrip(const JSON& json) {
    roundTrip<Record>(json, [](const Record&) {});
}

}  // namespace wm::fuzz
