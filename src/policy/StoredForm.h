#pragma once
// The stored form of the backup side's records: a keyed JSON object named after the
// fields. An optional value is left out when absent and read as absent when its key
// is missing or null; every other key is required. Damaged input throws
// RepositoryJSON::DecodingError naming the key, never anything worse.
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "core/RepositoryJSON.h"

namespace wm::StoredForm {

// Writes value under key only when it is present.
template <class T, class Encode>
void putOptional(JSON& object, const char* key, const std::optional<T>& value, Encode encode) {
    if (value) object[key] = encode(*value);
}

// Reads key with read(json, path) when it is present and not null.
template <class Read>
auto optional(const JSON& object, std::string_view key, Read read) -> std::optional<decltype(read(object, key))> {
    if (!object.is_object()) RepositoryJSON::member(object, key);  // throws the type mismatch
    if (!RepositoryJSON::has(object, key)) return std::nullopt;
    return read(object.at(std::string(key)), key);
}

// An array read element by element with read(element, "path[i]"), in order.
template <class Read>
auto each(const JSON& value, std::string_view path, Read read) {
    RepositoryJSON::array(value, path);
    std::vector<decltype(read(value, std::string()))> out;
    out.reserve(value.size());
    for (std::size_t i = 0; i < value.size(); ++i)
        out.push_back(read(value[i], std::string(path) + "[" + std::to_string(i) + "]"));
    return out;
}

// An array of texts, read in order.
std::vector<std::string> texts(const JSON& value, std::string_view path);
// An array of texts read as a set (repeats collapse).
std::set<std::string> textSet(const JSON& value, std::string_view path);
JSON array(const std::set<std::string>& values);

}  // namespace wm::StoredForm
