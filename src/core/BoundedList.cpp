#include "core/BoundedList.h"

#include <algorithm>

#include "core/Localization.h"
#include "core/Phrasing.h"
#include "core/Unicode.h"

namespace wm {

BoundedList::BoundedList(std::size_t maxBytes, std::string separator)
    : maxBytes_(maxBytes), separator_(std::move(separator)) {}

void BoundedList::add(std::string_view item) {
    ++count_;
    if (ends_.size() + 1 != count_) return;  // an earlier item was left out
    const std::size_t separator = ends_.empty() ? 0 : separator_.size();
    if (item.size() > maxBytes_ || joined_.size() + separator > maxBytes_ - item.size()) {
        // A first item too long to show whole is shown cut; no more of it is ever shown.
        if (count_ == 1) firstCut_.assign(item.substr(0, maxBytes_));
        return;
    }
    if (separator) joined_ += separator_;
    joined_ += item;
    ends_.push_back(joined_.size());
}

std::string BoundedList::cut(std::size_t items) const {
    return joined_.substr(0, ends_[items - 1]) + WM_L(", and %lld more", count_ - items);
}

std::string BoundedList::firstItemCut(std::size_t withinBytes) const {
    const std::string more = count_ > 1 ? WM_L(", and %lld more", count_ - 1) : std::string();
    const std::string_view first =
        ends_.empty() ? std::string_view(firstCut_) : std::string_view(joined_).substr(0, ends_[0]);
    constexpr std::size_t ellipsis = 3;  // "…", which the cut adds
    if (withinBytes > more.size() + ellipsis) {
        std::string text;
        Unicode::appendDecodedUTF8Within(text, viewOf(first), withinBytes - more.size() - ellipsis);
        if (text.size() > ellipsis) return text + more;  // at least one character of it
    }
    return notShown();
}

std::string BoundedList::notShown() const { return WM_L("%lld not shown", count_); }

std::string BoundedList::text(std::size_t withinBytes) const {
    withinBytes = std::min(withinBytes, maxBytes_);
    const bool whole = ends_.size() == count_;
    if (whole && joined_.size() <= withinBytes) return joined_;
    // As many of the first items as fit beside the count of the others: the count is a few
    // bytes, so this starts at most a few items from the end of those kept.
    for (std::size_t items = whole ? ends_.size() - 1 : ends_.size(); items > 0; --items) {
        const std::string more = WM_L(", and %lld more", count_ - items);
        if (ends_[items - 1] + more.size() <= withinBytes) return joined_.substr(0, ends_[items - 1]) + more;
    }
    return firstItemCut(withinBytes);
}

std::string BoundedList::phrase() const {
    if (ends_.size() == count_) {
        std::vector<std::string> items;
        items.reserve(ends_.size());
        for (std::size_t i = 0, start = 0; i < ends_.size(); start = ends_[i++] + separator_.size())
            items.push_back(joined_.substr(start, ends_[i] - start));
        std::string whole = Phrasing::list(items);
        if (whole.size() <= maxBytes_) return whole;
    }
    return text();
}

std::size_t BoundedList::leastBytes() const {
    if (count_ == 0) return 0;
    const std::size_t none = notShown().size();
    return ends_.size() == count_ ? std::min(joined_.size(), none) : none;
}

}  // namespace wm
