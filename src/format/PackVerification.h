#pragma once
// Checking one pack file straight from its destination without holding it in memory: the
// file is read in pieces into one reusable buffer and hashed as it streams; only its last
// bytes (where the directory and trailer lie) are kept. The checks and their order are those
// of PackReader, so both judge every file alike: at least 20 bytes, the SHA-256 of the whole
// file against its name, the start magic, the end magic, the directory length, the sealed
// directory (cipher errors pass through) and every directory record.
//
// One verifier checks one pack at a time; it is not shared between threads.
#include <cstdint>
#include <vector>

#include "core/Bytes.h"
#include "core/Identifiers.h"
#include "crypto/BlobCipher.h"
#include "format/PackFile.h"
#include "storage/Destination.h"

namespace wm {

class PackVerifier {
public:
    // Bytes read from the destination at once.
    static constexpr std::size_t defaultPieceBytes = std::size_t{1} << 20;
    // The end of the file kept while streaming; a directory longer than this is read again
    // by itself once the file has hashed correctly.
    static constexpr std::size_t defaultTailBytes = std::size_t{4} << 20;

    explicit PackVerifier(const BlobCipher& cipher, std::size_t pieceBytes = defaultPieceBytes,
                          std::size_t tailBytes = defaultTailBytes);

    // Reads the pack file at path and checks it against `expecting`; returns its directory in
    // file order. Destination errors pass through (a file that is not there, also when it
    // goes between listing and reading: DestinationError::notFound). A file that was read
    // whole but fails a check throws PackFile::Error or BlobCipherError.
    std::vector<PackFile::Entry> check(Destination& destination, const RepoPath& path, const PackID& expecting);

    // The same checks over a file held in memory, streamed piece by piece as check() does.
    std::vector<PackFile::Entry> check(ByteView file, const PackID& expecting);

    // The size of the file the last check read whole (whether or not it passed), 0 when a
    // read failed.
    std::uint64_t bytesRead() const { return bytesRead_; }

private:
    template <class ReadAt>
    std::vector<PackFile::Entry> run(std::uint64_t size, const PackID& expecting, ReadAt&& readAt);

    BlobCipher cipher_;
    std::size_t pieceBytes_;
    std::size_t tailBytes_;
    Bytes buffer_;  // one piece
    Bytes tail_;    // the file's last bytes
    std::uint64_t bytesRead_ = 0;
};

}  // namespace wm
