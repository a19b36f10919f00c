#include "policy/HistorySearch.h"

#include "core/Localization.h"

namespace wm::HistorySearch {

std::string progress(std::int64_t searched, std::int64_t total) {
    return WM_L("Read %lld of %lld backups", searched, total);
}

bool mayReportNothingFound(std::int64_t searched, std::int64_t total) { return total > 0 && searched >= total; }

}  // namespace wm::HistorySearch
