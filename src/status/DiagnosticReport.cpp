#include "status/DiagnosticReport.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "core/BoundedList.h"
#include "core/Localization.h"
#include "core/Phrasing.h"
#include "core/Unicode.h"

namespace wm {

namespace {

std::string ageOrNever(const std::optional<Date>& date, Date now) {
    return date ? Phrasing::staleness(*date, now) : WM_L("never");
}

// What a user-perceived character is to the reading of paths.
enum class Sign : std::uint8_t {
    other,
    slash,
    space,
    lineFeed,
    carriageReturnLineFeed,
    backslash,
    tilde,
    doubleQuote,
    curlyOpening,
    curlyClosing,
    guillemetOpening,
    guillemetClosing,
};

Sign signOf(std::string_view character) {
    if (character.size() == 1) {
        switch (character[0]) {
        case '/': return Sign::slash;
        case ' ': return Sign::space;
        case '\n': return Sign::lineFeed;
        case '\\': return Sign::backslash;
        case '~': return Sign::tilde;
        case '"': return Sign::doubleQuote;
        default: return Sign::other;
        }
    }
    static const std::pair<std::string_view, Sign> longer[] = {{"\r\n", Sign::carriageReturnLineFeed},
                                                               {"\u201C", Sign::curlyOpening},
                                                               {"\u201D", Sign::curlyClosing},
                                                               {"\u00AB", Sign::guillemetOpening},
                                                               {"\u00BB", Sign::guillemetClosing}};
    for (const auto& [text, sign] : longer)
        if (character == text) return sign;
    return Sign::other;
}

// The first position at or after `start` where `matches` holds, or `end` when none does, for
// starts that never go back from one question to the next. What one question looked at is
// never looked at again, so all the questions over a text cost one pass over it.
template <typename Matches>
class ForwardSearch {
public:
    ForwardSearch(std::size_t end, Matches matches) : end_(end), matches_(std::move(matches)) { found_ = after(0); }

    std::size_t from(std::size_t start) {
        if (found_ < start) found_ = after(start);
        return found_;
    }

private:
    std::size_t after(std::size_t k) const {
        while (k < end_ && !matches_(k)) ++k;
        return k;
    }

    std::size_t end_;
    Matches matches_;
    std::size_t found_;
};

}  // namespace

std::string DiagnosticReport::withoutPaths(std::string_view text) {
    // Character k is text[starts[k], starts[k + 1]); the characters follow one another.
    std::vector<std::size_t> starts{0};
    std::vector<Sign> signs;
    starts.reserve(text.size() + 1);
    signs.reserve(text.size());
    Unicode::forEachCharacter(text, [&](std::string_view character) {
        starts.push_back(static_cast<std::size_t>(character.data() - text.data()) + character.size());
        signs.push_back(signOf(character));
    });
    const std::size_t count = signs.size();
    const auto span = [&](std::size_t from, std::size_t to) {
        return text.substr(starts[from], starts[to] - starts[from]);
    };
    const auto endsLine = [&](std::size_t k) {
        return signs[k] == Sign::lineFeed || signs[k] == Sign::carriageReturnLineFeed;
    };
    // A backslash takes the character after it along, unless that one ends the line. Each
    // closing quote is looked for just after a "/", which is never a backslash, so reading
    // the backslashes once from the start takes along the same characters.
    std::vector<bool> escaped(count);
    for (std::size_t k = 0; k + 1 < count; ++k)
        if (signs[k] == Sign::backslash && !endsLine(k + 1)) escaped[++k] = true;

    ForwardSearch slash(count, [&](std::size_t k) { return signs[k] == Sign::slash; });
    ForwardSearch runEnd(count, [&](std::size_t k) { return signs[k] == Sign::space || signs[k] == Sign::lineFeed; });
    ForwardSearch lineEnd(count, endsLine);
    const auto unescaped = [&](Sign sign) {
        return [&, sign](std::size_t k) { return signs[k] == sign && !escaped[k]; };
    };
    struct Quotes {
        Sign opening;
        ForwardSearch<decltype(unescaped(Sign::other))> closing;
    };
    Quotes pairs[] = {{Sign::doubleQuote, {count, unescaped(Sign::doubleQuote)}},
                      {Sign::curlyOpening, {count, unescaped(Sign::curlyClosing)}},
                      {Sign::guillemetOpening, {count, unescaped(Sign::guillemetClosing)}}};
    // The closing quote of a path whose "/" (or "~/") at i follows an opening double quote,
    // curly double quote or guillemet, when that line has one. Single quotes are left alone:
    // they double as apostrophes.
    const auto closingQuote = [&](std::size_t i) -> std::optional<std::size_t> {
        const std::size_t opening = i - (i > 0 && signs[i - 1] == Sign::tilde);
        if (opening == 0) return std::nullopt;
        const auto pair = std::find_if(std::begin(pairs), std::end(pairs),
                                       [&](const Quotes& p) { return p.opening == signs[opening - 1]; });
        if (pair == std::end(pairs)) return std::nullopt;
        const std::size_t closing = pair->closing.from(i + 1);
        return closing < lineEnd.from(i + 1) ? std::optional(closing) : std::nullopt;
    };

    std::string result;
    result.reserve(text.size());
    for (std::size_t i = 0; i < count;) {
        const std::size_t run = slash.from(i);
        result += span(i, run);
        if (run == count) break;
        std::size_t end = runEnd.from(run);
        // A run holds two "/" or more when another follows its first before it ends. A quoted
        // path with too few "/" to go is read as any other run.
        const std::size_t secondSlash = slash.from(run + 1);
        if (const auto closing = closingQuote(run); closing && secondSlash < *closing) end = *closing;
        if (secondSlash < end)
            result += WM_L("[a path]");
        else
            result += span(run, end);
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
    BoundedList kinds(Unicode::shownTextBytes);
    for (const auto& kind : locationKinds) kinds.add(kind);
    const std::string locations = locationKinds.empty() ? WM_L("none") : kinds.text();

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
