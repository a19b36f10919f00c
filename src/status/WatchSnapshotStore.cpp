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

JSON readSettings() {
    const auto bytes = FileManager::defaultManager().regularFileContents(settingsFile().string(), settingsLimit);
    if (!bytes) return JSON::object();
    try {
        JSON settings = RepositoryJSON::decode(viewOf(*bytes));
        return settings.is_object() ? settings : JSON::object();
    } catch (const RepositoryJSON::DecodingError&) {
        return JSON::object();
    }
}

}  // namespace

std::filesystem::path settingsFile() { return AppGroup::configurationFolder(appGroup) / "settings.json"; }

void record(const WidgetState& state, Date receivedAt) {
    try {
        // Other keys of the shared settings are kept.
        JSON settings = readSettings();
        settings[stateKey] = stringOf(WidgetState::encode(state));
        settings[receivedKey] = receivedAt.microseconds;
        const std::filesystem::path file = settingsFile();
        std::filesystem::create_directories(file.parent_path());
        replaceFileDurably(file, RepositoryJSON::encodeBytes(settings, /*pretty=*/false));
    } catch (const std::exception&) {
        // Nothing stored; the previous values stay as they were.
    }
}

WatchSummary::Snapshot current(Date now) {
    const JSON settings = readSettings();
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
