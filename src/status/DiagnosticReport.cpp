#include "status/DiagnosticReport.h"

#include <algorithm>
#include <cctype>
#include <memory>
#include <vector>

#include "core/Localization.h"
#include "core/Phrasing.h"
#include "core/Unicode.h"

namespace wm {

namespace {

std::string ageOrNever(const std::optional<Date>& date, Date now) {
    return date ? Phrasing::staleness(*date, now) : WM_L("never");
}

}  // namespace

std::string DiagnosticReport::withoutPaths(std::string_view text) {
    std::vector<std::string_view> characters;
    Unicode::forEachCharacter(text, [&](std::string_view character) { characters.push_back(character); });
    const std::size_t count = characters.size();
    const auto isClosingQuote = [&](std::size_t i) {
        static const std::string_view quotes[] = {"\"", "'", "\u2019", "\u201D", "\u00BB"};
        if (std::find(std::begin(quotes), std::end(quotes), characters[i]) == std::end(quotes)) return false;
        // A quote before a letter or digit is an apostrophe inside a name (Bob's Files).
        if (i + 1 == count) return true;
        const std::string_view next = characters[i + 1];
        return next.size() != 1 || !std::isalnum(static_cast<unsigned char>(next[0]));
    };
    // Where a run that reached a space may end: the next ": ", closing quote or line end.
    const auto stretchEnd = [&](std::size_t i) {
        while (i < count && characters[i] != "\n" && characters[i] != "\r\n" && !isClosingQuote(i) &&
               !(characters[i] == ":" && i + 1 < count && characters[i + 1] == " "))
            ++i;
        return i;
    };

    std::string result;
    result.reserve(text.size());
    for (std::size_t i = 0; i < count;) {
        if (characters[i] != "/") {
            result += characters[i++];
            continue;
        }
        std::size_t end = i, slashes = 0;
        while (end < count && characters[end] != " " && characters[end] != "\n") slashes += characters[end++] == "/";
        // A name with a space in it: the run goes on when another "/" follows before the
        // stretch ends, up to that end.
        if (end < count && characters[end] == " ") {
            const std::size_t stretch = stretchEnd(end);
            const auto more = std::count(characters.begin() + static_cast<std::ptrdiff_t>(end),
                                         characters.begin() + static_cast<std::ptrdiff_t>(stretch), "/");
            if (more > 0) {
                slashes += static_cast<std::size_t>(more);
                end = stretch;
            }
        }
        if (slashes >= 2) {
            result += WM_L("[a path]");
        } else {
            for (std::size_t k = i; k < end; ++k) result += characters[k];
        }
        i = end;
    }
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
