#pragma once
// The one gate through which a restore writes. It holds a descriptor of the target
// folder and creates folders, files, symbolic links and hard links strictly
// relative to it: no path is resolved from a string, no symbolic link is followed
// on the way down, nothing that already exists is replaced, and every path is held
// to a depth limit and a length limit. Every refusal is a PathSafetyViolation.
//
// Operations run one at a time. Each walks down from the target folder again; no
// folder descriptor is kept between operations, so a folder swapped for a symbolic
// link between two operations is caught by the next one. Descriptors handed out
// belong to the caller.
//
// When it is told the folder of the backup being read, it refuses a target that is
// that folder or lies inside it, and never enters that folder from the target, both
// decided by device and inode, so a bind mount or a link to the backup is caught too.
//
// openTarget reaches the target folder itself, making it when it is missing.
#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>

#include "core/Bytes.h"
#include "core/SystemCall.h"
#include "format/TreeObject.h"
#include "restore/PathSafetyViolation.h"
#include "restore/SafeName.h"
#include "restore/SpecialFileOutcome.h"

namespace wm {

// A folder as the file system knows it, however it is reached.
struct FolderIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    // The identity of the folder at path (links followed), or nothing when it cannot be reached.
    static std::optional<FolderIdentity> of(const std::filesystem::path& path);
    // Whether the open folder is this one or lies anywhere below it, found by going up
    // ".." to the top of the file system.
    bool holds(int folderDescriptor) const;
    friend bool operator==(const FolderIdentity&, const FolderIdentity&) = default;
};

// What a check of the target folder found before the restore, which the folder then
// opened must match.
struct CheckedTarget {
    // The folder found there; nothing when nothing was there, so the restore must make it.
    std::optional<FolderIdentity> found;
};

class RestoreRoot {
public:
    // Opens the target folder (which may itself be a symbolic link; everything below
    // it is guarded). Throws PathSafetyViolation::restoreRootUnavailable, or
    // insideTheBackup when the target is the backup folder or lies inside it.
    RestoreRoot(const std::filesystem::path& rootDirectory, int maxComponentCount, int maxTotalPathBytes,
                std::optional<FolderIdentity> backupFolder = std::nullopt);
    // Takes over rootDescriptor, a folder openTarget opened for rootDirectory, with the
    // same refusal of the backup folder.
    RestoreRoot(UniqueFd rootDescriptor, const std::filesystem::path& rootDirectory, int maxComponentCount,
                int maxTotalPathBytes, std::optional<FolderIdentity> backupFolder = std::nullopt);
    ~RestoreRoot();
    RestoreRoot(const RestoreRoot&) = delete;
    RestoreRoot& operator=(const RestoreRoot&) = delete;

    // Runs after a folder was made and before it is opened; tests use it to put something
    // else in its place.
    using BetweenMakingAndOpening = std::function<void(const std::filesystem::path& made)>;

    // The folder a restore goes into, open. Without checked, a target that exists is opened
    // as named, links followed. Every missing folder, the target and those above it, is made
    // in a descriptor of the folder above it and opened there without following a link, and
    // must be the very folder made (device and inode). With checked, the target must be the
    // folder the check found, or, when it found nothing, one this call makes. Anything else
    // is refused with targetReplaced before a byte is written. A target whose nearest existing
    // folder is backupFolder or lies inside it is refused with insideTheBackup before any
    // folder is made. A folder that cannot be made, a file on the way or a path too long
    // throws std::filesystem::filesystem_error with the system's error; an existing target
    // that cannot be opened, restoreRootUnavailable.
    static UniqueFd openTarget(const std::filesystem::path& into, const std::optional<CheckedTarget>& checked,
                               std::optional<FolderIdentity> backupFolder,
                               const BetweenMakingAndOpening& betweenMakingAndOpening = {});

    // Closes the target folder's descriptor once; later calls do nothing.
    void close();
    bool isClosed() const;
    int maxComponentCount() const { return maxComponentCount_; }
    int maxTotalPathBytes() const { return maxTotalPathBytes_; }

    // A path as the limits count it: its components, and their bytes with one separator each.
    struct PathMeasure {
        std::size_t components = 0;
        std::size_t bytes = 0;
        // This path with one more component, of nameBytes bytes, at its end.
        PathMeasure adding(std::size_t nameBytes) const { return {components + 1, bytes + nameBytes + 1}; }
    };
    // Throws tooManyComponents or pathTooLong when a path so measured is beyond the limits
    // (the component count is checked first); a path at a limit passes.
    static void checkLimits(PathMeasure path, int maxComponentCount, int maxTotalPathBytes);

    // The last folder of a path, open, and whether this call created it.
    struct Folder {
        UniqueFd descriptor;
        bool created = false;
    };

    // Walks the path, creating missing folders with mode.
    void ensureDirectoryExists(SafePath path, std::uint16_t mode);
    // The same, handing the last folder to the caller.
    Folder ensureDirectoryExistsReturningDescriptor(SafePath path, std::uint16_t mode);
    // A new regular file, open for writing. Set-user-ID and set-group-ID bits are
    // never requested, whatever mode says. Missing parent folders are created.
    UniqueFd createFile(SafePath path, std::uint16_t mode);
    // A new symbolic link whose content is target, byte for byte.
    void createSymlink(SafePath path, ByteView target);
    // The same, handing over the descriptor of the folder that holds the new link,
    // so the caller can reach the link itself by (folder, name) without a text path.
    UniqueFd createSymlinkReturningParentDescriptor(SafePath path, ByteView target);
    // path becomes a further name of the file already restored at existing.
    void createHardLink(SafePath path, SafePath existing);

    // Removes a regular file that this restore created and still holds open as
    // fileDescriptor, after a failure to fill it. The name is looked up relative to
    // its folder, which is reached again without following links and without creating
    // anything; it is removed only when it is still that very file. Returns whether
    // it was removed. Never throws, never removes a folder.
    bool removeCreatedFile(SafePath path, int fileDescriptor) noexcept;

    // What a restore leaves out for an entry of this type, or nothing for the types it
    // recreates (files, folders, symbolic links). Touches no file.
    static std::optional<SpecialFileOutcome> specialFileOutcome(TreeObject::EntryType type, const SafeName& name);

private:
    void validateLimits(SafePath path) const;
    // The last folder of path, walked from the target folder; createIfMissing is the
    // mode for missing folders, none means never create.
    Folder walkDirectories(SafePath path, std::optional<std::uint16_t> createIfMissing);
    Folder openDirectoryComponent(const SafeName& name, int parent, int depth,
                                  std::optional<std::uint16_t> createIfMissing);
    // The name of the open entry as the volume stores it, when the platform can tell.
    static std::optional<Bytes> onDiskName(int descriptor);
    // Why a create of name in directory failed with EEXIST.
    static PathSafetyViolation collision(const SafeName& name, int directory);

    mutable std::mutex mutex_;
    UniqueFd rootDescriptor_;
    bool isClosed_ = false;
    const int maxComponentCount_;
    const int maxTotalPathBytes_;
    const std::optional<FolderIdentity> backupFolder_;
};

}  // namespace wm
