#pragma once
// Makes one snapshot of a folder in an open repository: scans the folder with its metadata,
// reads several files at once, each cutting its data into content-defined chunks with the
// repository's chunker and storing them in batches through store calls of its own (so the
// repository seals and writes one file's chunks while others are read and cut), then
// encodes the tree objects bottom-up and commits.
//
// Regular files keep their content (for a sparse file, only the data regions, the holes
// recorded as sparse ranges; of a file with more holes than an entry records, the largest
// stay holes and the others are read and stored as data), folders their child trees,
// symbolic links their targets, hard links a shared group number; named pipes, sockets and
// devices are entries without content.
// An entry the restore would refuse for its path (nested too deep, a path too long), and one
// a tree object cannot hold (a name, link target, extended attributes or ACL larger than
// their fields), is left out and reported, and the run goes on.
// Extended attributes, ACLs, owners and times come from the file-system layer.
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/Bytes.h"
#include "core/Snapshot.h"
#include "core/SparseLayout.h"
#include "format/TreeObject.h"
#include "fs/DirectoryScanner.h"
#include "restore/RestoreRoot.h"

namespace wm {

class Repository;

class SnapshotBuilder {
public:
    struct Result {
        SnapshotID id;
        SnapshotStats stats;
        std::vector<std::string> problems;  // "path: reason", in walk order
    };

    // bufferBytes: file data held at once by all the files being read (a large file takes
    // two largest chunks of it at a time); readers: files read at once (0: one per active
    // processor, at least two).
    SnapshotBuilder(Repository& repository, std::string folder, std::size_t bufferBytes = 16u << 20, int readers = 0);

    // Throws when the folder cannot be scanned or the repository refuses the snapshot (the
    // first store call to fail ends the reading and gives its error).
    Result run(const std::string& deviceName);

    // Test seam: called on the reading thread before each read of a file's content, with the
    // file's path below the folder and the offset about to be read.
    void setBeforeEachReadForTesting(std::function<void(const std::string& path, std::uint64_t offset)> call) {
        beforeEachRead_ = std::move(call);
    }

    // Test seam: called once the folder is scanned, before anything is read or stored, with
    // what the scan found (to give an entry metadata no file system here can have).
    void setAfterScanForTesting(std::function<void(DirectoryScanner::Entry& root)> call) {
        afterScan_ = std::move(call);
    }

private:
    struct Content {
        std::vector<BlobID> blobs;
        TreeObject::Status status = TreeObject::Status::ok;
        // The file's shape as read: the scanned size and holes, or, for a file found shorter,
        // the offset where reading ended and the holes before it.
        std::uint64_t size = 0;
        std::vector<SparseLayout::Region> holes;
        std::vector<std::string> problems;  // this file's, "path: reason"
        std::uint64_t bytesNew = 0;
        std::uint64_t bytesDeduplicated = 0;
    };

    // Takes out of the folder, each reported, the entries whose path (`path` being the
    // folder's own) is beyond the restore's limits, so that every snapshot restores whole.
    void leaveOutWhatTheRestoreRefuses(DirectoryScanner::Entry& folder, RestoreRoot::PathMeasure path);
    // The files whose content is read, in walk order: every readable regular file, a group
    // of hard links once (its first member).
    void collectFiles(const DirectoryScanner::Entry& folder, std::vector<const DirectoryScanner::Entry*>& files);
    // Reads and stores the content of every file, several at once.
    void storeContents(const std::vector<const DirectoryScanner::Entry*>& files);
    Content readContent(const DirectoryScanner::Entry& entry, std::size_t bufferBytes) const;
    BlobID storeTree(const DirectoryScanner::Entry& folder);
    TreeObject::Entry makeEntry(const DirectoryScanner::Entry& entry);
    void problem(const std::string& path, const std::string& reason);

    Repository& repository_;
    std::string folder_;
    std::size_t largestChunk_;
    std::size_t bufferBytes_;
    int readers_;
    std::unordered_map<const DirectoryScanner::Entry*, Content> contents_;
    std::map<FileMetadata::HardLinkIdentity, const DirectoryScanner::Entry*> hardLinkReads_;
    std::map<FileMetadata::HardLinkIdentity, std::uint64_t> hardLinkGroups_;
    SnapshotStats stats_;
    std::vector<std::string> problems_;
    std::function<void(const std::string&, std::uint64_t)> beforeEachRead_;
    std::function<void(DirectoryScanner::Entry&)> afterScan_;
};

}  // namespace wm
