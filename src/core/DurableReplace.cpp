#include "core/DurableReplace.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <random>
#include <string>
#include <system_error>

#include "core/SystemCall.h"

namespace wm {

int syncFolder(const std::filesystem::path& folder) {
    UniqueFd fd(retryingOnInterrupt([&] { return ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); }));
    if (fd.get() < 0) return errno;
    return syncFolder(fd.get());
}

int syncFolder(int folderDescriptor) {
    if (retryingOnInterrupt([&] { return ::fsync(folderDescriptor); }) != 0) {
        int err = errno;
        if (err == EINVAL || err == ENOTSUP || err == EROFS) return 0;
        return err;
    }
    return 0;
}

namespace {

// Whether all of bytes went to the file; errno says why not.
bool writeAll(int fd, ByteView bytes) {
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t n = retryingOnInterrupt([&] { return ::write(fd, bytes.data() + done, bytes.size() - done); });
        if (n < 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::string randomSuffix() {
    std::random_device random;
    return std::to_string(random()) + std::to_string(random());
}

}  // namespace

void createFileDurably(const std::filesystem::path& file, ByteView bytes, int mode) {
    const std::filesystem::path folderPath = file.has_parent_path() ? file.parent_path() : std::filesystem::path(".");
    const std::string name = file.filename().string();
    const auto fail = [&](int err) { throw std::system_error(err, std::system_category(), file.string()); };
    const UniqueFd folder(
        retryingOnInterrupt([&] { return ::open(folderPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); }));
    if (folder.get() < 0) fail(errno);

    std::string temporary;
    UniqueFd fd(
        retryingOnInterrupt([&] { return ::openat(folder.get(), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode); }));
    if (fd.get() < 0) {
        temporary = "." + name + "." + randomSuffix() + ".partial";
        fd = UniqueFd(retryingOnInterrupt([&] {
            return ::openat(folder.get(), temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                            mode);
        }));
        if (fd.get() < 0) fail(errno);
    }
    const auto dropTemporary = [&] {
        if (!temporary.empty()) ::unlinkat(folder.get(), temporary.c_str(), 0);
    };
    if (!writeAll(fd.get(), bytes) || retryingOnInterrupt([&] { return ::fsync(fd.get()); }) != 0) {
        const int err = errno;
        dropTemporary();
        fail(err);
    }
    const std::string self = "/proc/self/fd/" + std::to_string(fd.get());
    const int linked = temporary.empty()
                           ? ::linkat(AT_FDCWD, self.c_str(), folder.get(), name.c_str(), AT_SYMLINK_FOLLOW)
                           : ::linkat(folder.get(), temporary.c_str(), folder.get(), name.c_str(), 0);
    const int linkError = errno;
    dropTemporary();
    if (linked != 0) fail(linkError);
    if (const int err = syncFolder(folder.get()); err != 0) {
        // Not known to last: it goes again, so that nothing stays that may not be whole.
        ::unlinkat(folder.get(), name.c_str(), 0);
        fail(err);
    }
}

void replaceFileDurably(const std::filesystem::path& file, ByteView bytes) {
    const std::filesystem::path folder = file.has_parent_path() ? file.parent_path() : std::filesystem::path(".");
    const std::filesystem::path temporary = folder / ("." + file.filename().string() + ".tmp-" + randomSuffix());
    auto fail = [&](int err, bool remove) {
        if (remove) ::unlink(temporary.c_str());
        throw std::system_error(err, std::system_category(), file.string());
    };

    UniqueFd fd(retryingOnInterrupt(
        [&] { return ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644); }));
    if (fd.get() < 0) fail(errno, false);
    if (!writeAll(fd.get(), bytes)) fail(errno, true);
    if (retryingOnInterrupt([&] { return ::fsync(fd.get()); }) != 0) fail(errno, true);
    if (fd.closeReporting() != 0 && errno != EINTR) fail(errno, true);
    if (retryingOnInterrupt([&] { return ::rename(temporary.c_str(), file.c_str()); }) != 0) fail(errno, true);
    if (int err = syncFolder(folder); err != 0) fail(err, false);
}

}  // namespace wm
