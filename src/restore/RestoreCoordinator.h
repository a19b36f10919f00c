#pragma once
// Puts one snapshot, whole or in part, back into a folder. The walk goes depth first
// through the snapshot's tree objects, entry by entry in stored order, one at a time,
// and makes every write through one RestoreRoot on the target folder. One entry's
// problem never stops the walk: it becomes a record in the result. Only a problem with
// the snapshot record, the target folder or the top tree object is thrown. A tree named in
// several places is entered each time; a walk that would enter more than twice the folders
// the snapshot's record counts, and 1,000 more, or meet more entries and content-blob
// references than the record and the folders it counts allow for (Walk::meetingLimitOf,
// Walk::uncountedIn), stops there with one failure saying so, held apart from the records kept
// (FailureRecords::stop).
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "core/Bytes.h"
#include "core/Error.h"
#include "core/Identifiers.h"
#include "format/TreeObject.h"
#include "fs/FileMetadata.h"
#include "fs/MetadataApply.h"
#include "restore/RestoreBlobSource.h"
#include "restore/RestoreResult.h"
#include "restore/RestoreRoot.h"
#include "restore/RestoreSelection.h"
#include "restore/SafeName.h"

namespace wm {

class Repository;
class RestoreRoot;

class RestoreCoordinator {
public:
    using Result = RestoreResult;

    class Error : public wm::Error {
    public:
        enum class Kind { destinationNotUsable, snapshotHasNoRootTree };
        // A regular file cannot be written as the backup describes it.
        static Error destinationNotUsable(std::string reason);
        // The snapshot record holds no valid root-tree identity.
        static Error snapshotHasNoRootTree();

        Kind kind;
        std::string reason;  // destinationNotUsable

    private:
        Error(Kind k, const std::string& description) : wm::Error(description), kind(k) {}
    };

    static constexpr int maxComponentCount = 512;
    static constexpr int maxTotalPathBytes = 4096;
    static constexpr std::uint16_t directoryMode = 0755;

    // Throws the PathSafetyViolation with which a restore refuses an entry at a path so
    // measured, from the target folder down, under the limits above.
    static void checkPathLimits(RestoreRoot::PathMeasure path) {
        RestoreRoot::checkLimits(path, maxComponentCount, maxTotalPathBytes);
    }

    // What a walk may meet beyond what the snapshot's record counts: the entries a record
    // does not count (links, pipes, sockets and devices).
    static constexpr std::uint64_t uncountedEntries = 1'000'000;

    // backupFolder is the folder of the backup being read: the target may not be it or
    // lie inside it, and the walk never enters it. uncounted takes the place of
    // uncountedEntries (tests reach the limit with small backups).
    explicit RestoreCoordinator(std::optional<std::filesystem::path> backupFolder = std::nullopt,
                                std::uint64_t uncounted = uncountedEntries)
        : backupFolder_(std::move(backupFolder)), uncounted_(uncounted) {}

    // Restores the snapshot from an open repository into the folder `into`, which is
    // created when missing, and held to checkedTarget when a check of it came first
    // (RestoreRoot::openTarget). Throws the error of reading the snapshot record,
    // Error::snapshotHasNoRootTree, the file system's error creating the folder,
    // PathSafetyViolation::restoreRootUnavailable or targetReplaced, or the error of reading
    // or decoding the top tree object; everything else is recorded in the result.
    Result restore(const SnapshotID& snapshot, Repository& repository, const std::filesystem::path& into,
                   const RestoreSelection& selection, const std::optional<CheckedTarget>& checkedTarget = std::nullopt);
    // The same from any source of blobs.
    Result restore(const SnapshotID& snapshot, RestoreBlobSource& source, const std::filesystem::path& into,
                   const RestoreSelection& selection, const std::optional<CheckedTarget>& checkedTarget = std::nullopt);

    // The metadata applied to the restored entry.
    static FileMetadata metadata(const TreeObject::Entry& entry);
    // What the metadata layer's texts may take so that each record's reason stays within
    // Unicode::shownTextBytes, "partly applied: " before a detail included.
    static MetadataApply::TextBounds outcomeBounds();
    // One Unpreserved record per attribute that was not, or only partly, applied.
    static void recordOutcomes(const MetadataApply::Report& report, const std::string& display, Result& result);

private:
    struct Walk;
    void restoreSymlink(const TreeObject::Entry& entry, const std::string& display, Walk& walk);
    // Creates one regular file with its content and metadata; on failure removes what
    // it created and throws.
    void restoreFile(const TreeObject::Entry& entry, const std::string& display, Walk& walk);

    const std::optional<std::filesystem::path> backupFolder_;
    const std::uint64_t uncounted_;
    // One restore at a time per coordinator.
    std::mutex mutex_;
};

}  // namespace wm
