#pragma once
// Every path inside a repository: the fixed paths, the folders a repository must have,
// and the builders that turn an identifier into the path of the object it names.
#include <string>
#include <string_view>
#include <vector>

#include "core/Error.h"
#include "core/Identifiers.h"
#include "storage/Destination.h"
#include "storage/RepoPath.h"

namespace wm::RepositoryLayout {

class Error : public wm::Error {
public:
    enum class Kind { invalidKeyName };
    static Error invalidKeyName(std::string name);
    Kind kind;
    std::string name;

private:
    Error(Kind k, const std::string& description) : wm::Error(description), kind(k) {}
};

const RepoPath& configFile();        // wendlemarsh.repo
const RepoPath& head();              // refs/head
const RepoPath& retentionSetting();  // refs/retention
const RepoPath& lockFile();          // writing.lock
const RepoPath& readMe();            // Read Me First.txt
const RepoPath& formatDoc();         // Repository Format.md
const RepoPath& packsDirectory();
const RepoPath& indexDirectory();
const RepoPath& snapshotsDirectory();
const RepoPath& keysDirectory();
const RepoPath& locksDirectory();
const RepoPath& replicasDirectory();
const RepoPath& devicesDirectory();
const RepoPath& gcDirectory();
const RepoPath& holdsDirectory();
const RepoPath& tmpDirectory();

// The endings of the file names that listings of "index", "gc", "holds" and "keys" keep;
// other names there are passed over.
inline constexpr std::string_view indexEnding = ".idx";
inline constexpr std::string_view gcMarkEnding = ".mark";
inline constexpr std::string_view holdEnding = ".hold";
inline constexpr std::string_view keyEnding = ".key";

// The eleven folders of a repository, "refs" last.
const std::vector<RepoPath>& requiredDirectories();

// A UUID as file names use it: 32 lower-case hex digits, no hyphens.
std::string uuidName(const UUID& uuid);

RepoPath pack(const PackID& id);                 // packs/<first two hex digits>/<hex>.pack
RepoPath snapshot(const SnapshotID& id);         // snapshots/<u>.snap
RepoPath index(const UUID& id);                  // index/<u>.idx
RepoPath gcMark(const UUID& id);                 // gc/<u>.mark
RepoPath lock(const UUID& id);                   // locks/<u>.lock
RepoPath hold(const HoldID& id);                 // holds/<u>.hold
RepoPath replicaState(const DestinationID& id);  // replicas/<u>.state
RepoPath deviceStatus(const DeviceID& id);       // devices/<hex>.status
RepoPath temporary(const UUID& id);              // tmp/<u>
// keys/<name>.key. Names may come from outside (a key file's own keyID), so a name that
// cannot be one path component is refused with RepositoryLayout::Error::invalidKeyName.
RepoPath key(std::string_view name);

// The pack a file name in a fan-out folder promises: the name ends in ".pack" and its first
// non-empty "."-separated piece is the hex (either case) of 32 bytes. The fan-out folder
// is not compared with the id.
std::optional<PackID> packID(std::string_view fileName);

struct PackPath {
    PackID id;
    RepoPath path;
};

// Every file packs/<fan-out>/<name> whose name promises a pack, in the destination's
// listing order. Other names, and plain files lying directly in "packs" (left by a desktop
// or a file system), are passed over; a listing that fails otherwise propagates.
std::vector<PackPath> packPaths(Destination& destination);

}  // namespace wm::RepositoryLayout
