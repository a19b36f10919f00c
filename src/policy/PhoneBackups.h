#pragma once
// The iPhone and iPad backups that the device-sync service keeps in the home folder:
// where they live, what is found there, what one device backup says about itself and
// which are too old to be worth much.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/Date.h"
#include "policy/FileManager.h"

namespace wm::PhoneBackups {

inline constexpr std::string_view relativePath = "Library/Application Support/MobileSync/Backup";

const std::string& why();
// Explains a device backup left out because it was being written during the run.
const std::string& whileWriting();

struct Backup {
    std::string id;  // the device backup folder's name
    std::optional<std::string> deviceName;
    std::optional<Date> lastBackup;
    bool inProgress = true;

    // The device name, or "iPhone or iPad" when there is none.
    std::string title() const;
    // True when lastBackup is more than `after` days before now.
    bool isStale(Date now, std::int64_t after) const;

    friend bool operator==(const Backup&, const Backup&) = default;
};

struct State {
    enum class Kind : std::uint8_t { found, none, needsFullDiskAccess };
    Kind kind = Kind::none;
    std::vector<Backup> backups;  // found only

    static State found(std::vector<Backup> backups) { return {Kind::found, std::move(backups)}; }
    static State none() { return {Kind::none, {}}; }
    static State needsFullDiskAccess() { return {Kind::needsFullDiskAccess, {}}; }

    std::string sentence() const;
    friend bool operator==(const State&, const State&) = default;
};

// home + "/" + relativePath, joined as text.
std::string folder(std::string_view home);
State state(std::string_view home, const FileManager& fileManager = FileManager::defaultManager());
// Reads the folder's Info.plist and Status.plist; missing or damaged files give absent
// values and a backup in progress.
Backup read(const std::string& deviceFolder, const std::string& id,
            const FileManager& fileManager = FileManager::defaultManager());
// True only when the device folder's Status.plist says the backup finished.
bool isFinished(const std::string& deviceFolder, const FileManager& fileManager);
// The sentence naming the backups more than 60 days old; absent when there is none.
std::optional<std::string> stale(const std::vector<Backup>& backups, Date now);
// path equals folder (one trailing "/" of folder ignored) or lies beneath it.
bool isInsideOrIs(std::string_view path, std::string_view folder);

}  // namespace wm::PhoneBackups
