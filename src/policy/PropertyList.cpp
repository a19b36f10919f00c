#include "policy/PropertyList.h"

#include <plist/plist.h>

namespace wm {

namespace {
// Property-list dates count seconds from 2001-01-01T00:00:00Z.
constexpr std::int64_t kReferenceDateUnixSeconds = 978307200;
}  // namespace

void PropertyList::Free::operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }

std::optional<PropertyList> PropertyList::dictionary(std::string_view bytes) {
    if (bytes.empty() || bytes.size() > largestFile) return std::nullopt;
    plist_t root = nullptr;
    plist_from_memory(bytes.data(), static_cast<std::uint32_t>(bytes.size()), &root);
    if (!root) return std::nullopt;
    PropertyList list(root);
    if (plist_get_node_type(root) != PLIST_DICT) return std::nullopt;
    return list;
}

std::optional<std::string> PropertyList::text(const char* key) const {
    plist_t node = plist_dict_get_item(static_cast<plist_t>(root_.get()), key);
    if (!node || plist_get_node_type(node) != PLIST_STRING) return std::nullopt;
    std::uint64_t length = 0;
    const char* value = plist_get_string_ptr(node, &length);
    if (!value) return std::nullopt;
    return std::string(value, length);
}

std::optional<Date> PropertyList::date(const char* key) const {
    plist_t node = plist_dict_get_item(static_cast<plist_t>(root_.get()), key);
    if (!node || plist_get_node_type(node) != PLIST_DATE) return std::nullopt;
    std::int32_t seconds = 0, microseconds = 0;
    plist_get_date_val(node, &seconds, &microseconds);
    return Date::fromMicroseconds((kReferenceDateUnixSeconds + seconds) * 1000000 + microseconds);
}

}  // namespace wm
