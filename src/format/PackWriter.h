#pragma once
// Assembles one pack file in memory: header, sealed blobs in the order added, then (on
// finish) the sealed directory and the trailer.
//
// Size rule for callers: a pack may grow to RepositoryFormat::packMaximumBytes while
// blobs are appended. addSealed() refuses a blob that would take the body past it with
// PackFile::Error::tooLarge and leaves the writer unchanged. When that happens to a writer
// that already holds blobs and the blob fits an empty pack (fitsEmptyPack()), finish this
// pack, start a new writer and add the blob to it, once: an empty pack always takes it.
// A blob that does not fit an empty pack can never be stored; retrying it would fail
// forever, so the error is passed on instead.
#include <cstdint>
#include <unordered_set>
#include <vector>

#include "core/Bytes.h"
#include "core/Identifiers.h"
#include "crypto/BlobCipher.h"
#include "format/PackFile.h"

namespace wm {

class PackWriter {
public:
    // Room for the pack target plus one largest chunk with its sealing overhead:
    // 64 MiB + 4 MiB + 37 bytes, reserved once so appending does not reallocate.
    static constexpr std::size_t initialCapacity = 71303205;
    // isFull() from this many body bytes, or from this many blobs.
    static constexpr std::size_t fullBytes = 67108864;
    static constexpr std::size_t fullBlobs = 50000;

    struct Finished {
        PackID id;
        Bytes bytes;
        std::vector<PackFile::Entry> entries;
    };

    explicit PackWriter(const BlobCipher& cipher);

    // The body's length, header included.
    std::size_t byteCount() const { return body_.size(); }
    std::size_t blobCount() const { return entries_.size(); }
    std::size_t capacity() const { return body_.capacity(); }
    bool isFull() const { return byteCount() >= fullBytes || blobCount() >= fullBlobs; }
    const std::vector<PackFile::Entry>& entries() const { return entries_; }

    // Whether a sealed blob of this length can be added now without passing the maximum.
    bool canTake(std::size_t sealedLength) const;
    // Whether a sealed blob of this length fits a pack that holds nothing yet.
    static bool fitsEmptyPack(std::size_t sealedLength);

    // Identifies and seals plaintext and adds it; false (nothing sealed) when this pack
    // already holds the blob. Sealing errors and PackFile::Error::tooLarge propagate.
    bool add(ByteView plaintext, BlobType type);
    // Adds a blob sealed elsewhere (in parallel); false when this pack already holds it.
    // Throws PackFile::Error::tooLarge (see the size rule above) and then changes nothing.
    bool addSealed(const BlobID& id, BlobType type, ByteView sealed);
    bool contains(const BlobID& id) const { return seen_.count(id) != 0; }

    // The complete pack file, its name and its directory. The writer is spent afterwards.
    Finished finish();

private:
    BlobCipher cipher_;
    Bytes body_;
    std::vector<PackFile::Entry> entries_;
    std::unordered_set<BlobID> seen_;
};

}  // namespace wm
