#pragma once
// The one JSON coding of every repository record: keys sorted, compact or pretty,
// dates as ISO 8601 text with fractional seconds (written with milliseconds and "Z";
// read with 1 to 9 fraction digits and any offset), byte strings as standard Base64,
// UUIDs as their upper-case 36-character text, integers exact over the whole int64 and
// uint64 ranges. Keys a record does not know are ignored.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/Bytes.h"
#include "core/Date.h"
#include "core/Error.h"
#include "core/Identifiers.h"

namespace wm {

using JSON = nlohmann::json;  // object keys are kept sorted

namespace RepositoryJSON {

class DecodingError : public wm::Error {
public:
    enum class Kind { dataCorrupted, keyNotFound, typeMismatch };
    DecodingError(Kind k, std::string path, std::string detail);
    Kind kind;
    std::string path;    // the key path, e.g. "stats.files"
    std::string detail;  // e.g. "not an ISO 8601 timestamp with fractional seconds"
};

class EncodingError : public wm::Error {
public:
    explicit EncodingError(const std::string& detail);  // e.g. a non-finite double
};

// Serialisation. Pretty output uses two-space indentation and "key" : value.
// Throws EncodingError for a non-finite number anywhere in the value.
std::string encode(const JSON& value, bool pretty);
Bytes encodeBytes(const JSON& value, bool pretty);
// Parses bytes; malformed JSON throws DecodingError(dataCorrupted).
JSON decode(ByteView bytes);

// Field coders. "path" names the key in errors.
std::string dateText(Date date);  // "2026-12-06T21:00:35.123Z"
std::optional<Date> parseDate(std::string_view text);
// The internet date-time in whole seconds ("2026-12-05T14:30:00Z") of files that do not
// use this coding's dates: a fraction is dropped on writing and refused on reading.
std::string wholeSecondDateText(Date date);
std::optional<Date> parseWholeSecondDate(std::string_view text);
JSON date(Date d);
JSON data(ByteView bytes);  // Base64
JSON uuid(const UUID& u);   // upper-case text

// Readers of a required key of an object; each throws DecodingError with the key path
// (keyNotFound, typeMismatch or dataCorrupted).
const JSON& member(const JSON& object, std::string_view key, std::string_view path = {});
bool has(const JSON& object, std::string_view key);  // present and not null
std::int64_t int64(const JSON& value, std::string_view path);
std::uint64_t uint64(const JSON& value, std::string_view path);
std::int32_t int32(const JSON& value, std::string_view path);
std::uint32_t uint32(const JSON& value, std::string_view path);
double float64(const JSON& value, std::string_view path);  // must be finite
bool boolean(const JSON& value, std::string_view path);
std::string text(const JSON& value, std::string_view path);
Date toDate(const JSON& value, std::string_view path);
Bytes toData(const JSON& value, std::string_view path);
UUID toUUID(const JSON& value, std::string_view path);

// Arrays: the value itself, which must be an array (typeMismatch otherwise), and the lists of
// texts and of UUIDs, whose elements are read with the array's path.
const JSON& array(const JSON& value, std::string_view path);
std::vector<std::string> texts(const JSON& value, std::string_view path);
std::vector<UUID> uuids(const JSON& value, std::string_view path);
JSON textArray(const std::vector<std::string>& list);
JSON uuidArray(const std::vector<UUID>& list);

// The keyed forms of the identifier types: {"bytes": <Base64>} for the byte
// identifiers and {"value": <UUID text>} for the UUID ones. (Repository records keep
// bare bytes and bare UUIDs instead; these serve records that store identifiers.)
template <std::size_t N, class Tag>
JSON identifier(const FixedBytesID<N, Tag>& id) {
    return JSON{{"bytes", data(id.view())}};
}
template <class Tag>
JSON identifier(const UUIDIdentity<Tag>& id) {
    return JSON{{"value", uuid(id.value)}};
}
// Reads either form back; a byte string of the wrong width is dataCorrupted.
template <class ID>
ID toIdentifier(const JSON& value, std::string_view path) {
    if constexpr (requires { ID::size; }) {
        const std::string inner = std::string(path).empty() ? "bytes" : std::string(path) + ".bytes";
        auto id = ID::fromBytes(toData(member(value, "bytes", path), inner));
        if (!id)
            throw DecodingError(DecodingError::Kind::dataCorrupted, inner, "wrong number of bytes for the identifier");
        return *id;
    } else {
        const std::string inner = std::string(path).empty() ? "value" : std::string(path) + ".value";
        return ID{toUUID(member(value, "value", path), inner)};
    }
}

}  // namespace RepositoryJSON
}  // namespace wm
