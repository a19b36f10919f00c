#include "storage/FolderLock.h"

#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>

#include "storage/DestinationError.h"

namespace wm {

FolderLock FolderLock::tryLock(const std::filesystem::path& folder, Mode mode, bool followLink) {
    return take(folder, mode, followLink, false);
}

FolderLock FolderLock::lock(const std::filesystem::path& folder, Mode mode) { return take(folder, mode, true, true); }

FolderLock FolderLock::take(const std::filesystem::path& folder, Mode mode, bool followLink, bool wait) {
    const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | (followLink ? 0 : O_NOFOLLOW);
    UniqueFd fd(retryingOnInterrupt([&] { return ::open(folder.c_str(), flags); }));
    if (fd.get() < 0) {
        const int err = errno;
        throw DestinationError::fromErrno(err, RepoPath(), DestinationError::Operation::read);
    }
    const int operation = (mode == Mode::shared ? LOCK_SH : LOCK_EX) | (wait ? 0 : LOCK_NB);
    if (retryingOnInterrupt([&] { return ::flock(fd.get(), operation); }) == 0)
        return FolderLock(std::move(fd), Outcome::acquired);
    const int err = errno;
    if (err == EWOULDBLOCK) return FolderLock(UniqueFd(), Outcome::heldElsewhere);
    // ENOLCK, EOPNOTSUPP, EINVAL, and EBADF where a network volume maps these locks onto
    // byte-range locks that need a descriptor open for writing: no lock on this volume.
    return FolderLock(UniqueFd(), Outcome::unsupported);
}

}  // namespace wm
