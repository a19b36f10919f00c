#pragma once
// The rules a search through the backup history follows while it runs: newest backup
// first, a progress line, and when it may say that nothing was found.
#include <cstdint>
#include <iterator>
#include <string>
#include <vector>

namespace wm::HistorySearch {

// The backups in reverse order, last first.
template <class T>
std::vector<T> order(std::vector<T> items) {
    return std::vector<T>(std::make_move_iterator(items.rbegin()), std::make_move_iterator(items.rend()));
}

// "Read 3 of 12 backups".
std::string progress(std::int64_t searched, std::int64_t total);
// Only a search that read every one of at least one backup may say it found nothing.
bool mayReportNothingFound(std::int64_t searched, std::int64_t total);

}  // namespace wm::HistorySearch
