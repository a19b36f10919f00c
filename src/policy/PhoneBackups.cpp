#include "policy/PhoneBackups.h"

#include <algorithm>

#include "core/BoundedList.h"
#include "core/Localization.h"
#include "core/Unicode.h"
#include "policy/PropertyList.h"

namespace wm::PhoneBackups {

namespace {

constexpr double kStaleSeconds = 5184000;  // 60 days

std::optional<PropertyList> dictionaryAt(const std::string& path, const FileManager& fileManager) {
    const auto bytes = fileManager.regularFileContents(path, PropertyList::largestFile);
    if (!bytes) return std::nullopt;
    return PropertyList::dictionary(*bytes);
}

}  // namespace

const std::string& why() {
    static const std::string sentence =
        WM_L("Often the only copy of a phone there is. Large, so allow for the size of each one.");
    return sentence;
}

const std::string& whileWriting() {
    static const std::string sentence = WM_L(
        "A phone is being backed up to this Mac right now. That backup is half written, so it is left out of "
        "this run and picked up by the next one.");
    return sentence;
}

std::string Backup::title() const { return deviceName ? *deviceName : WM_L("iPhone or iPad"); }

bool Backup::isStale(Date now, std::int64_t after) const {
    return lastBackup && now.timeIntervalSince(*lastBackup) > static_cast<double>(after) * 86400.0;
}

std::string State::sentence() const {
    switch (kind) {
    case Kind::none: return WM_L("No iPhone or iPad backups were found on this Mac.");
    case Kind::needsFullDiskAccess:
        return WM_L(
            "There are iPhone or iPad backups on this Mac. macOS keeps them behind Full Disk Access, so "
            "give Wendle Marsh that in System Settings, Privacy and Security, Full Disk Access, and they "
            "can be included.");
    case Kind::found:
        if (backups.size() == 1) return WM_L("One iPhone or iPad backup is on this Mac.");
        return WM_L("%lld iPhone or iPad backups are on this Mac.", backups.size());
    }
    return {};
}

std::string folder(std::string_view home) { return std::string(home) + "/" + std::string(relativePath); }

State state(std::string_view home, const FileManager& fileManager) {
    const std::string root = folder(home);
    if (!fileManager.isDirectory(root)) return State::none();
    auto names = fileManager.contents(root);
    if (!names) return State::needsFullDiskAccess();
    std::erase_if(*names, [](const std::string& name) { return name.starts_with('.'); });
    std::sort(names->begin(), names->end());
    std::vector<Backup> backups;
    for (const std::string& name : *names) backups.push_back(read(root + "/" + name, name, fileManager));
    if (backups.empty()) return State::none();
    return State::found(std::move(backups));
}

Backup read(const std::string& deviceFolder, const std::string& id, const FileManager& fileManager) {
    const auto info = dictionaryAt(deviceFolder + "/Info.plist", fileManager);
    const auto status = dictionaryAt(deviceFolder + "/Status.plist", fileManager);
    Backup backup{id};
    if (info) {
        backup.deviceName = info->text("Device Name");
        if (!backup.deviceName) backup.deviceName = info->text("Display Name");
        backup.lastBackup = info->date("Last Backup Date");
    }
    if (status && !backup.lastBackup) backup.lastBackup = status->date("Date");
    backup.inProgress = !(status && status->text("SnapshotState") == "finished");
    return backup;
}

bool isFinished(const std::string& deviceFolder, const FileManager& fileManager) {
    const auto status = dictionaryAt(deviceFolder + "/Status.plist", fileManager);
    return status && status->text("SnapshotState") == "finished";
}

std::optional<std::string> stale(const std::vector<Backup>& backups, Date now) {
    std::vector<std::string> titles;
    for (const Backup& backup : backups)
        if (backup.lastBackup && now.timeIntervalSince(*backup.lastBackup) > kStaleSeconds)
            titles.push_back(backup.title());
    if (titles.empty()) return std::nullopt;
    std::sort(titles.begin(), titles.end());
    const char* const english =
        titles.size() == 1
            ? WM_N(
                  "The backup of %@ on this Mac is more than two months old, so that is how far back it would take "
                  "you. Connect it and back it up in Finder to bring it up to date.")
            : WM_N(
                  "The backups of %@ on this Mac are more than two months old, so that is how far back they would "
                  "take you. Connect them and back them up in Finder to bring them up to date.");
    // Any number of backups, each named as its own files name the device: the first whole
    // names while the sentence stays within Unicode::shownTextBytes, then how many more.
    const std::size_t words = Localization::sentence(WM_TEXT_DOMAIN, english, {""}).size();
    BoundedList names(Unicode::shownTextBytes > words ? Unicode::shownTextBytes - words : 0);
    for (const std::string& title : titles)
        names.add(Unicode::decodeUTF8RepairingWithin(viewOf(title), Unicode::shownTextBytes));
    return Localization::sentence(WM_TEXT_DOMAIN, english, {names.phrase()});
}

bool isInsideOrIs(std::string_view path, std::string_view folder) {
    if (folder.ends_with('/')) folder.remove_suffix(1);
    return path == folder || (path.size() > folder.size() && path.starts_with(folder) && path[folder.size()] == '/');
}

}  // namespace wm::PhoneBackups
