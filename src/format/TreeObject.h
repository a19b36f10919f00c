#pragma once
// The binary form of one directory of a snapshot: an entry count and the entries, each
// with its metadata, a file's content blobs and a directory's child tree. Little-endian,
// explicit widths, no header. Tree objects are read from backups, so the decoder treats
// its input as hostile: every count is checked against the bytes that remain before
// anything is reserved.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/Bytes.h"
#include "core/EntryMetadata.h"
#include "core/Error.h"
#include "core/Identifiers.h"

namespace wm::TreeObject {

using Timestamp = wm::Timestamp;

enum class EntryType : std::uint8_t {
    file = 1,
    directory = 2,
    symlink = 3,
    fifo = 4,
    socket = 5,
    characterDevice = 6,
    blockDevice = 7,
};
inline constexpr std::array<EntryType, 7> allEntryTypes{
    EntryType::file,   EntryType::directory,       EntryType::symlink,     EntryType::fifo,
    EntryType::socket, EntryType::characterDevice, EntryType::blockDevice,
};
std::optional<EntryType> entryTypeFromRawValue(std::uint8_t raw);

// How the entry was captured. A restore skips the content of an `unreadable` file.
enum class Status : std::uint8_t { ok = 0, unstable = 1, unreadable = 2 };
inline constexpr std::array<Status, 3> allStatuses{Status::ok, Status::unstable, Status::unreadable};
std::optional<Status> statusFromRawValue(std::uint8_t raw);

using ExtendedAttribute = wm::ExtendedAttribute;
// One hole of a sparse file, in bytes.
using SparseRange = wm::SparseRange;

// One bit per optional field of an entry, set exactly when the field is present.
struct FieldPresence {
    std::uint16_t rawValue = 0;

    static constexpr std::uint16_t birthTime = 1;
    static constexpr std::uint16_t size = 2;
    static constexpr std::uint16_t bsdFlags = 4;
    static constexpr std::uint16_t userName = 8;
    static constexpr std::uint16_t groupName = 16;
    static constexpr std::uint16_t symlinkTarget = 32;
    static constexpr std::uint16_t hardlinkGroup = 64;
    static constexpr std::uint16_t extendedAttributes = 128;
    static constexpr std::uint16_t acl = 256;
    static constexpr std::uint16_t sparseRanges = 512;
    static constexpr std::uint16_t contentBlobs = 1024;
    static constexpr std::uint16_t childTree = 2048;

    bool contains(std::uint16_t bit) const { return (rawValue & bit) != 0; }
    friend bool operator==(const FieldPresence&, const FieldPresence&) = default;
};

struct Entry {
    Bytes name;  // raw bytes, not required to be UTF-8
    EntryType entryType = EntryType::file;
    Status status = Status::ok;
    std::uint32_t mode = 0;
    std::uint32_t uid = 0;
    std::uint32_t gid = 0;
    Timestamp modificationTime;
    Timestamp changeTime;
    std::optional<Timestamp> birthTime;
    std::optional<std::uint64_t> size;
    std::optional<std::uint32_t> bsdFlags;
    std::optional<std::string> userName;
    std::optional<std::string> groupName;
    std::optional<Bytes> symlinkTarget;
    std::optional<std::uint64_t> hardlinkGroup;  // shared by every name of one file
    std::optional<std::vector<ExtendedAttribute>> extendedAttributes;
    std::optional<Bytes> acl;
    std::optional<std::vector<SparseRange>> sparseRanges;
    std::optional<std::vector<BlobID>> contentBlobs;  // in file order
    std::optional<BlobID> childTree;

    FieldPresence presence() const;
    friend bool operator==(const Entry&, const Entry&) = default;
};

class Error : public wm::Error {
public:
    enum class Kind {
        unexpectedTrailingBytes,
        lengthOutOfRange,
        invalidEntryType,
        invalidStatus,
        fieldTooLarge,
        truncated,
        invalidBlobID,
    };
    static Error unexpectedTrailingBytes(std::int64_t count);
    static Error lengthOutOfRange(std::string field);
    static Error invalidEntryType(std::uint8_t byte);
    static Error invalidStatus(std::uint8_t byte);
    static Error fieldTooLarge(std::string field);
    static Error truncated();
    static Error invalidBlobID();

    Kind kind;
    std::int64_t count = 0;  // unexpectedTrailingBytes
    std::string field;       // lengthOutOfRange, fieldTooLarge
    std::uint8_t byte = 0;   // invalidEntryType, invalidStatus

private:
    Error(Kind k, const std::string& description) : wm::Error(description), kind(k) {}
};

// Throws Error::fieldTooLarge, naming the field, when a length or count of the entry does
// not fit its field: the entries encode refuses.
void checkEncodable(const Entry& entry);
// Throws TreeObject::Error::fieldTooLarge when a length or count does not fit its field.
Bytes encode(const std::vector<Entry>& entries);
// The entries in stored order. Throws TreeObject::Error.
std::vector<Entry> decode(ByteView data);

}  // namespace wm::TreeObject
