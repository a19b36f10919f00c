#pragma once
// A look at a property list's bytes before the library parses them. The library recurses
// once per level of nesting while freeing what it read, so a file nested a few hundred
// thousand levels deep (a few megabytes) ends the process; in the binary form it also copies
// an object at every reference to it, so a few hundred bytes of shared references expand to
// billions of nodes. And it keeps dates as 32-bit seconds from 2001 and reads a damaged date
// text as some date all the same. The scan refuses the first two and keeps the top-level
// dictionary's dates as the file writes them.
#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "core/Date.h"

namespace wm {

class PropertyListScan {
public:
    // Dictionaries and arrays inside one another; real property lists use a handful.
    static constexpr std::size_t deepestNesting = 512;

    // Nothing when the bytes nest deeper than deepestNesting, when a binary list refers to
    // itself, or when its references would expand to more nodes than the file has bytes.
    static std::optional<PropertyListScan> of(std::string_view bytes);

    // The date under key in the top-level dictionary, as the library will pair them (in XML
    // the last entry of a key, in the binary form the first); absent when the value there is
    // not a date, or names no moment a Date can hold (damaged text, NaN, infinite, 1e300).
    std::optional<Date> date(const std::string& key) const;

private:
    std::map<std::string, std::optional<Date>> dates_;
};

}  // namespace wm
