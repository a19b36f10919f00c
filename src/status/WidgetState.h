#pragma once
// The small status record the backup application hands to its widget and its watch:
// the main-screen headline, the last success, the confirmed copies and when it was made.
// Stored as "widget-state.json": compact JSON, sorted keys, whole-second UTC dates.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "core/Bytes.h"
#include "core/Date.h"
#include "status/AppGroup.h"
#include "status/ScreenStanding.h"

namespace wm {

struct WidgetState {
    std::string headline;
    ScreenStanding::Tone tone = ScreenStanding::Tone::neutral;
    std::string symbol;
    std::optional<Date> lastSuccess;
    std::int64_t confirmedCopies = 0;
    Date writtenAt = Date::distantPast();  // the distant past: never written

    static constexpr const char* fileName = "widget-state.json";
    static constexpr std::string_view appGroup = AppGroup::identifier;

    static WidgetState fromStanding(const ScreenStanding::Headline& standing, std::optional<Date> lastSuccess,
                                    std::int64_t confirmedCopies, Date writtenAt);
    // Shown before anything was ever written; made once.
    static const WidgetState& nothingKnownYet();

    // The file's bytes. Throws RepositoryJSON::EncodingError (not for any text this
    // record holds in practice).
    static Bytes encode(const WidgetState& state);
    // Throws RepositoryJSON::DecodingError: malformed JSON, a required key missing, a value
    // of the wrong type, a count that is not an integer in range, an unknown tone, a date
    // that is not a whole-second internet date-time.
    static WidgetState decode(ByteView bytes);

    // Where the file lives: the app group's data folder.
    static std::filesystem::path filePath();
    // Creates the folder and replaces the file durably; throws std::system_error.
    static void write(const WidgetState& state, const std::filesystem::path& file = filePath());
    // Nothing when the file is missing, unreadable, not a regular file, larger than
    // readLimit or does not decode. A named pipe put in its place is never waited on.
    static constexpr std::size_t readLimit = 1 << 20;
    static std::optional<WidgetState> read(const std::filesystem::path& file = filePath());

    bool needsAttention() const { return tone == ScreenStanding::Tone::attention; }
    bool wasEverWritten() const { return writtenAt != Date::distantPast(); }
    // "as of <age>" once the record is stale; nothing for a record never written.
    std::optional<std::string> stalenessNote(Date now) const;

    friend bool operator==(const WidgetState&, const WidgetState&) = default;
};

}  // namespace wm
