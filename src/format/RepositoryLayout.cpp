#include "format/RepositoryLayout.h"
#include "core/ErrorDescription.h"

#include "core/Hex.h"
#include "format/DriveReadMe.h"

namespace wm::RepositoryLayout {

namespace {

// The fixed paths are built from constants the program owns; RepoPath's operator/ stops
// the process on an invalid component, which here would be a programming error.
RepoPath fixed(std::initializer_list<std::string_view> components) {
    RepoPath path;
    for (auto c : components) path = path / c;
    return path;
}

}  // namespace

Error Error::invalidKeyName(std::string name) {
    Error e(Kind::invalidKeyName, ErrorDescription("RepositoryLayout.Error", "invalidKeyName").quoted("", name));
    e.name = std::move(name);
    return e;
}

#define WM_FIXED_PATH(function, ...)                       \
    const RepoPath& function() {                           \
        static const RepoPath path = fixed({__VA_ARGS__}); \
        return path;                                       \
    }

WM_FIXED_PATH(configFile, "wendlemarsh.repo")
WM_FIXED_PATH(head, "refs", "head")
WM_FIXED_PATH(retentionSetting, "refs", "retention")
WM_FIXED_PATH(lockFile, "writing.lock")
WM_FIXED_PATH(readMe, DriveReadMe::fileName)
WM_FIXED_PATH(formatDoc, DriveReadMe::formatFileName)
WM_FIXED_PATH(packsDirectory, "packs")
WM_FIXED_PATH(indexDirectory, "index")
WM_FIXED_PATH(snapshotsDirectory, "snapshots")
WM_FIXED_PATH(keysDirectory, "keys")
WM_FIXED_PATH(locksDirectory, "locks")
WM_FIXED_PATH(replicasDirectory, "replicas")
WM_FIXED_PATH(devicesDirectory, "devices")
WM_FIXED_PATH(gcDirectory, "gc")
WM_FIXED_PATH(holdsDirectory, "holds")
WM_FIXED_PATH(tmpDirectory, temporaryFolderName)

#undef WM_FIXED_PATH

const std::vector<RepoPath>& requiredDirectories() {
    static const std::vector<RepoPath> list{
        packsDirectory(), indexDirectory(),    snapshotsDirectory(), keysDirectory(),
        locksDirectory(), replicasDirectory(), devicesDirectory(),   gcDirectory(),
        holdsDirectory(), tmpDirectory(),      fixed({"refs"}),
    };
    return list;
}

std::string uuidName(const UUID& uuid) { return uuid.compactHex(); }

RepoPath pack(const PackID& id) {
    const std::string hex = id.hex();
    return packsDirectory() / hex.substr(0, 2) / (hex + ".pack");
}

std::optional<PackID> packID(std::string_view fileName) {
    if (!fileName.ends_with(".pack")) return std::nullopt;
    const std::size_t start = fileName.find_first_not_of('.');
    if (start == std::string_view::npos) return std::nullopt;
    const std::size_t end = fileName.find('.', start);
    const auto bytes = Hex::decode(fileName.substr(start, end - start));
    if (!bytes) return std::nullopt;
    return PackID::fromBytes(*bytes);
}

std::vector<PackPath> packPaths(Destination& destination) {
    std::vector<PackPath> found;
    for (const RepoPath& folder : destination.list(packsDirectory())) {
        std::vector<RepoPath> entries;
        try {
            entries = destination.list(folder);
        } catch (const DestinationError&) {
            std::optional<std::int64_t> size;
            try {
                size = destination.size(folder);
            } catch (const DestinationError&) {
            }
            if (size) continue;  // a file, not a folder: it holds no packs
            throw;
        }
        for (RepoPath& path : entries) {
            if (path.isRoot()) continue;
            if (auto id = packID(path.fileName())) found.push_back(PackPath{*id, std::move(path)});
        }
    }
    return found;
}

RepoPath snapshot(const SnapshotID& id) { return snapshotsDirectory() / (uuidName(id.value) + ".snap"); }
RepoPath index(const UUID& id) { return indexDirectory() / (uuidName(id) + std::string(indexEnding)); }
RepoPath gcMark(const UUID& id) { return gcDirectory() / (uuidName(id) + std::string(gcMarkEnding)); }
RepoPath lock(const UUID& id) { return locksDirectory() / (uuidName(id) + ".lock"); }
RepoPath hold(const HoldID& id) { return holdsDirectory() / (uuidName(id.value) + std::string(holdEnding)); }
RepoPath replicaState(const DestinationID& id) { return replicasDirectory() / (uuidName(id.value) + ".state"); }
RepoPath deviceStatus(const DeviceID& id) { return devicesDirectory() / (id.hex() + ".status"); }
RepoPath temporary(const UUID& id) { return tmpDirectory() / uuidName(id); }

RepoPath key(std::string_view name) {
    std::string component(name);
    component += keyEnding;
    // "name.key" can never be "." or ".." or empty, so the check that matters is the
    // name itself: a slash or NUL would escape "keys" or cut the name short. An empty
    // name gives the hidden file ".key", which no key file is ever called.
    if (name.empty() || !RepoPath::isValidComponent(name) || !RepoPath::isValidComponent(component))
        throw Error::invalidKeyName(std::string(name));
    auto path = keysDirectory().appending(std::move(component));
    if (!path) throw Error::invalidKeyName(std::string(name));
    return *path;
}

}  // namespace wm::RepositoryLayout
