#include "status/DiagnosticReport.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <utility>
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
    const auto begin = characters.begin();
    const auto slashes = [&](std::size_t from, std::size_t to) {
        return std::count(begin + static_cast<std::ptrdiff_t>(from), begin + static_cast<std::ptrdiff_t>(to), "/");
    };
    const auto endsLine = [&](std::size_t i) { return characters[i] == "\n" || characters[i] == "\r\n"; };
    // The closing quote of a path whose "/" (or "~/") at i follows an opening double quote,
    // curly double quote or guillemet, when that line has one. Single quotes are left alone:
    // they double as apostrophes.
    const auto closingQuote = [&](std::size_t i) -> std::optional<std::size_t> {
        static const std::pair<std::string_view, std::string_view> pairs[] = {
            {"\"", "\""}, {"\u201C", "\u201D"}, {"\u00AB", "\u00BB"}};
        const std::size_t opening = i - (i > 0 && characters[i - 1] == "~");
        if (opening == 0) return std::nullopt;
        const auto pair = std::find_if(std::begin(pairs), std::end(pairs),
                                       [&](const auto& p) { return p.first == characters[opening - 1]; });
        if (pair == std::end(pairs)) return std::nullopt;
        for (std::size_t k = i + 1; k < characters.size() && !endsLine(k); ++k) {
            if (characters[k] == "\\" && k + 1 < characters.size() && !endsLine(k + 1))
                ++k;
            else if (characters[k] == pair->second)
                return k;
        }
        return std::nullopt;
    };

    std::string result;
    result.reserve(text.size());
    for (std::size_t i = 0; i < characters.size();) {
        if (characters[i] != "/") {
            result += characters[i++];
            continue;
        }
        std::size_t end = i;
        while (end < characters.size() && characters[end] != " " && characters[end] != "\n") ++end;
        // A quoted path with too few "/" to go is read as any other run.
        if (const auto closing = closingQuote(i); closing && slashes(i, *closing) >= 2) end = *closing;
        if (slashes(i, end) >= 2) {
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
