#include "fs/MetadataCapture.h"
#include "core/ErrorDescription.h"
#include "core/SystemCall.h"

#include <acl/libacl.h>
#include <fcntl.h>
#include <grp.h>
#include <linux/fs.h>
#include <pwd.h>
#include <sys/acl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <optional>
#include <system_error>

#include "core/Localization.h"
#include "core/SparseLayout.h"
#include "core/Unicode.h"

namespace wm {

namespace {

std::string procPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

FileMetadata::FileType typeOf(mode_t mode) {
    switch (mode & S_IFMT) {
    case S_IFDIR: return FileMetadata::FileType::directory;
    case S_IFLNK: return FileMetadata::FileType::symlink;
    case S_IFIFO: return FileMetadata::FileType::fifo;
    case S_IFSOCK: return FileMetadata::FileType::socket;
    case S_IFCHR: return FileMetadata::FileType::characterDevice;
    case S_IFBLK: return FileMetadata::FileType::blockDevice;
    default: return FileMetadata::FileType::regular;
    }
}

FileMetadata::Timestamp stamp(const struct statx_timestamp& t) {
    return FileMetadata::Timestamp{static_cast<std::int64_t>(t.tv_sec), t.tv_nsec};
}

std::optional<std::string> userName(uid_t uid) {
    std::vector<char> buffer(1024);
    struct passwd pw {};
    struct passwd* found = nullptr;
    while (true) {
        int rc = ::getpwuid_r(uid, &pw, buffer.data(), buffer.size(), &found);
        if (rc == ERANGE && buffer.size() < (1u << 20)) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (rc != 0 || !found) return std::nullopt;
        return std::string(found->pw_name);
    }
}

std::optional<std::string> groupName(gid_t gid) {
    std::vector<char> buffer(1024);
    struct group gr {};
    struct group* found = nullptr;
    while (true) {
        int rc = ::getgrgid_r(gid, &gr, buffer.data(), buffer.size(), &found);
        if (rc == ERANGE && buffer.size() < (1u << 20)) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (rc != 0 || !found) return std::nullopt;
        return std::string(found->gr_name);
    }
}

// How the extended attributes of an entry are read.
struct AttributeSource {
    int fd = -1;       // an ordinary descriptor: flistxattr / fgetxattr
    std::string path;  // otherwise a path; follow says whether its last step is followed
    bool follow = false;

    ssize_t list(char* buffer, std::size_t size) const {
        if (fd >= 0) return ::flistxattr(fd, buffer, size);
        return follow ? ::listxattr(path.c_str(), buffer, size) : ::llistxattr(path.c_str(), buffer, size);
    }
    ssize_t get(const char* name, void* buffer, std::size_t size) const {
        if (fd >= 0) return ::fgetxattr(fd, name, buffer, size);
        return follow ? ::getxattr(path.c_str(), name, buffer, size) : ::lgetxattr(path.c_str(), name, buffer, size);
    }
};

bool unsupported(int err) { return err == ENOTSUP || err == ENOSYS; }

// Reads a value whose size may change between asking and reading.
template <class Read>
std::optional<std::vector<char>> readSized(Read read, int& error) {
    for (int attempt = 0; attempt < 8; ++attempt) {
        ssize_t size = retryingOnInterrupt([&] { return read(nullptr, 0); });
        if (size < 0) {
            error = errno;
            return std::nullopt;
        }
        std::vector<char> buffer(static_cast<std::size_t>(size));
        ssize_t got = retryingOnInterrupt([&] { return read(buffer.data(), buffer.size()); });
        if (got >= 0) {
            buffer.resize(static_cast<std::size_t>(got));
            return buffer;
        }
        if (errno != ERANGE) {
            error = errno;
            return std::nullopt;
        }
    }
    error = ERANGE;
    return std::nullopt;
}

void captureAttributes(const AttributeSource& source, MetadataCapture::Result& result) {
    int error = 0;
    auto names = readSized([&](char* b, std::size_t n) { return source.list(b, n); }, error);
    if (!names) {
        if (!unsupported(error)) {
            result.problems.push_back(WM_L("extended attributes could not be listed: %@", systemErrorText(error)));
        }
        return;
    }
    std::vector<FileMetadata::ExtendedAttribute> attributes;
    for (std::size_t start = 0; start < names->size();) {
        const char* name = names->data() + start;
        const std::size_t length = ::strnlen(name, names->size() - start);
        start += length + 1;
        if (length == 0) continue;
        const std::string_view nameView(name, length);
        // The access ACL is kept in its own field, as text.
        if (nameView == "system.posix_acl_access") continue;
        const std::string nameText(nameView);
        auto value = readSized([&](char* b, std::size_t n) { return source.get(nameText.c_str(), b, n); }, error);
        if (!value) {
            if (error != ENODATA) {
                result.problems.push_back(
                    WM_L("the extended attribute %@ could not be read: %@", nameText, systemErrorText(error)));
            }
            continue;
        }
        attributes.push_back({bytesOf(nameText), Bytes(value->begin(), value->end())});
    }
    std::sort(attributes.begin(), attributes.end(), [](const auto& a, const auto& b) { return a.name < b.name; });
    result.metadata.extendedAttributes = std::move(attributes);
}

// The access ACL as text, when it says more than the mode does.
void captureACL(int fd, const std::string& path, MetadataCapture::Result& result) {
    acl_t acl = fd >= 0 ? ::acl_get_fd(fd) : ::acl_get_file(path.c_str(), ACL_TYPE_ACCESS);
    if (!acl) {
        if (!unsupported(errno))
            result.problems.push_back(WM_L("the access control list could not be read: %@", systemErrorText(errno)));
        return;
    }
    if (::acl_equiv_mode(acl, nullptr) != 0) {
        if (char* text = ::acl_to_text(acl, nullptr)) {
            result.metadata.acl = bytesOf(text);
            ::acl_free(text);
        }
    }
    ::acl_free(acl);
}

void captureFlags(int fd, MetadataCapture::Result& result) {
    int flags = 0;
    if (retryingOnInterrupt([&] { return ::ioctl(fd, FS_IOC_GETFLAGS, &flags); }) != 0) return;  // no such flags here
    std::uint32_t bsd = 0;
    if (flags & FS_NODUMP_FL) bsd |= BSDFlags::userNoDump;
    if (flags & FS_IMMUTABLE_FL) bsd |= BSDFlags::systemImmutable;
    if (flags & FS_APPEND_FL) bsd |= BSDFlags::systemAppend;
    result.metadata.bsdFlags = bsd;
}

// Puts a descriptor's read position back where it was: seeking for holes must not move
// the position of a descriptor that its owner goes on reading.
class PositionKeeper {
public:
    explicit PositionKeeper(int fd) : fd_(fd), position_(::lseek(fd, 0, SEEK_CUR)) {}
    PositionKeeper(const PositionKeeper&) = delete;
    PositionKeeper& operator=(const PositionKeeper&) = delete;
    ~PositionKeeper() {
        if (position_ >= 0) ::lseek(fd_, position_, SEEK_SET);
    }

private:
    int fd_;
    off_t position_;
};

// The holes of a regular file, from the file system's own record of its data: at most as
// many as an entry records, the largest (see SparseLayout::HoleChoice), chosen as they are
// found; the others are read as data.
void captureHoles(int fd, std::uint64_t size, MetadataCapture::Result& result) {
    const PositionKeeper keeper(fd);
    SparseLayout::HoleChoice holes;
    const auto end = static_cast<off_t>(size);
    off_t position = 0;
    while (position < end) {
        off_t data = ::lseek(fd, position, SEEK_DATA);
        if (data < 0) {
            if (errno == ENXIO) {  // nothing but hole up to the end
                holes.add({static_cast<std::uint64_t>(position), static_cast<std::uint64_t>(end - position)});
                break;
            }
            return;  // the file system cannot tell
        }
        if (data > end) data = end;
        if (data > position) {
            holes.add({static_cast<std::uint64_t>(position), static_cast<std::uint64_t>(data - position)});
        }
        if (data >= end) break;
        off_t hole = ::lseek(fd, data, SEEK_HOLE);
        if (hole < 0) return;
        position = hole;
    }
    std::vector<FileMetadata::SparseRange> kept = std::move(holes).take();
    if (!kept.empty()) result.metadata.sparseRanges = std::move(kept);
}

std::optional<Bytes> readLinkTarget(int parent, const std::string& name, int& error) {
    std::vector<char> buffer(256);
    while (true) {
        ssize_t n = ::readlinkat(parent, name.c_str(), buffer.data(), buffer.size());
        if (n < 0) {
            error = errno;
            return std::nullopt;
        }
        if (static_cast<std::size_t>(n) < buffer.size()) return Bytes(buffer.begin(), buffer.begin() + n);
        if (buffer.size() >= (1u << 20)) {
            error = ENAMETOOLONG;
            return std::nullopt;
        }
        buffer.resize(buffer.size() * 2);
    }
}

// statx of name in parent (AT_EMPTY_PATH with an empty name: the descriptor itself).
MetadataCapture::Result fromStatx(int parent, const std::string& name, const std::string& shown, struct statx& stx) {
    const int flags = (name.empty() ? AT_EMPTY_PATH : 0) | AT_SYMLINK_NOFOLLOW | AT_STATX_SYNC_AS_STAT;
    if (retryingOnInterrupt(
            [&] { return ::statx(parent, name.c_str(), flags, STATX_BASIC_STATS | STATX_BTIME, &stx); }) != 0) {
        throw MetadataCapture::Error::entryUnavailable(shown, errno);
    }
    MetadataCapture::Result result;
    FileMetadata& m = result.metadata;
    m.fileType = typeOf(stx.stx_mode);
    m.mode = stx.stx_mode;
    m.uid = stx.stx_uid;
    m.gid = stx.stx_gid;
    m.userName = userName(stx.stx_uid);
    m.groupName = groupName(stx.stx_gid);
    m.size = stx.stx_size;
    m.modificationTime = stamp(stx.stx_mtime);
    m.changeTime = stamp(stx.stx_ctime);
    if (stx.stx_mask & STATX_BTIME) m.birthTime = stamp(stx.stx_btime);
    if (stx.stx_mask & STATX_ATIME) m.accessTime = stamp(stx.stx_atime);
    m.identity.device = static_cast<std::int32_t>(makedev(stx.stx_dev_major, stx.stx_dev_minor));
    m.identity.inode = stx.stx_ino;
    m.linkCount = stx.stx_nlink;
    return result;
}

// Everything beyond statx, for an entry that is not a symbolic link, given an open
// descriptor when one could be had and an O_PATH descriptor otherwise.
void captureOpened(int fd, bool ordinary, MetadataCapture::Result& result) {
    const auto type = result.metadata.fileType;
    if (ordinary) {
        captureAttributes(AttributeSource{fd, {}, false}, result);
        captureACL(fd, {}, result);
        captureFlags(fd, result);
        if (type == FileMetadata::FileType::regular) captureHoles(fd, result.metadata.size, result);
        return;
    }
    // Reached through /proc: the descriptor's entry there leads to the entry itself.
    const std::string path = procPath(fd);
    captureAttributes(AttributeSource{-1, path, true}, result);
    if (type == FileMetadata::FileType::regular || type == FileMetadata::FileType::directory) {
        captureACL(-1, path, result);
    }
}

MetadataCapture::Result captureIn(int parent, const std::string& name, const std::string& shown) {
    struct statx stx {};
    MetadataCapture::Result result = fromStatx(parent, name, shown, stx);
    const auto type = result.metadata.fileType;

    if (type == FileMetadata::FileType::symlink) {
        int error = 0;
        result.metadata.symlinkTarget = readLinkTarget(parent, name, error);
        if (!result.metadata.symlinkTarget) {
            result.problems.push_back(WM_L("the link target could not be read: %@", systemErrorText(error)));
        }
        // Without a folder descriptor the name is a path of its own (relative to the
        // working folder, or absolute).
        const std::string linkPath = parent == AT_FDCWD ? name : procPath(parent) + "/" + name;
        captureAttributes(AttributeSource{-1, linkPath, false}, result);
        return result;
    }

    int fd = -1;
    bool ordinary = false;
    if (type == FileMetadata::FileType::regular || type == FileMetadata::FileType::directory) {
        fd = retryingOnInterrupt(
            [&] { return ::openat(parent, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC); });
        ordinary = fd >= 0;
        if (fd < 0) {
            const int err = errno;
            result.contentReadable = false;
            result.problems.push_back(WM_L("it could not be opened for reading: %@", systemErrorText(err)));
        }
    }
    if (fd < 0)
        fd = retryingOnInterrupt([&] { return ::openat(parent, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC); });
    if (fd < 0) {
        result.problems.push_back(WM_L("its extended attributes could not be read: %@", systemErrorText(errno)));
        return result;
    }
    UniqueFd owned(fd);
    struct stat st {};
    const int rc = ordinary ? ::fstat(fd, &st) : ::fstatat(fd, "", &st, AT_EMPTY_PATH);
    if (rc != 0 || st.st_ino != stx.stx_ino || major(st.st_dev) != stx.stx_dev_major ||
        minor(st.st_dev) != stx.stx_dev_minor) {
        // Replaced between the two looks: the statx figures stand, nothing more is read.
        result.problems.push_back(WM_L("it changed while it was being examined"));
        return result;
    }
    captureOpened(fd, ordinary, result);
    return result;
}

}  // namespace

MetadataCapture::Error MetadataCapture::Error::entryUnavailable(std::string path, int errorNumber) {
    std::string reason = systemErrorText(errorNumber);
    std::string description =
        ErrorDescription("MetadataCapture.Error", "entryUnavailable").quoted("path", path).add("reason", reason);
    return Error(Kind::entryUnavailable, std::move(path), errorNumber, std::move(reason), description);
}

MetadataCapture::Result MetadataCapture::capture(ByteView path) {
    const std::string text = stringOf(path);
    const std::string shown = Unicode::decodeUTF8Repairing(path);
    if (text.empty()) throw Error::entryUnavailable(shown, ENOENT);
    if (text.find('\0') != std::string::npos) throw Error::entryUnavailable(shown, EINVAL);
    return captureIn(AT_FDCWD, text, shown);
}

MetadataCapture::Result MetadataCapture::capture(int parentDescriptor, ByteView name, const std::string& displayPath) {
    const std::string text = stringOf(name);
    if (text.empty() || text.find('/') != std::string::npos || text.find('\0') != std::string::npos) {
        throw Error::entryUnavailable(displayPath, EINVAL);
    }
    return captureIn(parentDescriptor, text, displayPath);
}

MetadataCapture::Result MetadataCapture::captureDescriptor(int descriptor, const std::string& displayPath) {
    struct statx stx {};
    Result result = fromStatx(descriptor, "", displayPath, stx);
    const int flags = ::fcntl(descriptor, F_GETFL);
    const bool ordinary =
        flags != -1 && !(flags & O_PATH) && result.metadata.fileType != FileMetadata::FileType::symlink;
    if (result.metadata.fileType == FileMetadata::FileType::symlink) return result;
    captureOpened(descriptor, ordinary, result);
    return result;
}

}  // namespace wm
