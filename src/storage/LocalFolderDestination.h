#pragma once
// A destination kept in a folder of a mounted volume (internal disk, external drive, network
// share or cloud-synced folder): a repository, or a copy of one.
//
// Every write, rename and removal goes below a descriptor of the root, each folder on the way
// opened without following a symbolic link: nothing is written, renamed or removed through a
// link inside the destination (a "packs" or "packs/64" that is a link to another folder is
// refused, not written into, even when it became one while the run went on). The root itself
// may be reached through a link, as a restore target may; it is opened once, when preparing
// or on the first call that goes below it by descriptor (a write, a removal, a read that
// refuses links).
//
// Reads go by path and follow links, unless the destination refuses links for reads too (a
// copy, whose contents must be its own to count as copied).
//
// Durable write: the pending bytes go to a new file under "tmp" in the root; commit() flushes
// the file's data (fsync), renames it into place (replacing the entry there, never what a
// link there points at) and flushes the folder that now holds it, so that after commit()
// returns the object survives a power loss. Folders created on the way are made durable in
// their parents as well. Reads are positioned (pread): a ranged read touches only its range.
// Every call is a blocking call on the caller's thread; calls from several threads may run
// at the same time.
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "core/SystemCall.h"
#include "storage/Destination.h"

namespace wm {

class LocalFolderDestination final : public Destination {
public:
    // Stops a commit part-way and throws DestinationError.interrupted, as when a write is cut
    // short: used to show that nothing half-written becomes visible.
    struct WriteInterruption {
        enum class Stage {
            beforeDataSync,    // bytes written, nothing flushed
            beforeRename,      // data flushed, not yet at its final path
            beforeFolderSync,  // renamed into place, folder not yet flushed
        };
        Stage stage = Stage::beforeRename;
        // Commits that go through before the interrupted one.
        int commitsBefore = 0;
    };

    struct Preparation {
        enum class Mode { preparing, readingOnly };
        Mode mode = Mode::readingOnly;
        // preparing: folders created under the root (besides the root and "tmp").
        std::vector<RepoPath> requiredFolders;

        // Creates the root, "tmp" and the required folders. Leftovers in "tmp" stay: only a
        // holder of the writing lock discards them (discardPendingWrites).
        static Preparation preparing(std::vector<RepoPath> requiredFolders = {}) {
            return {Mode::preparing, std::move(requiredFolders)};
        }
        // Touches nothing on disk.
        static Preparation readingOnly() { return {Mode::readingOnly, {}}; }
    };

    // Whether reads, sizes and listings pass a link inside the root. Writes never do.
    enum class Reads { followingLinks, refusingLinks };

    // Throws DestinationError when preparing fails.
    LocalFolderDestination(DestinationID id, DestinationKind kind, std::filesystem::path rootURL,
                           std::optional<WriteInterruption> interruption, const Preparation& preparation,
                           Reads reads = Reads::followingLinks);

    // Whether the error is this destination's refusal of a link inside it; its path names the
    // link.
    static bool isLinkRefusal(const DestinationError& error);

    const std::filesystem::path& rootURL() const { return root_; }
    // Where a repository path lies on disk.
    std::filesystem::path url(const RepoPath& path) const;

    DestinationID id() const override { return id_; }
    DestinationKind kind() const override { return kind_; }
    DestinationCapabilities capabilities() override;
    Availability availability() override;
    bool exists(const RepoPath& path) override;
    std::optional<std::int64_t> size(const RepoPath& path) override;
    Bytes read(const RepoPath& path, std::optional<ByteRange> range = std::nullopt) override;
    void readInto(const RepoPath& path, std::int64_t offset, std::span<std::uint8_t> out) override;
    std::vector<RepoPath> list(const RepoPath& folder) override;
    std::unique_ptr<DurableWriter> openWrite(const RepoPath& path) override;
    void remove(const RepoPath& path) override;
    std::optional<std::int64_t> freeSpace() override;

    // Judged at the entry, never through a link there (a link on the way is "other").
    ObjectOpening opening(const RepoPath& path, std::int64_t count) override;
    // Only regular files, judged without following a link, and never through a "tmp" that
    // is a link.
    void discardPendingWrites(const std::function<void()>& beforeRemoving = {}) override;

private:
    // Shared with the writers, which may outlive the destination.
    struct CommitGate {
        std::optional<WriteInterruption> interruption;
        std::atomic<int> commits{0};
    };

    // The root's descriptor, opened on first use.
    int rootDescriptor(const RepoPath& forPath, DestinationError::Operation operation) const;
    // The folder below the root, each component opened without following a link. A missing
    // one is made when `create` is set (each new entry flushed in its parent), otherwise
    // nothing is returned, as for a file standing where a folder would be. A link on the way
    // throws the link refusal.
    std::optional<UniqueFd> openFolder(const RepoPath& folder, bool create, const RepoPath& forPath,
                                       DestinationError::Operation operation) const;
    // The folder holding the path's last component, as openFolder gives it.
    std::optional<UniqueFd> openParent(const RepoPath& path, bool create, DestinationError::Operation operation) const;
    // The object opened for reading, with its size; a missing one throws notFound.
    UniqueFd openForReading(const RepoPath& path, std::int64_t& size) const;
    DestinationID id_;
    DestinationKind kind_;
    std::filesystem::path root_;
    Reads reads_;
    std::shared_ptr<CommitGate> gate_;
    mutable std::mutex rootMutex_;
    mutable UniqueFd rootFd_;
};

}  // namespace wm
