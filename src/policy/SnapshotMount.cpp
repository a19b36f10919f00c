#include "policy/SnapshotMount.h"

namespace wm::SnapshotMount {

namespace {

constexpr std::string_view kNamePrefix = "com.apple.TimeMachine.";
constexpr std::string_view kNameSuffix = ".local";
constexpr std::string_view kCreated = "Created local snapshot with date: ";
constexpr std::string_view kDateShape = "dddd-dd-dd-dddddd";

// The text starts with a date of the form YYYY-MM-DD-HHMMSS.
bool startsWithDate(std::string_view text) {
    if (text.size() < kDateShape.size()) return false;
    for (std::size_t i = 0; i < kDateShape.size(); ++i) {
        const char c = text[i];
        if (kDateShape[i] == 'd' ? !(c >= '0' && c <= '9') : c != kDateShape[i]) return false;
    }
    return true;
}

}  // namespace

std::string mountFolder(const UUID& id) { return std::string(mountRoot) + "/" + id.uuidString(); }

bool isSnapshotName(std::string_view text) {
    if (text.size() != kNamePrefix.size() + kDateShape.size() + kNameSuffix.size()) return false;
    return text.starts_with(kNamePrefix) && text.ends_with(kNameSuffix) &&
           startsWithDate(text.substr(kNamePrefix.size()));
}

bool isMountFolder(std::string_view text) {
    if (text.size() <= mountRoot.size() || !text.starts_with(mountRoot) || text[mountRoot.size()] != '/') return false;
    const std::string_view rest = text.substr(mountRoot.size() + 1);
    if (rest.find('/') != std::string_view::npos) return false;
    const auto id = UUID::parse(rest);
    return id && id->uuidString() == rest;
}

std::optional<std::string> snapshotName(std::string_view tmutilOutput) {
    for (std::size_t at = tmutilOutput.find(kCreated); at != std::string_view::npos;
         at = tmutilOutput.find(kCreated, at + 1)) {
        const std::string_view date = tmutilOutput.substr(at + kCreated.size());
        if (!startsWithDate(date)) continue;
        std::string name =
            std::string(kNamePrefix) + std::string(date.substr(0, kDateShape.size())) + std::string(kNameSuffix);
        if (isSnapshotName(name)) return name;
        return std::nullopt;
    }
    return std::nullopt;
}

std::optional<std::vector<std::string>> mountCommand(std::string_view snapshot, std::string_view folder) {
    if (!isSnapshotName(snapshot) || !isMountFolder(folder)) return std::nullopt;
    return std::vector<std::string>{
        "/sbin/mount_apfs", "-o", "rdonly,nobrowse", "-s", std::string(snapshot), std::string(volume),
        std::string(folder)};
}

std::optional<std::vector<std::string>> unmountCommand(std::string_view folder) {
    if (!isMountFolder(folder)) return std::nullopt;
    return std::vector<std::string>{"/sbin/umount", std::string(folder)};
}

}  // namespace wm::SnapshotMount
