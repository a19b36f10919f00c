#pragma once
// Pack files: many sealed blobs back to back, then a sealed directory of where each lies,
// then a fixed trailer.
//
//   0        4   "WMPK"
//   4        4   pack format version, u32, 1
//   8        ..  sealed blobs, in the order they were added
//   D        L   sealed directory (nonce | ciphertext | tag of the directory body)
//   size-12  4   L, u32
//   size-8   7   "WMPKEND"
//   size-1   1   0
//
// Directory body: u32 count n, then n records of 45 bytes: BlobID (32), type (1),
// offset from the start of the file (u64), sealed length (u32). A pack is named by the
// SHA-256 of all its bytes, so it checks itself.
#include <cstdint>
#include <string>
#include <vector>

#include "core/Bytes.h"
#include "core/Error.h"
#include "core/Identifiers.h"
#include "crypto/BlobType.h"

namespace wm {
class ByteCursor;
}

namespace wm::PackFile {

inline constexpr std::size_t directoryRecordSize = 45;
inline constexpr std::uint32_t formatVersion = 1;

// One blob's place in a pack; also what the index keeps per blob.
struct Entry {
    BlobID id;
    BlobType type = BlobType::data;
    std::uint64_t offset = 0;  // from the start of the pack file
    std::uint32_t length = 0;  // of the sealed bytes
    friend bool operator==(const Entry&, const Entry&) = default;
};

class Error : public wm::Error {
public:
    enum class Kind {
        tooSmall,
        directoryLengthOutOfRange,
        hashMismatch,
        blobNotPresent,
        blobRangeOutOfBounds,
        tooLarge,
        badHeader,
        badTrailer,
        directoryCorrupted,
    };
    static Error tooSmall(std::int64_t bytes);
    static Error directoryLengthOutOfRange(std::uint32_t length, std::int64_t fileSize);
    static Error hashMismatch(const PackID& expected, const PackID& actual);
    static Error blobNotPresent(const BlobID& id);
    static Error blobRangeOutOfBounds(const BlobID& id);
    static Error tooLarge(std::int64_t bytes);
    static Error badHeader();
    static Error badTrailer();
    static Error directoryCorrupted();

    Kind kind;
    std::int64_t bytes = 0;             // tooSmall, tooLarge
    std::uint32_t directoryLength = 0;  // directoryLengthOutOfRange
    std::int64_t fileSize = 0;          // directoryLengthOutOfRange
    PackID expected;                    // hashMismatch
    PackID actual;                      // hashMismatch
    BlobID blob;                        // blobNotPresent, blobRangeOutOfBounds

private:
    Error(Kind k, const std::string& description) : wm::Error(description), kind(k) {}
};

// The directory body of entries, in order.
Bytes encodeDirectory(const std::vector<Entry>& entries);
// Reads a directory body. Every record must lie inside the blob region [8, packBodyEnd);
// any fault, including trailing bytes, throws Error::directoryCorrupted.
std::vector<Entry> decodeDirectory(ByteView body, std::uint64_t packBodyEnd);

// One 45-byte record, written and read (shared with index files). Reading throws
// ByteCursor::Error for too few bytes or a blob type outside 1...3; offsets and lengths are
// not checked here.
void appendRecord(Bytes& out, const Entry& entry);
Entry takeRecord(ByteCursor& cursor);

}  // namespace wm::PackFile
