#include "core/SecretFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "core/SystemCall.h"
#include "core/TextTrimming.h"
#include "core/Unicode.h"

namespace wm::SecretFile {

Contents read(const std::string& path) {
    auto failed = [](Failure failure, int error = 0) { return Contents{"", failure, error}; };
    auto unreadable = [&](int error) {
        return failed(error == ENOENT || error == ENOTDIR ? Failure::missing : Failure::unreadable, error);
    };
    // Looked at before it is opened, so no device is ever opened; the descriptor is looked
    // at again in case the name was swapped meanwhile.
    struct stat st;
    if (retryingOnInterrupt([&] { return ::stat(path.c_str(), &st); }) != 0) return unreadable(errno);
    if (!S_ISREG(st.st_mode)) return failed(Failure::notRegularFile);
    const UniqueFd file(
        retryingOnInterrupt([&] { return ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC); }));
    if (file.get() < 0) return unreadable(errno);
    if (retryingOnInterrupt([&] { return ::fstat(file.get(), &st); }) != 0) return unreadable(errno);
    if (!S_ISREG(st.st_mode)) return failed(Failure::notRegularFile);

    // One byte past the limit tells a file that is too large, whatever its size claims.
    std::string text(limit + 1, '\0');
    std::size_t got = 0;
    while (got < text.size()) {
        const ssize_t n = retryingOnInterrupt([&] { return ::read(file.get(), text.data() + got, text.size() - got); });
        if (n < 0) return unreadable(errno);
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    if (got > limit) return failed(Failure::tooLarge);
    text.resize(got);
    if (!Unicode::isValidUTF8(viewOf(text))) return failed(Failure::notUTF8);
    return Contents{TextTrimming::whitespaceAndNewlines(text), std::nullopt, 0};
}

}  // namespace wm::SecretFile
