#include "core/DurableReplace.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <random>
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

void replaceFileDurably(const std::filesystem::path& file, ByteView bytes) {
    const std::filesystem::path folder = file.has_parent_path() ? file.parent_path() : std::filesystem::path(".");
    std::random_device random;
    const std::filesystem::path temporary =
        folder / ("." + file.filename().string() + ".tmp-" + std::to_string(random()) + std::to_string(random()));
    auto fail = [&](int err, bool remove) {
        if (remove) ::unlink(temporary.c_str());
        throw std::system_error(err, std::system_category(), file.string());
    };

    UniqueFd fd(retryingOnInterrupt(
        [&] { return ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644); }));
    if (fd.get() < 0) fail(errno, false);
    for (std::size_t done = 0; done < bytes.size();) {
        ssize_t n = retryingOnInterrupt([&] { return ::write(fd.get(), bytes.data() + done, bytes.size() - done); });
        if (n < 0) fail(errno, true);
        done += static_cast<std::size_t>(n);
    }
    if (retryingOnInterrupt([&] { return ::fsync(fd.get()); }) != 0) fail(errno, true);
    if (fd.closeReporting() != 0 && errno != EINTR) fail(errno, true);
    if (retryingOnInterrupt([&] { return ::rename(temporary.c_str(), file.c_str()); }) != 0) fail(errno, true);
    if (int err = syncFolder(folder); err != 0) fail(err, false);
}

}  // namespace wm
