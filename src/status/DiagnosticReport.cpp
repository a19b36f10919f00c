#include "status/DiagnosticReport.h"

#include <memory>

#include "core/Localization.h"
#include "core/Phrasing.h"
#include "core/Unicode.h"

namespace wm {

namespace {

// Calls visit with each user-perceived character of text, as UTF-8; byte by byte should
// ICU be unable to segment it.
std::string ageOrNever(const std::optional<Date>& date, Date now) {
    return date ? Phrasing::staleness(*date, now) : WM_L("never");
}

}  // namespace

std::string DiagnosticReport::withoutPaths(std::string_view text) {
    std::string result;
    result.reserve(text.size());
    std::string run;
    int slashes = 0;
    const auto endRun = [&] {
        if (slashes >= 2) {
            result += WM_L("[a path]");
        } else {
            result += run;
        }
        run.clear();
        slashes = 0;
    };
    Unicode::forEachCharacter(text, [&](std::string_view character) {
        const bool slash = character == "/";
        if (slashes == 0 && !slash) {
            result += character;
        } else if (slashes > 0 && (character == " " || character == "\n")) {
            endRun();
            result += character;
        } else {
            run += character;
            slashes += slash ? 1 : 0;
        }
    });
    if (slashes > 0) endRun();
    return result;
}

DiagnosticReport DiagnosticReport::build(const std::string& appVersion, const std::string& systemVersion,
                                         std::int64_t formatVersion, std::int64_t snapshotCount, std::int64_t blobCount,
                                         const std::vector<std::string>& locationKinds,
                                         const std::string& scheduleFrequency, std::optional<Date> lastSuccess,
                                         const std::optional<std::string>& lastFailure, std::int64_t driveFaults,
                                         std::optional<Date> lastVerified, Date now,
                                         const std::function<std::string(const std::string&)>& scrub) {
    std::string locations;
    for (const auto& kind : locationKinds) locations += (locations.empty() ? "" : ", ") + kind;
    if (locationKinds.empty()) locations = WM_L("none");

    std::vector<Line> lines{
        {"Wendle Marsh", appVersion},
        {"macOS", systemVersion},
        {WM_L("Repository format"), "version " + std::to_string(formatVersion)},
        {WM_L("Backups held"), std::to_string(snapshotCount)},
        {WM_L("Pieces stored"), std::to_string(blobCount)},
        {WM_L("Locations"), locations},
        {WM_L("Schedule"), scheduleFrequency},
        {WM_L("Last successful backup"), ageOrNever(lastSuccess, now)},
    };
    if (lastFailure) {
        std::string failure = withoutPaths(*lastFailure);
        lines.push_back({WM_L("Last failure"), scrub ? scrub(failure) : std::move(failure)});
    }
    lines.push_back({WM_L("Drive faults recorded"), std::to_string(driveFaults)});
    lines.push_back({WM_L("Last verified"), ageOrNever(lastVerified, now)});
    return DiagnosticReport(std::move(lines));
}

std::string DiagnosticReport::text() const {
    std::string printed;
    for (const auto& line : lines) {
        if (&line != &lines.front()) printed += "\n";
        printed += line.label + ": " + line.value;
    }
    return printed;
}

}  // namespace wm
