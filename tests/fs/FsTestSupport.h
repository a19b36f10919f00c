#pragma once
// Helpers shared by the file-system tests.
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "fs/FileMetadata.h"
#include "fs/MetadataApply.h"
#include "support/Unprivileged.h"

namespace wm::test {

inline FileMetadata baseMetadata(FileMetadata::FileType type = FileMetadata::FileType::regular) {
    FileMetadata m;
    m.fileType = type;
    m.mode = 0644;
    m.uid = ::geteuid();
    m.gid = ::getegid();
    m.modificationTime = {1'600'000'000, 123'456'789};
    m.changeTime = m.modificationTime;
    return m;
}

// Reads (and, with clear, drops immutable and append-only from) a file's inode flags; false
// where the file system keeps none.
inline bool inodeFlags(const std::filesystem::path& file, bool clear = false) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    int flags = 0;
    const bool ok = fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (ok && clear) {
        flags &= ~(FS_IMMUTABLE_FL | FS_APPEND_FL);
        ::ioctl(fd, FS_IOC_SETFLAGS, &flags);
    }
    if (fd >= 0) ::close(fd);
    return ok;
}

inline struct stat lstatOf(const std::filesystem::path& p) {
    struct stat st {};
    ::lstat(p.c_str(), &st);
    return st;
}

}  // namespace wm::test
