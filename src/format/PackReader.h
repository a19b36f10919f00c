#pragma once
// Validates a whole pack file and hands out its blobs. A reader is immutable once made.
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "core/Bytes.h"
#include "core/Identifiers.h"
#include "crypto/BlobCipher.h"
#include "format/PackFile.h"

namespace wm {

class PackReader {
public:
    // Checks, in this order: at least 20 bytes, the SHA-256 of the whole file against
    // `expecting`, the start magic, the end magic, the directory length, the sealed
    // directory (cipher errors pass through) and every directory record. Throws
    // PackFile::Error or BlobCipherError.
    PackReader(Bytes bytes, const PackID& expecting, const BlobCipher& cipher);

    const PackID& id() const { return id_; }
    // The directory in file order; an id listed twice appears twice.
    const std::vector<PackFile::Entry>& entries() const { return entries_; }
    const Bytes& bytes() const { return bytes_; }

    // Whether the directory lists the id.
    bool contains(const BlobID& id) const { return index_.count(id) != 0; }
    // The plaintext of one blob; the first record of an id listed twice is used.
    // Throws PackFile::Error::blobNotPresent / blobRangeOutOfBounds, or the cipher's errors.
    Bytes blob(const BlobID& id) const;

private:
    PackID id_;
    std::vector<PackFile::Entry> entries_;
    Bytes bytes_;
    BlobCipher cipher_;
    std::unordered_map<BlobID, PackFile::Entry> index_;
};

}  // namespace wm
