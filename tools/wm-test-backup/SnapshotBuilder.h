#pragma once
// Makes one snapshot of a folder in an open repository: scans the folder with its metadata,
// cuts every file's data into content-defined chunks with the repository's chunker, stores
// them in batches, encodes the tree objects bottom-up and commits. Within a file, the next
// batch is read while the repository stores the one before.
//
// Regular files keep their content (for a sparse file, only the data regions, the holes
// recorded as sparse ranges), folders their child trees, symbolic links their targets, hard
// links a shared group number; named pipes, sockets and devices are entries without content.
// Extended attributes, ACLs, owners and times come from the file-system layer.
#include <cstdint>
#include <future>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/Bytes.h"
#include "core/Snapshot.h"
#include "engine/Repository.h"
#include "format/Chunker.h"
#include "format/TreeObject.h"
#include "fs/DirectoryScanner.h"

namespace wm {

class SnapshotBuilder {
public:
    struct Result {
        SnapshotID id;
        SnapshotStats stats;
        std::vector<std::string> problems;  // "path: reason", in walk order
    };

    // bufferBytes: file data held at once, in two halves: one is read into while the
    // chunks cut from the other are stored.
    SnapshotBuilder(Repository& repository, std::string folder, std::size_t bufferBytes = 128u << 20);
    ~SnapshotBuilder();

    // Throws when the folder cannot be scanned or the repository refuses the snapshot.
    Result run(const std::string& deviceName);

private:
    struct Content {
        std::vector<BlobID> blobs;
        TreeObject::Status status = TreeObject::Status::ok;
    };

    BlobID storeTree(const DirectoryScanner::Entry& folder);
    TreeObject::Entry makeEntry(const DirectoryScanner::Entry& entry);
    Content readContent(const DirectoryScanner::Entry& entry);
    // Cuts the buffered bytes into chunks and stores them; keeps a tail shorter than the
    // largest chunk unless this is the end of the file.
    void storeBuffered(bool endOfFile, std::vector<BlobID>& blobs);
    // Waits for the batch being stored and records its blobs.
    void finishStoring();
    void problem(const std::string& path, const std::string& reason);

    Repository& repository_;
    std::string folder_;
    Chunker chunker_;
    Bytes buffer_;
    std::size_t filled_ = 0;
    // The other half, holding the chunks of the batch being stored (if any).
    struct Storing {
        std::future<std::vector<Repository::Stored>> stored;
        std::vector<std::size_t> sizes;
        std::vector<BlobID>* blobs = nullptr;
    };
    Bytes spare_;
    std::optional<Storing> storing_;
    std::map<FileMetadata::HardLinkIdentity, std::uint64_t> hardLinkGroups_;
    std::map<FileMetadata::HardLinkIdentity, Content> hardLinkContents_;
    SnapshotStats stats_;
    std::vector<std::string> problems_;
};

}  // namespace wm
