#include "restore/RestoreRoot.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>
#include <vector>

#include "core/Localization.h"
#include "core/Unicode.h"

namespace wm {

namespace {

constexpr int directoryFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
// The target folder as named: it may itself be a symbolic link.
constexpr int targetFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

std::string nameText(const SafeName& name) { return name.description(); }

std::optional<FolderIdentity> identityOf(int descriptor) {
    struct stat st;
    if (retryingOnInterrupt([&] { return ::fstat(descriptor, &st); }) != 0) return std::nullopt;
    return FolderIdentity{st.st_dev, st.st_ino};
}

UniqueFd openAsNamed(const std::filesystem::path& folder) {
    if (folder.empty()) throw PathSafetyViolation::restoreRootUnavailable(systemErrorText(ENOENT));
    UniqueFd opened(retryingOnInterrupt([&] { return ::open(folder.c_str(), targetFlags); }));
    if (opened.get() < 0) throw PathSafetyViolation::restoreRootUnavailable(systemErrorText(errno));
    return opened;
}

[[noreturn]] void notMade(const std::filesystem::path& folder, int error) {
    throw std::filesystem::filesystem_error("mkdirat", folder, std::error_code(error, std::generic_category()));
}

}  // namespace

std::optional<FolderIdentity> FolderIdentity::of(const std::filesystem::path& path) {
    struct stat st;
    if (retryingOnInterrupt([&] { return ::stat(path.c_str(), &st); }) != 0 || !S_ISDIR(st.st_mode))
        return std::nullopt;
    return FolderIdentity{st.st_dev, st.st_ino};
}

bool FolderIdentity::holds(int folderDescriptor) const {
    constexpr int upFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;
    UniqueFd current(retryingOnInterrupt([&] { return ::openat(folderDescriptor, ".", upFlags); }));
    struct stat here;
    if (current.get() < 0 || retryingOnInterrupt([&] { return ::fstat(current.get(), &here); }) != 0) return false;
    // Bounded however deep the folder lies: every step goes one level up.
    for (int step = 0; step < 65536; ++step) {
        if (here.st_dev == device && here.st_ino == inode) return true;
        UniqueFd parent(retryingOnInterrupt([&] { return ::openat(current.get(), "..", upFlags); }));
        struct stat above;
        if (parent.get() < 0 || retryingOnInterrupt([&] { return ::fstat(parent.get(), &above); }) != 0) return false;
        if (above.st_dev == here.st_dev && above.st_ino == here.st_ino) return false;  // the top
        current = std::move(parent);
        here = above;
    }
    return false;
}

RestoreRoot::RestoreRoot(const std::filesystem::path& rootDirectory, int maxComponentCount, int maxTotalPathBytes,
                         std::optional<FolderIdentity> backupFolder)
    : RestoreRoot(openAsNamed(rootDirectory), rootDirectory, maxComponentCount, maxTotalPathBytes, backupFolder) {}

RestoreRoot::RestoreRoot(UniqueFd rootDescriptor, const std::filesystem::path& rootDirectory, int maxComponentCount,
                         int maxTotalPathBytes, std::optional<FolderIdentity> backupFolder)
    : rootDescriptor_(std::move(rootDescriptor)),
      maxComponentCount_(maxComponentCount),
      maxTotalPathBytes_(maxTotalPathBytes),
      backupFolder_(backupFolder) {
    if (rootDescriptor_.get() < 0) throw PathSafetyViolation::restoreRootUnavailable(systemErrorText(EBADF));
    if (backupFolder_ && backupFolder_->holds(rootDescriptor_.get()))
        throw PathSafetyViolation::insideTheBackup(rootDirectory.filename().string());
}

UniqueFd RestoreRoot::openTarget(const std::filesystem::path& into, const std::optional<CheckedTarget>& checked,
                                 std::optional<FolderIdentity> backupFolder,
                                 const BetweenMakingAndOpening& betweenMakingAndOpening) {
    if (into.empty()) throw PathSafetyViolation::restoreRootUnavailable(systemErrorText(ENOENT));
    std::filesystem::path target = into.lexically_normal();
    if (!target.has_filename() && target.has_relative_path()) target = target.parent_path();  // a trailing "/"
    auto refuseTheBackup = [&](int folder) {
        if (backupFolder && backupFolder->holds(folder))
            throw PathSafetyViolation::insideTheBackup(target.filename().string());
    };

    UniqueFd folder(retryingOnInterrupt([&] { return ::open(target.c_str(), targetFlags); }));
    if (folder.get() >= 0) {
        if (checked && (!checked->found || identityOf(folder.get()) != checked->found))
            throw PathSafetyViolation::targetReplaced(target.string());
        refuseTheBackup(folder.get());
        return folder;
    }
    if (const int error = errno; error != ENOENT) {
        // A file on the way, or a path too long to make by name, is a folder that cannot be made.
        if (error == ENOTDIR || error == ENAMETOOLONG) notMade(target, error);
        throw PathSafetyViolation::restoreRootUnavailable(systemErrorText(error));
    }
    if (checked && checked->found) throw PathSafetyViolation::targetReplaced(target.string());  // it went away

    // The nearest folder above that exists, as named; everything below it is made here.
    std::vector<std::filesystem::path> missing{target};
    for (std::filesystem::path above = target.parent_path();; above = above.parent_path()) {
        const std::filesystem::path named = above.empty() ? std::filesystem::path(".") : above;
        folder.reset(retryingOnInterrupt([&] { return ::open(named.c_str(), targetFlags); }));
        if (folder.get() >= 0) break;
        const int error = errno;
        if (error != ENOENT || above.empty() || above == above.parent_path()) notMade(named, error);
        missing.push_back(above);
    }
    refuseTheBackup(folder.get());
    for (auto step = missing.rbegin(); step != missing.rend(); ++step) {
        const std::filesystem::path& path = *step;
        const std::string name = path.filename().string();
        const int made = retryingOnInterrupt([&] { return ::mkdirat(folder.get(), name.c_str(), 0777); });
        if (made != 0 && errno != EEXIST) notMade(path, errno);
        struct stat st;
        const int seen =
            retryingOnInterrupt([&] { return ::fstatat(folder.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW); });
        if (made != 0) {
            // Made meanwhile by someone else: a folder is taken like one that was there, unless the
            // check found nothing at the target, which must then be this restore's own.
            if (seen != 0 || (checked && path == target)) throw PathSafetyViolation::targetReplaced(path.string());
            if (!S_ISDIR(st.st_mode)) notMade(path, EEXIST);
        } else if (seen != 0 || !S_ISDIR(st.st_mode)) {
            throw PathSafetyViolation::targetReplaced(path.string());
        }
        const FolderIdentity expected{st.st_dev, st.st_ino};
        if (betweenMakingAndOpening) betweenMakingAndOpening(path);
        UniqueFd opened(retryingOnInterrupt([&] { return ::openat(folder.get(), name.c_str(), directoryFlags); }));
        if (opened.get() < 0) {
            const int error = errno;
            if (error == ENOENT || error == ENOTDIR || error == ELOOP)
                throw PathSafetyViolation::targetReplaced(path.string());
            throw PathSafetyViolation::restoreRootUnavailable(systemErrorText(error));
        }
        if (identityOf(opened.get()) != expected) throw PathSafetyViolation::targetReplaced(path.string());
        folder = std::move(opened);
    }
    return folder;
}

RestoreRoot::~RestoreRoot() { close(); }

void RestoreRoot::close() {
    std::lock_guard lock(mutex_);
    if (isClosed_) return;
    isClosed_ = true;
    // Later calls then fail with EBADF instead of reaching a reused descriptor number.
    rootDescriptor_.reset();
}

bool RestoreRoot::isClosed() const {
    std::lock_guard lock(mutex_);
    return isClosed_;
}

void RestoreRoot::checkLimits(PathMeasure path, int maxComponentCount, int maxTotalPathBytes) {
    if (path.components > static_cast<std::size_t>(maxComponentCount))
        throw PathSafetyViolation::tooManyComponents(maxComponentCount);
    if (path.bytes > static_cast<std::size_t>(maxTotalPathBytes))
        throw PathSafetyViolation::pathTooLong(maxTotalPathBytes);
}

void RestoreRoot::validateLimits(SafePath path) const {
    if (path.empty()) throw PathSafetyViolation::emptyName();
    PathMeasure measure;
    for (const SafeName& name : path) measure = measure.adding(name.size());
    checkLimits(measure, maxComponentCount_, maxTotalPathBytes_);
}

RestoreRoot::Folder RestoreRoot::walkDirectories(SafePath path, std::optional<std::uint16_t> createIfMissing) {
    if (path.empty()) {
        UniqueFd copy(retryingOnInterrupt([&] { return ::fcntl(rootDescriptor_.get(), F_DUPFD_CLOEXEC, 0); }));
        if (copy.get() < 0) throw PathSafetyViolation::ioFailure(WM_L("restore root"), "dup", systemErrorText(errno));
        return {std::move(copy), false};
    }
    Folder current;
    for (std::size_t depth = 0; depth < path.size(); ++depth) {
        int parent = current.descriptor.get() >= 0 ? current.descriptor.get() : rootDescriptor_.get();
        // On failure `current` closes what was reached so far; the root stays open.
        current = openDirectoryComponent(path[depth], parent, static_cast<int>(depth), createIfMissing);
    }
    return current;
}

RestoreRoot::Folder RestoreRoot::openDirectoryComponent(const SafeName& name, int parent, int depth,
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

    Folder opened{UniqueFd(retryingOnInterrupt([&] { return ::openat(parent, name.c_str(), directoryFlags); })), false};
    if (opened.descriptor.get() < 0) {
        int error = errno;
        if (error != ENOENT) throw classifyFailure(error);
        if (!createIfMissing) throw PathSafetyViolation::componentDoesNotExist(nameText(name));
        int r = retryingOnInterrupt([&] { return ::mkdirat(parent, name.c_str(), *createIfMissing); });
        if (r < 0 && errno != EEXIST)
            throw PathSafetyViolation::ioFailure(nameText(name), "mkdirat", systemErrorText(errno));
        // Only a folder made here is this restore's; one made meanwhile by someone else is not.
        opened.created = r == 0;
        // Open it under the same rules.
        opened.descriptor.reset(retryingOnInterrupt([&] { return ::openat(parent, name.c_str(), directoryFlags); }));
        if (opened.descriptor.get() < 0) throw classifyFailure(errno);
    }
    const int fd = opened.descriptor.get();
    if (backupFolder_ && identityOf(fd) == backupFolder_) throw PathSafetyViolation::insideTheBackup(nameText(name));
    if (auto stored = onDiskName(fd)) {
        if (!std::equal(stored->begin(), stored->end(), name.bytes().begin(), name.bytes().end()))
            throw PathSafetyViolation::nameFoldsOnThisVolume(nameText(name), Unicode::decodeUTF8Repairing(*stored));
    }
    return opened;
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
    UniqueFd opened(
        retryingOnInterrupt([&] { return ::openat(directory, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC); }));
    if (opened.get() < 0) return PathSafetyViolation::targetAlreadyExists(nameText(name));
    if (auto stored = onDiskName(opened.get())) {
        if (!std::equal(stored->begin(), stored->end(), name.bytes().begin(), name.bytes().end()))
            return PathSafetyViolation::nameFoldsOnThisVolume(nameText(name), Unicode::decodeUTF8Repairing(*stored));
    }
    return PathSafetyViolation::targetAlreadyExists(nameText(name));
}

void RestoreRoot::ensureDirectoryExists(SafePath path, std::uint16_t mode) {
    ensureDirectoryExistsReturningDescriptor(path, mode);
}

RestoreRoot::Folder RestoreRoot::ensureDirectoryExistsReturningDescriptor(SafePath path, std::uint16_t mode) {
    std::lock_guard lock(mutex_);
    validateLimits(path);
    return walkDirectories(path, mode);
}

UniqueFd RestoreRoot::createFile(SafePath path, std::uint16_t mode) {
    std::lock_guard lock(mutex_);
    validateLimits(path);
    const UniqueFd parent = walkDirectories(path.first(path.size() - 1), 0755).descriptor;
    const SafeName& name = path.back();
    const mode_t requested = static_cast<mode_t>(mode) & ~static_cast<mode_t>(S_ISUID | S_ISGID);
    UniqueFd fd(retryingOnInterrupt([&] {
        return ::openat(parent.get(), name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, requested);
    }));
    if (fd.get() < 0) {
        if (errno == EEXIST) throw collision(name, parent.get());
        throw PathSafetyViolation::ioFailure(nameText(name), "openat(create)", systemErrorText(errno));
    }
    return fd;
}

void RestoreRoot::createSymlink(SafePath path, ByteView target) {
    createSymlinkReturningParentDescriptor(path, target);
}

UniqueFd RestoreRoot::createSymlinkReturningParentDescriptor(SafePath path, ByteView target) {
    std::lock_guard lock(mutex_);
    validateLimits(path);
    const SafeName& name = path.back();
    if (std::find(target.begin(), target.end(), 0) != target.end())
        throw PathSafetyViolation::nulByteInSymlinkTarget(nameText(name));
    UniqueFd parent = walkDirectories(path.first(path.size() - 1), 0755).descriptor;
    const std::string targetText(target.begin(), target.end());
    int r = retryingOnInterrupt([&] { return ::symlinkat(targetText.c_str(), parent.get(), name.c_str()); });
    if (r < 0) {
        if (errno == EEXIST) throw collision(name, parent.get());
        throw PathSafetyViolation::ioFailure(nameText(name), "symlinkat", systemErrorText(errno));
    }
    return parent;
}

void RestoreRoot::createHardLink(SafePath path, SafePath existing) {
    std::lock_guard lock(mutex_);
    validateLimits(path);
    validateLimits(existing);
    const UniqueFd existingParent = walkDirectories(existing.first(existing.size() - 1), std::nullopt).descriptor;
    const UniqueFd newParent = walkDirectories(path.first(path.size() - 1), 0755).descriptor;
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
        if (retryingOnInterrupt([&] { return ::fstat(fileDescriptor, &created); }) != 0 || !S_ISREG(created.st_mode))
            return false;
        const UniqueFd parent = walkDirectories(path.first(path.size() - 1), std::nullopt).descriptor;
        const SafeName& name = path.back();
        struct stat present;
        int r =
            retryingOnInterrupt([&] { return ::fstatat(parent.get(), name.c_str(), &present, AT_SYMLINK_NOFOLLOW); });
        if (r != 0 || !S_ISREG(present.st_mode) || present.st_dev != created.st_dev || present.st_ino != created.st_ino)
            return false;
        return retryingOnInterrupt([&] { return ::unlinkat(parent.get(), name.c_str(), 0); }) == 0;
    } catch (...) {
        return false;
    }
}

}  // namespace wm
