#pragma once
// The blobs and snapshot records of an open repository, as a restore reads them.
#include "restore/RestoreBlobSource.h"

namespace wm {

class Repository;

class RepositoryBlobSource : public RestoreBlobSource {
public:
    explicit RepositoryBlobSource(const Repository& repository) : repository_(repository) {}

    // The record read and verified by the repository; its root-tree bytes as stored.
    Bytes rootTree(const SnapshotID& snapshot) override;
    // One ranged read of the blob's pack, opened by the repository's cipher. The
    // plaintext is moved into buffer, never copied; the sealed bytes are read into a
    // buffer kept for the whole restore.
    void blob(const BlobID& id, Bytes& buffer) override;

private:
    const Repository& repository_;
    Bytes sealed_;
};

}  // namespace wm
