#include "policy/PropertyList.h"

#include <plist/plist.h>

namespace wm {

void PropertyList::Free::operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }

std::optional<PropertyList> PropertyList::dictionary(std::string_view bytes) {
    if (bytes.empty() || bytes.size() > largestFile) return std::nullopt;
    auto scan = PropertyListScan::of(bytes);
    if (!scan) return std::nullopt;
    plist_t root = nullptr;
    plist_from_memory(bytes.data(), static_cast<std::uint32_t>(bytes.size()), &root);
    if (!root) return std::nullopt;
    PropertyList list(root, std::move(*scan));
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
    // The library keeps 32-bit seconds and reads damaged text as a date; the scan has the
    // date as the file writes it.
    return scan_.date(key);
}

}  // namespace wm
