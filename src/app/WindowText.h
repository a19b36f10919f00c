#pragma once
// The composed lines of the restore window (a backup row, the report), made here without
// any toolkit so they can be checked on their own. Fixed texts are looked up in the
// application's string table.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app/RestoreAppModel.h"
#include "core/Date.h"

namespace wm::WindowText {

// A report list shows at most this many lines.
constexpr std::size_t detailLineLimit = 8;

// A row's first line: the date abbreviated and the time shortened, in the current locale.
std::string dateLine(Date date);
// "12 files, 3.4 MB", then " from " and the last component of every folder, joined by ", ":
// the first whole ones while the line stays within Unicode::shownTextBytes, then ", and N more".
std::string detailLine(const RestoreAppModel::Backup& backup);
// The count phrase and the byte phrase without the folders (what a screen reader hears).
std::string accessibilityValue(const RestoreAppModel::Backup& backup);

// "Your files are back" or "Some of your files are back".
std::string headline(const RestoreCoordinator::Result& result);
// "48,215 files and 3,902 folders in /home/you/Restored".
std::string summary(const RestoreCoordinator::Result& result, const std::string& into);

// "path: reason" per entry, in the result's order; among the failures, the one with which
// the walk stopped comes first.
std::vector<std::string> failureLines(const RestoreCoordinator::Result& result);
std::vector<std::string> skippedLines(const RestoreCoordinator::Result& result);

// A titled list: the heading "Title (count)", at most eight lines and, past eight,
// "and N more". The lines are the first of `total` records (a result keeps only the first
// of many), and the count and N are of all of them.
struct Detail {
    std::string heading;
    std::vector<std::string> lines;
    std::string more;  // empty when every line is shown
};
Detail detail(const std::string& title, const std::vector<std::string>& lines, std::uint64_t total);

// "Restored, but these could not be put back exactly: " and the distinct attributes in
// ascending order, joined by ", "; empty when nothing was unpreserved.
std::string unpreservedLine(const RestoreCoordinator::Result& result);

}  // namespace wm::WindowText
