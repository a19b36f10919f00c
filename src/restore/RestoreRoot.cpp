#include "core/SystemCall.h"
#include "restore/RestoreRoot.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "core/Localization.h"
#include "core/Unicode.h"
#include "restore/Descriptor.h"

namespace wm {

namespace {

constexpr int directoryFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

std::string nameText(const SafeName& name) { return name.description(); }

}  // namespace

RestoreRoot::RestoreRoot(const std::filesystem::path& rootDirectory, int maxComponentCount, int maxTotalPathBytes)
    : maxComponentCount_(maxComponentCount), maxTotalPathBytes_(maxTotalPathBytes) {
    const std::string& native = rootDirectory.native();
    if (native.empty()) throw PathSafetyViolation::restoreRootUnavailable(systemErrorText(ENOENT));
    int fd = retryingOnInterrupt([&] { return ::open(native.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
    if (fd < 0) throw PathSafetyViolation::restoreRootUnavailable(systemErrorText(errno));
    rootDescriptor_ = fd;
}

RestoreRoot::~RestoreRoot() { close(); }

void RestoreRoot::close() {
    std::lock_guard lock(mutex_);
    if (isClosed_) return;
    isClosed_ = true;
    if (rootDescriptor_ >= 0) ::close(rootDescriptor_);
    // Later calls then fail with EBADF instead of reaching a reused descriptor number.
    rootDescriptor_ = -1;
}

bool RestoreRoot::isClosed() const {
    std::lock_guard lock(mutex_);
    return isClosed_;
}

void RestoreRoot::validateLimits(SafePath path) const {
    if (path.empty()) throw PathSafetyViolation::emptyName();
    if (path.size() > static_cast<std::size_t>(maxComponentCount_))
        throw PathSafetyViolation::tooManyComponents(maxComponentCount_);
    std::size_t total = 0;
    for (const SafeName& name : path) total += name.size() + 1;
    if (total > static_cast<std::size_t>(maxTotalPathBytes_)) throw PathSafetyViolation::pathTooLong(maxTotalPathBytes_);
}

int RestoreRoot::walkDirectories(SafePath path, std::optional<std::uint16_t> createIfMissing) {
    if (path.empty()) {
        int copy = retryingOnInterrupt([&] { return ::fcntl(rootDescriptor_, F_DUPFD_CLOEXEC, 0); });
        if (copy < 0)
            throw PathSafetyViolation::ioFailure(WM_L("restore root"), "dup", systemErrorText(errno));
        return copy;
    }
    Descriptor current;
    for (std::size_t depth = 0; depth < path.size(); ++depth) {
        int parent = current.valid() ? current.get() : rootDescriptor_;
        // On failure `current` closes what was reached so far; the root stays open.
        Descriptor next(openDirectoryComponent(path[depth], parent, static_cast<int>(depth), createIfMissing));
        current = std::move(next);
    }
    return current.release();
}

int RestoreRoot::openDirectoryComponent(const SafeName& name, int parent, int depth,
                                        std::optional<std::uint16_t> createIfMissing) {
    auto classifyFailure = [&](int error) -> PathSafetyViolation {
        if (error == ENOTDIR || error == ELOOP) {
            // Linux answers ENOTDIR, not ELOOP, for a symbolic link opened with
            // O_DIRECTORY | O_NOFOLLOW: look at the entry itself to tell the two apart.
            struct stat st;
            int r = retryingOnInterrupt([&] { return ::fstatat(parent, name.c_str(), &st, AT_SYMLINK_NOFOLLOW); });
            bool isLink = r == 0 ? S_ISLNK(st.st_mode) : error == ELOOP;
            if (isLink) return PathSafetyViolation::symlinkComponent(nameText(name), depth);
            return PathSafetyViolation::unexpectedNonDirectory(nameText(name));
        }
        return PathSafetyViolation::ioFailure(nameText(name), "openat", systemErrorText(error));
    };

    int fd = retryingOnInterrupt([&] { return ::openat(parent, name.c_str(), directoryFlags); });
    if (fd < 0) {
        int error = errno;
        if (error != ENOENT) throw classifyFailure(error);
        if (!createIfMissing) throw PathSafetyViolation::componentDoesNotExist(nameText(name));
        int r = retryingOnInterrupt([&] { return ::mkdirat(parent, name.c_str(), *createIfMissing); });
        if (r < 0 && errno != EEXIST)
            throw PathSafetyViolation::ioFailure(nameText(name), "mkdirat", systemErrorText(errno));
        // Made now, or meanwhile by someone else: open it under the same rules.
        fd = retryingOnInterrupt([&] { return ::openat(parent, name.c_str(), directoryFlags); });
        if (fd < 0) throw classifyFailure(errno);
    }
    Descriptor opened(fd);
    if (auto stored = onDiskName(fd)) {
        if (!std::equal(stored->begin(), stored->end(), name.bytes().begin(), name.bytes().end()))
            throw PathSafetyViolation::nameFoldsOnThisVolume(nameText(name), Unicode::decodeUTF8Repairing(*stored));
    }
    return opened.release();
}

std::optional<Bytes> RestoreRoot::onDiskName(int) {
    // Linux has no call that returns an open entry's name as the volume stores it, so
    // the check that a folding volume did not hand back a differently spelled entry is
    // left out here; exclusive creates still refuse every name that already exists.
    return std::nullopt;
}

PathSafetyViolation RestoreRoot::collision(const SafeName& name, int directory) {
    struct stat st;
    int r = retryingOnInterrupt([&] { return ::fstatat(directory, name.c_str(), &st, AT_SYMLINK_NOFOLLOW); });
    if (r == 0 && S_ISLNK(st.st_mode)) return PathSafetyViolation::existingSymlinkAtTarget(nameText(name));
    // O_PATH opens nothing for reading or writing: a named pipe does not block and a
    // device driver is never asked to open.
    int fd = retryingOnInterrupt([&] { return ::openat(directory, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC); });
    if (fd < 0) return PathSafetyViolation::targetAlreadyExists(nameText(name));
    Descriptor opened(fd);
    if (auto stored = onDiskName(fd)) {
        if (!std::equal(stored->begin(), stored->end(), name.bytes().begin(), name.bytes().end()))
            return PathSafetyViolation::nameFoldsOnThisVolume(nameText(name), Unicode::decodeUTF8Repairing(*stored));
    }
    return PathSafetyViolation::targetAlreadyExists(nameText(name));
}

void RestoreRoot::ensureDirectoryExists(SafePath path, std::uint16_t mode) {
    Descriptor fd(ensureDirectoryExistsReturningDescriptor(path, mode));
}

int RestoreRoot::ensureDirectoryExistsReturningDescriptor(SafePath path, std::uint16_t mode) {
    std::lock_guard lock(mutex_);
    validateLimits(path);
    return walkDirectories(path, mode);
}

int RestoreRoot::createFile(SafePath path, std::uint16_t mode) {
    std::lock_guard lock(mutex_);
    validateLimits(path);
    Descriptor parent(walkDirectories(path.first(path.size() - 1), 0755));
    const SafeName& name = path.back();
    const mode_t requested = static_cast<mode_t>(mode) & ~static_cast<mode_t>(S_ISUID | S_ISGID);
    int fd = retryingOnInterrupt([&] {
        return ::openat(parent.get(), name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, requested);
    });
    if (fd < 0) {
        if (errno == EEXIST) throw collision(name, parent.get());
        throw PathSafetyViolation::ioFailure(nameText(name), "openat(create)", systemErrorText(errno));
    }
    return fd;
}

void RestoreRoot::createSymlink(SafePath path, ByteView target) {
    Descriptor parent(createSymlinkReturningParentDescriptor(path, target));
}

int RestoreRoot::createSymlinkReturningParentDescriptor(SafePath path, ByteView target) {
    std::lock_guard lock(mutex_);
    validateLimits(path);
    const SafeName& name = path.back();
    if (std::find(target.begin(), target.end(), 0) != target.end())
        throw PathSafetyViolation::nulByteInSymlinkTarget(nameText(name));
    Descriptor parent(walkDirectories(path.first(path.size() - 1), 0755));
    const std::string targetText(target.begin(), target.end());
    int r = retryingOnInterrupt([&] { return ::symlinkat(targetText.c_str(), parent.get(), name.c_str()); });
    if (r < 0) {
        if (errno == EEXIST) throw collision(name, parent.get());
        throw PathSafetyViolation::ioFailure(nameText(name), "symlinkat", systemErrorText(errno));
    }
    return parent.release();
}

void RestoreRoot::createHardLink(SafePath path, SafePath existing) {
    std::lock_guard lock(mutex_);
    validateLimits(path);
    validateLimits(existing);
    Descriptor existingParent(walkDirectories(existing.first(existing.size() - 1), std::nullopt));
    Descriptor newParent(walkDirectories(path.first(path.size() - 1), 0755));
    const SafeName& existingName = existing.back();
    const SafeName& name = path.back();
    // Flags 0: a symbolic link at the existing name is linked as itself, never followed.
    int r = retryingOnInterrupt(
        [&] { return ::linkat(existingParent.get(), existingName.c_str(), newParent.get(), name.c_str(), 0); });
    if (r < 0) {
        if (errno == ENOENT) throw PathSafetyViolation::linkSourceDoesNotExist(nameText(existingName));
        if (errno == EEXIST) throw collision(name, newParent.get());
        throw PathSafetyViolation::ioFailure(nameText(name), "linkat", systemErrorText(errno));
    }
}

bool RestoreRoot::removeCreatedFile(SafePath path, int fileDescriptor) noexcept {
    try {
        std::lock_guard lock(mutex_);
        if (path.empty()) return false;
        struct stat created;
        if (::fstat(fileDescriptor, &created) != 0 || !S_ISREG(created.st_mode)) return false;
        Descriptor parent(walkDirectories(path.first(path.size() - 1), std::nullopt));
        const SafeName& name = path.back();
        struct stat present;
        int r = retryingOnInterrupt([&] { return ::fstatat(parent.get(), name.c_str(), &present, AT_SYMLINK_NOFOLLOW); });
        if (r != 0 || !S_ISREG(present.st_mode) || present.st_dev != created.st_dev ||
            present.st_ino != created.st_ino)
            return false;
        return retryingOnInterrupt([&] { return ::unlinkat(parent.get(), name.c_str(), 0); }) == 0;
    } catch (...) {
        return false;
    }
}

}  // namespace wm
