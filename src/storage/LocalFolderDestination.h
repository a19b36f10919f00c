#pragma once
// A destination kept in a folder of a mounted volume (internal disk, external drive, network
// share or cloud-synced folder).
//
// Durable write: the pending bytes go to a new file under "tmp" in the root; commit() flushes
// the file's data (fsync), renames it into place (replacing any earlier object) and flushes
// the folder that now holds it, so that after commit() returns the object survives a power
// loss. Folders created on the way are made durable in their parents as well. Reads are
// positioned (pread): a ranged read touches only its range. Every call is a blocking call on
// the caller's thread; calls from several threads may run at the same time.
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

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

        // Creates the root, "tmp" and the required folders, and deletes leftovers in "tmp".
        static Preparation preparing(std::vector<RepoPath> requiredFolders = {}) {
            return {Mode::preparing, std::move(requiredFolders)};
        }
        // Touches nothing on disk.
        static Preparation readingOnly() { return {Mode::readingOnly, {}}; }
    };

    // Throws DestinationError when preparing fails.
    LocalFolderDestination(DestinationID id, DestinationKind kind, std::filesystem::path rootURL,
                           std::optional<WriteInterruption> interruption, const Preparation& preparation);

    const std::filesystem::path& rootURL() const { return root_; }
    // The temporary folder: the root plus "tmp".
    const std::filesystem::path& temporaryFolder() const { return tmp_; }
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

private:
    // Shared with the writers, which may outlive the destination.
    struct CommitGate {
        std::optional<WriteInterruption> interruption;
        std::atomic<int> commits{0};
    };
    // Creates every missing folder of path (relative to the root), flushing each new folder's
    // parent so the new entry is durable.
    void createFolders(const RepoPath& folder, const RepoPath& forPath);

    DestinationID id_;
    DestinationKind kind_;
    std::filesystem::path root_;
    std::filesystem::path tmp_;
    std::shared_ptr<CommitGate> gate_;
};

}  // namespace wm
