#pragma once
// A list joined into one text that never grows with the list: whole items in order while the
// text stays within a number of bytes, then the count of the rest, ", and 3 more". A record's
// text can name every extended attribute of a file or every folder of a backup, and a backup
// may hold any number of them.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace wm {

class BoundedList {
public:
    // maxBytes: the most the list's text may take, the count of the rest included; the items
    // kept to show it are at most that many bytes, whatever is added.
    explicit BoundedList(std::size_t maxBytes, std::string separator = ", ");

    // Counts the item, and keeps it while the items kept and it stay within maxBytes. Once one
    // is not kept, no later one is: the text shows the first items only.
    void add(std::string_view item);

    std::uint64_t count() const { return count_; }
    bool empty() const { return count_ == 0; }

    // The items joined by the separator when all of them fit within maxBytes; else as many of
    // the first ones as fit together with ", and N more", N counting the others; when not one
    // fits whole, the first cut at a character boundary and "…", then ", and N more"; when not
    // one character of it fits, "N not shown". Empty for no items.
    std::string text() const { return text(maxBytes_); }
    // The same within fewer bytes (at most maxBytes): where a text holds several lists, each
    // takes what the others leave. Never shorter than leastBytes().
    std::string text(std::size_t withinBytes) const;
    // As text(), but a list shown whole reads as Phrasing::list words it: "a, b and c".
    std::string phrase() const;

    // The fewest bytes text() can take: the whole list when it is shorter than "N not shown".
    std::size_t leastBytes() const;

private:
    std::string cut(std::size_t items) const;                 // the first items, and the rest counted
    std::string firstItemCut(std::size_t withinBytes) const;  // the first item cut, and the rest counted
    std::string notShown() const;                             // every item counted, none shown

    std::size_t maxBytes_;
    std::string separator_;
    std::string joined_;             // the items kept, joined by the separator
    std::string firstCut_;           // the first maxBytes of a first item too long to keep whole
    std::vector<std::size_t> ends_;  // where each kept item ends in joined_
    std::uint64_t count_ = 0;
};

}  // namespace wm
