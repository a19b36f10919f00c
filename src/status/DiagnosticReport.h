#pragma once
// A short plain-text summary of the application and of one backup's state, for a person
// to send when asking for help. Its one free-text line, the last failure, has file paths
// taken out and then goes through the caller's own filter.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/Date.h"

namespace wm {

struct DiagnosticReport {
    struct Line {
        std::string label;
        std::string value;
        friend bool operator==(const Line&, const Line&) = default;
    };

    std::vector<Line> lines;

    DiagnosticReport() = default;
    explicit DiagnosticReport(std::vector<Line> lines) : lines(std::move(lines)) {}

    // Eleven labelled lines, or ten when there is no failure to report. The failure text has
    // its paths taken out and then goes through scrub; an empty scrub leaves it at that.
    static DiagnosticReport build(const std::string& appVersion, const std::string& systemVersion,
                                  std::int64_t formatVersion, std::int64_t snapshotCount, std::int64_t blobCount,
                                  const std::vector<std::string>& locationKinds, const std::string& scheduleFrequency,
                                  std::optional<Date> lastSuccess, const std::optional<std::string>& lastFailure,
                                  std::int64_t driveFaults, std::optional<Date> lastVerified, Date now,
                                  const std::function<std::string(const std::string&)>& scrub);

    // "label: value" lines joined by line feeds, none after the last.
    std::string text() const;

    // Replaces every run that starts at a "/", lasts until the next space or line feed and
    // holds at least two "/" with "[a path]"; a run with a single "/" (either/or, /tmp) stays.
    // A path in double quotes, curly double quotes or guillemets ("/a b/c", "~/a b/c") runs
    // to its closing quote on the same line, spaces and all; a quote after a backslash does
    // not close it. Read by user-perceived characters, so a carriage return and line feed
    // pair does not end a run.
    static std::string withoutPaths(std::string_view text);
};

}  // namespace wm
