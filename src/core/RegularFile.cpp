#include "core/RegularFile.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

#include "core/SystemCall.h"

namespace wm::RegularFile {

Contents read(const std::string& path, std::size_t limit, Links links) {
    auto failed = [](Failure failure, int error = 0) { return Contents{"", failure, error}; };
    auto unreadable = [&](int error) {
        return failed(error == ENOENT || error == ENOTDIR ? Failure::missing : Failure::unreadable, error);
    };
    struct stat st;
    const bool follow = links == Links::followed;
    if (retryingOnInterrupt([&] { return follow ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st); }) != 0)
        return unreadable(errno);
    if (!S_ISREG(st.st_mode)) return failed(Failure::notRegularFile);
    const int flags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (follow ? 0 : O_NOFOLLOW);
    const UniqueFd file(retryingOnInterrupt([&] { return ::open(path.c_str(), flags); }));
    if (file.get() < 0) return !follow && errno == ELOOP ? failed(Failure::notRegularFile) : unreadable(errno);
    if (retryingOnInterrupt([&] { return ::fstat(file.get(), &st); }) != 0) return unreadable(errno);
    if (!S_ISREG(st.st_mode)) return failed(Failure::notRegularFile);

    // Room for the size seen and one byte more, growing up to one byte past the limit.
    const std::size_t cap = limit == SIZE_MAX ? limit : limit + 1;
    std::string bytes(std::min(static_cast<std::size_t>(std::max<off_t>(st.st_size, 0)), limit) + 1, '\0');
    std::size_t got = 0;
    while (true) {
        if (got == bytes.size()) {
            if (bytes.size() >= cap) break;
            bytes.resize(std::min(bytes.size() * 2, cap));
        }
        const ssize_t n =
            retryingOnInterrupt([&] { return ::read(file.get(), bytes.data() + got, bytes.size() - got); });
        if (n < 0) return unreadable(errno);
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    if (got > limit) return failed(Failure::tooLarge);
    bytes.resize(got);
    return Contents{std::move(bytes), std::nullopt, 0};
}

}  // namespace wm::RegularFile
