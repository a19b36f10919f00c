#pragma once
// Helpers shared by the file-system tests.
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

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

inline MetadataApply::Outcome::Kind kindOf(const MetadataApply::Report& r, MetadataApply::Attribute a) {
    return r.outcome(a).kind;
}

// Whether the file system under folder keeps Linux inode flags (ext4 does, some do not).
inline bool inodeFlagsSupported(const std::filesystem::path& folder) {
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    int flags = 0;
    bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    ::close(fd);
    return ok;
}

// Clears immutable and append-only so that a test's folder can be removed.
inline void clearInodeFlags(const std::filesystem::path& file) {
    int fd = ::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return;
    int flags = 0;
    if (::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
        flags &= ~(FS_IMMUTABLE_FL | FS_APPEND_FL);
        ::ioctl(fd, FS_IOC_SETFLAGS, &flags);
    }
    ::close(fd);
}

inline struct stat lstatOf(const std::filesystem::path& p) {
    struct stat st {};
    ::lstat(p.c_str(), &st);
    return st;
}

}  // namespace wm::test
