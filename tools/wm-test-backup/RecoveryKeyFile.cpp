#include "RecoveryKeyFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "ToolPhrasing.h"
#include "ToolRun.h"
#include "core/DurableReplace.h"
#include "core/SecretFile.h"
#include "core/SystemCall.h"

namespace wm::tools {

namespace {

namespace fs = std::filesystem;

std::string couldNotWrite(const std::string& path, int error) {
    return "The recovery key could not be written to " + inQuotes(path) + ": " + std::strerror(error) + ".";
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
    try {
        createFileDurably(path_, viewOf(line));
    } catch (const std::system_error& e) {
        if (e.code().value() == EEXIST) throw ToolRefusal(recoveryKeyFileExists(path_));
        throw ToolRefusal(couldNotWrite(path_, e.code().value()));
    }
}

void RecoveryKeyFile::makeLasting() const {
    const UniqueFd file(::open(path_.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    const Place place = placeOf(path_);
    if (file.get() < 0 || retryingOnInterrupt([&] { return ::fsync(file.get()); }) != 0)
        throw ToolRefusal(couldNotWrite(path_, errno));
    if (place.folder.get() < 0) throw ToolRefusal(couldNotWrite(path_, errno));
    if (const int err = syncFolder(place.folder.get()); err != 0) throw ToolRefusal(couldNotWrite(path_, err));
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
    (void)syncFolder(place.folder.get());
    return true;
}

}  // namespace wm::tools
