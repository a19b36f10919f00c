#include "status/WatchSnapshotStore.h"

#include "core/DurableReplace.h"
#include "core/RepositoryJSON.h"
#include "policy/FileManager.h"

namespace wm::WatchSnapshotStore {

namespace {

// Keys of the shared settings; "watch.receivedAt" holds whole microseconds since 1970.
constexpr const char* stateKey = "watch.lastState";
constexpr const char* receivedKey = "watch.receivedAt";
// The two values take a few hundred bytes; a file far larger is not the settings.
constexpr std::size_t settingsLimit = 1 << 20;

// The shared settings as they stand: an empty object while there is no file, nothing when
// there is one this cannot read (too large, nested too deep, a number out of range, not an
// object). Its keys belong to others too, so such a file is left as it is.
std::optional<JSON> readSettings() {
    const std::filesystem::path file = settingsFile();
    std::error_code error;
    if (std::filesystem::symlink_status(file, error).type() == std::filesystem::file_type::not_found)
        return JSON::object();
    if (error) return std::nullopt;
    const auto bytes = FileManager::defaultManager().regularFileContents(file.string(), settingsLimit);
    if (!bytes) return std::nullopt;
    try {
        JSON settings = RepositoryJSON::decode(viewOf(*bytes));
        if (settings.is_object()) return settings;
    } catch (const RepositoryJSON::DecodingError&) {
    }
    return std::nullopt;
}

}  // namespace

std::filesystem::path settingsFile() { return AppGroup::configurationFolder(appGroup) / "settings.json"; }

void record(const WidgetState& state, Date receivedAt) {
    try {
        // Other keys of the shared settings are kept.
        auto settings = readSettings();
        if (!settings) return;
        (*settings)[stateKey] = stringOf(WidgetState::encode(state));
        (*settings)[receivedKey] = receivedAt.microseconds;
        const std::filesystem::path file = settingsFile();
        std::filesystem::create_directories(file.parent_path());
        replaceFileDurably(file, RepositoryJSON::encodeBytes(*settings, /*pretty=*/false));
    } catch (const std::exception&) {
        // Nothing stored; the previous values stay as they were.
    }
}

WatchSummary::Snapshot current(Date now) {
    const JSON settings = readSettings().value_or(JSON::object());
    const auto state = settings.find(stateKey);
    const auto received = settings.find(receivedKey);
    if (state == settings.end() || !state->is_string() || received == settings.end())
        return WatchSummary::Snapshot::nothingHeardYet();
    try {
        const WidgetState decoded = WidgetState::decode(viewOf(state->get_ref<const std::string&>()));
        const Date receivedAt = Date::fromMicroseconds(RepositoryJSON::int64(*received, receivedKey));
        return WatchSummary::snapshot(decoded, receivedAt, now);
    } catch (const RepositoryJSON::DecodingError&) {
        return WatchSummary::Snapshot::nothingHeardYet();
    }
}

}  // namespace wm::WatchSnapshotStore
