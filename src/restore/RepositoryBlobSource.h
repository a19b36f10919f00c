#pragma once
// The blobs and snapshot records of an open repository, as a restore reads them.
#include <cstddef>
#include <memory>

#include "restore/BlobReadAhead.h"
#include "restore/RestoreBlobSource.h"

namespace wm {

class Repository;

class RepositoryBlobSource : public RestoreBlobSource {
public:
    // Reads announced blobs ahead on a few threads where the machine has processors to
    // spare, within the next readAheadBytes of plaintext, each blob counted at the length
    // its frame states before room is made for it.
    explicit RepositoryBlobSource(const Repository& repository);
    ~RepositoryBlobSource() override;

    // The record read and verified by the repository; its root-tree bytes as stored.
    Record record(const SnapshotID& snapshot) override;
    // One ranged read of the blob's pack, opened by the repository's cipher. The
    // plaintext is moved into buffer, never copied; the sealed bytes are read into a
    // buffer kept for the whole restore.
    void blob(const BlobID& id, Bytes& buffer) override;
    void announce(const std::vector<BlobID>& ids) override;

    // With the reading threads' own buffers (a sealed and a plaintext blob each, 4 MiB at
    // most) and what the allocator keeps per thread, a restore stays under 100 MB resident:
    // 16 MiB is still 16 average chunks ahead of the walk.
    static constexpr std::size_t readAheadBytes = std::size_t{16} << 20;

private:
    const Repository& repository_;
    Bytes sealed_;
    std::unique_ptr<BlobReadAhead> readAhead_;  // none on a single processor
};

}  // namespace wm
