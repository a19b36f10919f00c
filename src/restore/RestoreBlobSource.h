#pragma once
// Everything a restore reads from a backup: the root tree of one snapshot and the
// plaintext of single blobs. The restore walk depends only on this, so it can run
// against an open repository (RepositoryBlobSource) or against hand-made trees.
#include <cstdint>
#include <vector>

#include "core/Bytes.h"
#include "core/Identifiers.h"

namespace wm {

class RestoreBlobSource {
public:
    virtual ~RestoreBlobSource() = default;

    // What the walk takes from the snapshot's record: the bytes it gives as its root tree's
    // identity (not checked here), the folders, files and bytes of content the backup counted,
    // and the repository's smallest chunk in bytes (0 when there is none to go by).
    struct Record {
        Bytes rootTree;
        std::uint64_t directories = 0;
        std::uint64_t files = 0;
        std::uint64_t bytesLogical = 0;
        std::uint64_t smallestChunk = 0;
    };
    // Throws what reading or verifying the record throws.
    virtual Record record(const SnapshotID& snapshot) = 0;

    // Replaces the contents of buffer with the plaintext of the blob. The buffer's
    // storage is reused where the source can, so a walk keeps one buffer for all its
    // content. Throws what reading or opening the blob throws.
    virtual void blob(const BlobID& id, Bytes& buffer) = 0;

    // The blobs the walk will ask for next, in this order, in place of those announced
    // before. A source may start reading them; asking for another blob first is allowed and
    // only wastes that reading.
    virtual void announce(const std::vector<BlobID>& ids) { (void)ids; }
};

}  // namespace wm
