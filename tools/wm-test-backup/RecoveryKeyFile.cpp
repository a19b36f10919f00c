#include "RecoveryKeyFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "ToolPhrasing.h"
#include "ToolRun.h"
#include "core/Hex.h"
#include "core/SecretFile.h"
#include "core/SystemCall.h"
#include "crypto/SecureRandom.h"

namespace wm::tools {

namespace {

namespace fs = std::filesystem;

std::string couldNotWrite(const std::string& path, int error) {
    return "The recovery key could not be written to " + inQuotes(path) + ": " + std::strerror(error) + ".";
}

bool writeAll(int fd, const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = retryingOnInterrupt([&] { return ::write(fd, data.data() + done, data.size() - done); });
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// The path's folder, open, and its last name.
struct Place {
    UniqueFd folder;
    std::string name;
};

Place placeOf(const std::string& path) {
    const fs::path full(path);
    const fs::path parent = full.parent_path().empty() ? fs::path(".") : full.parent_path();
    return Place{UniqueFd(::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)), full.filename().string()};
}

// A file with no name in the folder (O_TMPFILE); -1 where the file system has none.
UniqueFd unnamedFile(int folder) { return UniqueFd(::openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600)); }

// Gives the whole, synced file its name; never over another file (EEXIST then).
int linkUnnamed(int fd, int folder, const std::string& name) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    return ::linkat(AT_FDCWD, self.c_str(), folder, name.c_str(), AT_SYMLINK_FOLLOW);
}

}  // namespace

std::string recoveryKeyFileExists(const std::string& path) {
    return "The recovery-key file " + inQuotes(path) +
           " already exists, and it may hold the key of another backup. Name a file that does not exist yet.";
}

RecoveryKeyFile::Found RecoveryKeyFile::read() const {
    struct stat st {};
    if (::lstat(path_.c_str(), &st) != 0) return Found{errno == ENOENT ? Found::Kind::nothing : Found::Kind::other, {}};
    if (!S_ISREG(st.st_mode)) return Found{Found::Kind::other, {}};
    const SecretFile::Contents contents = SecretFile::read(path_);
    if (contents.failure) return Found{Found::Kind::other, {}};
    return Found{Found::Kind::text, contents.secret};
}

void RecoveryKeyFile::write(const std::string& text) const {
    const std::string line = text + "\n";
    Place place = placeOf(path_);
    if (place.folder.get() < 0) throw ToolRefusal(couldNotWrite(path_, errno));
    const int folder = place.folder.get();

    // Where the file system has no unnamed files (or /proc is not there to link one), a named
    // one beside the path stands in, removed again whatever happens.
    std::string temporary;
    UniqueFd file = unnamedFile(folder);
    if (file.get() < 0) {
        temporary = "." + place.name + "." + Hex::encode(SecureRandom::bytes(8)) + ".partial";
        file =
            UniqueFd(::openat(folder, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (file.get() < 0) throw ToolRefusal(couldNotWrite(path_, errno));
    }
    const auto dropTemporary = [&] {
        if (!temporary.empty()) ::unlinkat(folder, temporary.c_str(), 0);
    };
    if (!writeAll(file.get(), line) || retryingOnInterrupt([&] { return ::fsync(file.get()); }) != 0) {
        const int error = errno;
        dropTemporary();
        throw ToolRefusal(couldNotWrite(path_, error));
    }
    int linked = temporary.empty() ? linkUnnamed(file.get(), folder, place.name)
                                   : ::linkat(folder, temporary.c_str(), folder, place.name.c_str(), 0);
    const int linkError = errno;
    dropTemporary();
    if (linked != 0 && linkError == EEXIST) throw ToolRefusal(recoveryKeyFileExists(path_));
    if (linked != 0) throw ToolRefusal(couldNotWrite(path_, linkError));
    if (retryingOnInterrupt([&] { return ::fsync(folder); }) != 0) {
        // Not known to last: it goes again, so that no key stays that may not be the one kept.
        const int error = errno;
        ::unlinkat(folder, place.name.c_str(), 0);
        throw ToolRefusal(couldNotWrite(path_, error));
    }
}

void RecoveryKeyFile::makeLasting() const {
    const UniqueFd file(::open(path_.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    const Place place = placeOf(path_);
    const auto synced = [](int fd) { return fd >= 0 && retryingOnInterrupt([&] { return ::fsync(fd); }) == 0; };
    if (!synced(file.get()) || !synced(place.folder.get())) throw ToolRefusal(couldNotWrite(path_, errno));
}

bool RecoveryKeyFile::removeIfHolding(const std::string& text) const {
    const std::string line = text + "\n";
    const UniqueFd file(::open(path_.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (file.get() < 0) return errno == ENOENT;
    struct stat st {};
    if (::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size != static_cast<off_t>(line.size()))
        return false;
    std::string found(line.size(), '\0');
    if (::pread(file.get(), found.data(), found.size(), 0) != static_cast<ssize_t>(found.size()) || found != line)
        return false;
    Place place = placeOf(path_);
    if (place.folder.get() < 0 || ::unlinkat(place.folder.get(), place.name.c_str(), 0) != 0) return false;
    (void)::fsync(place.folder.get());
    return true;
}

}  // namespace wm::tools
