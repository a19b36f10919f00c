#include "app/WindowText.h"

#include <memory>
#include <set>

#include <unicode/datefmt.h>
#include <unicode/unistr.h>

#include "app/AppPaths.h"
#include "core/BoundedList.h"
#include "core/Localization.h"
#include "core/Phrasing.h"
#include "core/Unicode.h"

namespace wm::WindowText {

namespace {

std::string joined(const std::vector<std::string>& parts, const std::string& separator) {
    std::string out;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i) out += separator;
        out += parts[i];
    }
    return out;
}

template <class Record>
const Record& recordOf(const Record& record) {
    return record;
}
template <class Record>
const Record& recordOf(const Record* record) {
    return *record;
}

// "path: reason" for each record, of a list of records or of pointers to them.
template <class Entries>
std::vector<std::string> pathAndReasonLines(const Entries& entries) {
    std::vector<std::string> lines;
    lines.reserve(entries.size());
    for (const auto& entry : entries) lines.push_back(recordOf(entry).path + ": " + recordOf(entry).reason);
    return lines;
}

}  // namespace

std::string dateLine(Date date) {
    std::unique_ptr<icu::DateFormat> format(
        icu::DateFormat::createDateTimeInstance(icu::DateFormat::kMedium, icu::DateFormat::kShort));
    const auto milliseconds = static_cast<UDate>(date.microseconds / 1000);
    if (!format) return std::to_string(date.microseconds / 1000000);
    icu::UnicodeString text;
    format->format(milliseconds, text);
    std::string out;
    text.toUTF8String(out);
    return out;
}

std::string accessibilityValue(const RestoreAppModel::Backup& backup) {
    return Phrasing::count(backup.files, "file") + ", " + Phrasing::bytes(backup.bytes);
}

std::string detailLine(const RestoreAppModel::Backup& backup) {
    std::string line = accessibilityValue(backup);
    if (!backup.folders.empty()) {
        line += " from ";
        // A backup's record may name any number of folders, of any length.
        BoundedList names(Unicode::shownTextBytes > line.size() ? Unicode::shownTextBytes - line.size() : 0);
        for (const auto& folder : backup.folders)
            names.add(
                Unicode::decodeUTF8RepairingWithin(viewOf(AppPaths::lastComponent(folder)), Unicode::shownTextBytes));
        line += names.text();
    }
    return line;
}

std::string headline(const RestoreCoordinator::Result& result) {
    return result.isComplete() ? WM_L("Your files are back") : WM_L("Some of your files are back");
}

std::string summary(const RestoreCoordinator::Result& result, const std::string& into) {
    return Phrasing::count(result.filesRestored, "file") + " and " +
           Phrasing::count(result.directoriesRestored, "folder") + " in " + into;
}

std::vector<std::string> failureLines(const RestoreCoordinator::Result& result) {
    return pathAndReasonLines(result.failures.listed());
}

std::vector<std::string> skippedLines(const RestoreCoordinator::Result& result) {
    return pathAndReasonLines(result.skipped);
}

Detail detail(const std::string& title, const std::vector<std::string>& lines, std::uint64_t total) {
    total = std::max<std::uint64_t>(total, lines.size());
    Detail d;
    d.heading = WM_L("%@ (%lld)", title, static_cast<long long>(total));
    const std::size_t shown = std::min(lines.size(), detailLineLimit);
    d.lines.assign(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(shown));
    if (total > shown) d.more = WM_L("and %lld more", static_cast<long long>(total - shown));
    return d;
}

std::string unpreservedLine(const RestoreCoordinator::Result& result) {
    if (result.unpreserved.empty()) return "";
    const std::set<std::string>& attributes = result.unpreserved.attributes();
    return WM_L("Restored, but these could not be put back exactly: ") +
           joined(std::vector<std::string>(attributes.begin(), attributes.end()), ", ");
}

}  // namespace wm::WindowText
