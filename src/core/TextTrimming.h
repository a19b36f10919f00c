#pragma once
// The two trims the application applies to what people type or store in files.
#include <string>
#include <string_view>

namespace wm::TextTrimming {

// Removes leading and trailing horizontal white space: the tab and every Unicode space
// separator (the ordinary space, the no-break space and the like). Line breaks stay.
std::string horizontal(std::string_view text);

// Removes leading and trailing white space and line breaks of every kind (tab, line feed,
// vertical tab, form feed, carriage return, next line, the space, line and paragraph
// separators).
std::string whitespaceAndNewlines(std::string_view text);

}  // namespace wm::TextTrimming
