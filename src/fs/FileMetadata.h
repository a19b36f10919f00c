#pragma once
// The metadata of one file-system entry: what a backup records and a restore applies.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/Bytes.h"
#include "core/EntryMetadata.h"

namespace wm {

struct FileMetadata {
    enum class FileType { regular, directory, symlink, fifo, socket, characterDevice, blockDevice };

    using Timestamp = wm::Timestamp;
    using ExtendedAttribute = wm::ExtendedAttribute;

    // Which file an entry is: entries with the same identity are names of one file.
    struct HardLinkIdentity {
        std::int32_t device = 0;
        std::uint64_t inode = 0;
        friend auto operator<=>(const HardLinkIdentity&, const HardLinkIdentity&) = default;
        friend bool operator==(const HardLinkIdentity&, const HardLinkIdentity&) = default;
    };

    // A hole of a sparse file.
    using SparseRange = wm::SparseRange;

    FileType fileType = FileType::regular;
    std::uint32_t mode = 0;
    std::uint32_t uid = 0;
    std::uint32_t gid = 0;
    std::optional<std::string> userName;
    std::optional<std::string> groupName;
    std::uint64_t size = 0;
    Timestamp modificationTime;
    Timestamp changeTime;
    std::optional<Timestamp> birthTime;
    std::optional<Timestamp> accessTime;
    std::uint32_t bsdFlags = 0;
    std::vector<ExtendedAttribute> extendedAttributes;
    std::optional<Bytes> acl;
    std::optional<Bytes> symlinkTarget;
    HardLinkIdentity identity;
    std::uint64_t linkCount = 1;
    std::optional<std::vector<SparseRange>> sparseRanges;

    friend bool operator==(const FileMetadata&, const FileMetadata&) = default;
};

// The flag bits of the platform the backups come from (chflags). Linux keeps only three of
// them, as inode flags: nodump, immutable and append-only.
namespace BSDFlags {
constexpr std::uint32_t userNoDump = 0x00000001;
constexpr std::uint32_t userImmutable = 0x00000002;
constexpr std::uint32_t userAppend = 0x00000004;
constexpr std::uint32_t userOpaque = 0x00000008;
constexpr std::uint32_t userCompressed = 0x00000020;
constexpr std::uint32_t userTracked = 0x00000040;
constexpr std::uint32_t userDataVault = 0x00000080;
constexpr std::uint32_t userHidden = 0x00008000;
constexpr std::uint32_t systemArchived = 0x00010000;
constexpr std::uint32_t systemImmutable = 0x00020000;
constexpr std::uint32_t systemAppend = 0x00040000;
constexpr std::uint32_t systemRestricted = 0x00080000;
constexpr std::uint32_t systemNoUnlink = 0x00100000;
constexpr std::uint32_t systemFirmlink = 0x00800000;
constexpr std::uint32_t systemDataless = 0x40000000;

// The bits Linux can keep.
constexpr std::uint32_t keptOnLinux = userNoDump | userImmutable | userAppend | systemImmutable | systemAppend;

// The names of the bits set in flags ("hidden", "archived", "0x200" for an unknown bit),
// lowest bit first.
std::vector<std::string> names(std::uint32_t flags);
}  // namespace BSDFlags

}  // namespace wm
