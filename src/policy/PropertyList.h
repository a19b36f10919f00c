#pragma once
// A property-list dictionary read from outside bytes (XML or binary). Anything that is
// not a dictionary, including bytes that do not parse or that nest too deep for the library
// (PropertyListScan), gives no dictionary; a value is handed out only when it has the type
// asked for, and a date only when it names a real moment.
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/Date.h"
#include "policy/PropertyListScan.h"

namespace wm {

class PropertyList {
public:
    // Larger files are not read at all: the parser takes a 32-bit length.
    static constexpr std::size_t largestFile = 64u << 20;

    static std::optional<PropertyList> dictionary(std::string_view bytes);

    std::optional<std::string> text(const char* key) const;
    std::optional<Date> date(const char* key) const;

private:
    struct Free {
        void operator()(void* node) const;
    };
    PropertyList(void* root, PropertyListScan scan) : root_(root), scan_(std::move(scan)) {}
    std::unique_ptr<void, Free> root_;
    PropertyListScan scan_;
};

}  // namespace wm
