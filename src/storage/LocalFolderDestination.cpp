#include "storage/LocalFolderDestination.h"
#include "core/DurableReplace.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <mutex>
#include <system_error>

namespace wm {

namespace {

using Operation = DestinationError::Operation;

constexpr const char* kLink = "a link inside the destination, not one of its own folders or files";
constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

const RepoPath& temporaryPath() {
    static const RepoPath path = RepoPath() / temporaryFolderName;
    return path;
}

DestinationError linkRefusal(const RepoPath& link, Operation operation) {
    DestinationError e = operation == Operation::read ? DestinationError::ioFailed(link, kLink)
                                                      : DestinationError::writeFailed(link, kLink);
    e.operation = operation;
    return e;
}

std::optional<std::int64_t> volumeFreeBytes(int fd) {
    struct statvfs vfs {};
    if (retryingOnInterrupt([&] { return ::fstatvfs(fd, &vfs); }) != 0) return std::nullopt;
    return static_cast<std::int64_t>(vfs.f_bavail) * static_cast<std::int64_t>(vfs.f_frsize);
}

// Reads count bytes at offset; returns how many were read before the end of the file.
std::int64_t readFully(int fd, std::uint8_t* out, std::int64_t count, std::int64_t offset, int& error) {
    std::int64_t done = 0;
    error = 0;
    while (done < count) {
        ssize_t n = retryingOnInterrupt([&] {
            return ::pread(fd, out + done, static_cast<std::size_t>(count - done), static_cast<off_t>(offset + done));
        });
        if (n < 0) {
            error = errno;
            return done;
        }
        if (n == 0) break;
        done += n;
    }
    return done;
}

// The entries of an open folder, "." and ".." left out. The stream takes the descriptor.
std::vector<RepoPath> entriesOf(UniqueFd folderFd, const RepoPath& folder) {
    const DirectoryStream dir(::fdopendir(folderFd.get()));
    if (!dir) throw DestinationError::fromErrno(errno, folder, Operation::read);
    folderFd.release();
    std::vector<RepoPath> entries;
    while (true) {
        errno = 0;
        const struct dirent* entry = ::readdir(dir.get());
        if (!entry) {
            if (errno != 0) throw DestinationError::fromErrno(errno, folder, Operation::read);
            break;
        }
        const std::string_view name(entry->d_name);
        if (name == "." || name == "..") continue;
        if (auto path = folder.appending(std::string(name))) entries.push_back(*std::move(path));
    }
    return entries;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// The writer

class LocalFolderDurableWriter final : public DurableWriter {
public:
    using Stage = LocalFolderDestination::WriteInterruption::Stage;

    // The temporary file is open in tmp; commit() renames it into folder.
    LocalFolderDurableWriter(RepoPath path, UniqueFd folder, UniqueFd tmp, std::string temporaryName, UniqueFd file,
                             std::function<void(Stage, int)> interruptionCheck, std::function<int()> nextCommit)
        : path_(std::move(path)),
          folder_(std::move(folder)),
          tmp_(std::move(tmp)),
          temporaryName_(std::move(temporaryName)),
          file_(std::move(file)),
          interruptionCheck_(std::move(interruptionCheck)),
          nextCommit_(std::move(nextCommit)) {}

    void write(ByteView bytes) override {
        std::lock_guard lock(mutex_);
        if (state_ != State::open) throw DestinationError::writeFailed(path_, "the write is already finished");
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n =
                retryingOnInterrupt([&] { return ::write(file_.get(), bytes.data() + done, bytes.size() - done); });
            if (n < 0) {
                const int err = errno;
                // Some of the bytes may be in the file and some not: what is pending is no
                // longer what was handed over, so it can never be committed.
                state_ = State::failed;
                throw DestinationError::fromErrno(err, path_, Operation::write,
                                                  static_cast<std::int64_t>(bytes.size() - done),
                                                  volumeFreeBytes(folder_.get()));
            }
            done += static_cast<std::size_t>(n);
        }
        written_ += static_cast<std::int64_t>(bytes.size());
    }

    void commit() override {
        std::lock_guard lock(mutex_);
        if (state_ != State::open) throw DestinationError::writeFailed(path_, "the write is already finished");
        // Any failure below leaves the writer finished; the temporary file stays as debris.
        state_ = State::failed;
        const int commitNumber = nextCommit_();
        interruptionCheck_(Stage::beforeDataSync, commitNumber);
        if (retryingOnInterrupt([&] { return ::fsync(file_.get()); }) != 0 ||
            (file_.closeReporting() != 0 && errno != EINTR)) {
            const int err = errno;
            throw DestinationError::fromErrno(err, path_, Operation::write, written_, volumeFreeBytes(folder_.get()));
        }
        interruptionCheck_(Stage::beforeRename, commitNumber);
        // Into the folder opened when the write began: the entry there is replaced, a link
        // included, never what a link points at.
        if (::renameat(tmp_.get(), temporaryName_.c_str(), folder_.get(), path_.fileName().c_str()) != 0) {
            const int err = errno;
            throw DestinationError::fromErrno(err, path_, Operation::rename, written_, volumeFreeBytes(folder_.get()));
        }
        interruptionCheck_(Stage::beforeFolderSync, commitNumber);
        if (const int err = syncFolder(folder_.get()); err != 0)
            throw DestinationError::fromErrno(err, path_, Operation::write);
        state_ = State::committed;
    }

    void cancel() noexcept override {
        std::lock_guard lock(mutex_);
        if (state_ == State::committed || state_ == State::cancelled) return;
        file_.reset();
        ::unlinkat(tmp_.get(), temporaryName_.c_str(), 0);
        state_ = State::cancelled;
    }

private:
    enum class State { open, failed, committed, cancelled };
    std::mutex mutex_;
    RepoPath path_;
    UniqueFd folder_;
    UniqueFd tmp_;
    std::string temporaryName_;
    UniqueFd file_;
    std::function<void(Stage, int)> interruptionCheck_;
    std::function<int()> nextCommit_;
    State state_ = State::open;
    std::int64_t written_ = 0;
};

// ---------------------------------------------------------------------------------------
// The destination

LocalFolderDestination::LocalFolderDestination(DestinationID id, DestinationKind kind, std::filesystem::path rootURL,
                                               std::optional<WriteInterruption> interruption,
                                               const Preparation& preparation, Reads reads)
    : id_(id), kind_(kind), root_(std::move(rootURL)), reads_(reads), gate_(std::make_shared<CommitGate>()) {
    gate_->interruption = interruption;
    if (preparation.mode == Preparation::Mode::readingOnly) return;

    std::error_code ec;
    std::filesystem::create_directories(root_, ec);
    if (ec) throw DestinationError::fromErrno(ec.value(), RepoPath(), Operation::write);
    openFolder(temporaryPath(), true, temporaryPath(), Operation::write);
    for (const auto& folder : preparation.requiredFolders) openFolder(folder, true, folder, Operation::write);
}

bool LocalFolderDestination::isLinkRefusal(const DestinationError& error) { return error.underlying == kLink; }

std::filesystem::path LocalFolderDestination::url(const RepoPath& path) const {
    std::filesystem::path result = root_;
    for (const auto& c : path.components()) result /= c;
    return result;
}

int LocalFolderDestination::rootDescriptor(const RepoPath& forPath, Operation operation) const {
    std::lock_guard lock(rootMutex_);
    if (rootFd_.get() < 0) {
        // The root is the one place a link is followed: the destination may be reached so.
        rootFd_.reset(retryingOnInterrupt([&] { return ::open(root_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); }));
        if (rootFd_.get() < 0) {
            const int err = errno;
            throw DestinationError::fromErrno(err == ENOTDIR ? ENOENT : err, forPath, operation);
        }
    }
    return rootFd_.get();
}

std::optional<UniqueFd> LocalFolderDestination::openFolder(const RepoPath& folder, bool create, const RepoPath& forPath,
                                                           Operation operation) const {
    UniqueFd current;
    try {
        current.reset(::fcntl(rootDescriptor(forPath, operation), F_DUPFD_CLOEXEC, 0));
    } catch (const DestinationError& e) {
        if (e.kind == DestinationError::Kind::notFound && !create) return std::nullopt;
        throw;
    }
    if (current.get() < 0) throw DestinationError::fromErrno(errno, forPath, operation);
    RepoPath reached;
    for (const auto& name : folder.components()) {
        reached = reached / name;
        int fd = retryingOnInterrupt([&] { return ::openat(current.get(), name.c_str(), kFolderFlags); });
        if (fd < 0 && errno == ENOENT && create) {
            if (::mkdirat(current.get(), name.c_str(), 0755) == 0) {
                // The new folder's entry must survive a power loss as well as the file put in it.
                if (const int err = syncFolder(current.get()); err != 0)
                    throw DestinationError::fromErrno(err, forPath, operation);
            } else if (errno != EEXIST) {
                throw DestinationError::fromErrno(errno, forPath, operation);
            }
            fd = retryingOnInterrupt([&] { return ::openat(current.get(), name.c_str(), kFolderFlags); });
        }
        if (fd < 0) {
            const int err = errno;
            if (err == ENOENT) return std::nullopt;
            if (err == ELOOP || err == ENOTDIR) {
                struct stat st {};
                if (::fstatat(current.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode))
                    throw linkRefusal(reached, operation);
                // A file where a folder would be: nothing below it exists.
                if (!create) return std::nullopt;
            }
            throw DestinationError::fromErrno(err, forPath, operation);
        }
        current.reset(fd);
    }
    return current;
}

std::optional<UniqueFd> LocalFolderDestination::openParent(const RepoPath& path, bool create,
                                                           Operation operation) const {
    return openFolder(path.parent(), create, path, operation);
}

void LocalFolderDestination::discardPendingWrites(const std::function<void()>& beforeRemoving) {
    UniqueFd kept;
    std::vector<std::string> pending;
    // A regular file, judged at the entry itself: a link is not followed, nor counted.
    const auto isRegularFile = [&kept](const std::string& name) {
        struct stat st {};
        return ::fstatat(kept.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode);
    };
    try {
        auto tmp = openFolder(temporaryPath(), false, temporaryPath(), Operation::removal);
        if (!tmp) return;
        kept.reset(::fcntl(tmp->get(), F_DUPFD_CLOEXEC, 0));
        if (kept.get() < 0) return;
        for (const auto& entry : entriesOf(std::move(*tmp), temporaryPath())) {
            std::string name = entry.fileName();
            if (isPendingWriteName(name) && isRegularFile(name)) pending.push_back(std::move(name));
        }
    } catch (const std::exception&) {
        // A "tmp" that is a link, unreadable or gone: nothing of it is removed.
        return;
    }
    if (pending.empty()) return;
    if (beforeRemoving) beforeRemoving();
    // Judged again just before: an entry replaced meanwhile by a folder or a link stays.
    for (const auto& name : pending)
        if (isRegularFile(name)) ::unlinkat(kept.get(), name.c_str(), 0);
}

ObjectOpening LocalFolderDestination::opening(const RepoPath& path, std::int64_t count) {
    if (path.isRoot()) return {ObjectOpening::Kind::other, 0, {}};
    std::optional<UniqueFd> folder;
    try {
        folder = openParent(path, false, Operation::read);
    } catch (const DestinationError& e) {
        // A link on the way leads to something that is not the destination's own.
        if (isLinkRefusal(e)) return {ObjectOpening::Kind::other, 0, {}};
        throw;
    }
    if (!folder) return {};
    constexpr int flags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC;
    const UniqueFd fd(retryingOnInterrupt([&] { return ::openat(folder->get(), path.fileName().c_str(), flags); }));
    if (fd.get() < 0) {
        const int err = errno;
        if (err == ENOENT) return {};
        // A link (O_NOFOLLOW refuses it), or an entry that cannot be opened at all.
        struct stat st {};
        if (err == ELOOP ||
            (::fstatat(folder->get(), path.fileName().c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISREG(st.st_mode)))
            return {ObjectOpening::Kind::other, 0, {}};
        throw DestinationError::fromErrno(err, path, Operation::read);
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) throw DestinationError::fromErrno(errno, path, Operation::read);
    if (!S_ISREG(st.st_mode)) return {ObjectOpening::Kind::other, 0, {}};
    const auto size = static_cast<std::int64_t>(st.st_size);
    Bytes bytes(static_cast<std::size_t>(std::clamp<std::int64_t>(count, 0, size)));
    int error = 0;
    const std::int64_t got = readFully(fd.get(), bytes.data(), static_cast<std::int64_t>(bytes.size()), 0, error);
    if (error != 0) throw DestinationError::fromErrno(error, path, Operation::read);
    bytes.resize(static_cast<std::size_t>(got));
    return {ObjectOpening::Kind::file, size, std::move(bytes)};
}

DestinationCapabilities LocalFolderDestination::capabilities() { return DestinationCapabilities{false}; }

Availability LocalFolderDestination::availability() {
    struct stat st {};
    if (retryingOnInterrupt([&] { return ::stat(root_.c_str(), &st); }) != 0) {
        int err = errno;
        if (err == ENOENT || err == ENOTDIR) return Availability::notMounted(std::nullopt);
        if (err == EACCES || err == EPERM) return Availability::permissionRequired();
        return Availability::unreachable(systemErrorText(err));
    }
    if (!S_ISDIR(st.st_mode)) return Availability::unreachable(systemErrorText(ENOTDIR));
    if (::access(root_.c_str(), R_OK | X_OK) != 0) return Availability::permissionRequired();
    return Availability::available();
}

bool LocalFolderDestination::exists(const RepoPath& path) {
    struct stat st {};
    int result = 0;
    if (reads_ == Reads::followingLinks) {
        const std::string full = url(path).string();
        result = retryingOnInterrupt([&] { return ::stat(full.c_str(), &st); });
    } else {
        if (path.isRoot()) return openFolder(path, false, path, Operation::read).has_value();
        const auto folder = openParent(path, false, Operation::read);
        if (!folder) return false;
        result = ::fstatat(folder->get(), path.fileName().c_str(), &st, AT_SYMLINK_NOFOLLOW);
    }
    if (result == 0) return true;
    const int err = errno;
    if (err == ENOENT || err == ENOTDIR) return false;
    throw DestinationError::fromErrno(err, path, Operation::read);
}

std::optional<std::int64_t> LocalFolderDestination::size(const RepoPath& path) {
    struct stat st {};
    int result = 0;
    if (reads_ == Reads::followingLinks) {
        const std::string full = url(path).string();
        result = retryingOnInterrupt([&] { return ::stat(full.c_str(), &st); });
    } else {
        if (path.isRoot()) return std::nullopt;
        const auto folder = openParent(path, false, Operation::read);
        if (!folder) return std::nullopt;
        result = ::fstatat(folder->get(), path.fileName().c_str(), &st, AT_SYMLINK_NOFOLLOW);
    }
    if (result != 0) {
        const int err = errno;
        if (err == ENOENT || err == ENOTDIR) return std::nullopt;
        throw DestinationError::fromErrno(err, path, Operation::read);
    }
    if (!S_ISREG(st.st_mode)) return std::nullopt;
    return static_cast<std::int64_t>(st.st_size);
}

// Only a regular file is an object: a named pipe or a device found where one should be is
// refused, and O_NONBLOCK keeps the open itself from waiting for a pipe's writer (it changes
// nothing for a regular file).
UniqueFd LocalFolderDestination::openForReading(const RepoPath& path, std::int64_t& size) const {
    constexpr int flags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    UniqueFd fd;
    if (reads_ == Reads::followingLinks) {
        const std::string full = url(path).string();
        fd.reset(retryingOnInterrupt([&] { return ::open(full.c_str(), flags); }));
    } else {
        const auto folder = path.isRoot() ? std::nullopt : openParent(path, false, Operation::read);
        if (!folder) throw DestinationError::notFound(path);
        fd.reset(
            retryingOnInterrupt([&] { return ::openat(folder->get(), path.fileName().c_str(), flags | O_NOFOLLOW); }));
        if (fd.get() < 0 && errno == ELOOP) throw linkRefusal(path, Operation::read);
    }
    if (fd.get() < 0) {
        const int err = errno;
        throw DestinationError::fromErrno(err == ENOTDIR ? ENOENT : err, path, Operation::read);
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) throw DestinationError::fromErrno(errno, path, Operation::read);
    if (S_ISDIR(st.st_mode)) throw DestinationError::ioFailed(path, systemErrorText(EISDIR));
    if (!S_ISREG(st.st_mode)) throw DestinationError::ioFailed(path, "not a regular file");
    size = static_cast<std::int64_t>(st.st_size);
    return fd;
}

Bytes LocalFolderDestination::read(const RepoPath& path, std::optional<ByteRange> range) {
    if (range && (range->lower < 0 || range->upper < range->lower)) {
        throw DestinationError::ioFailed(
            path, "invalid byte range " + std::to_string(range->lower) + "..<" + std::to_string(range->upper));
    }
    std::int64_t size = 0;
    const UniqueFd fd = openForReading(path, size);
    const std::int64_t lower = range ? range->lower : 0;
    const std::int64_t expected = range ? range->count() : size;
    // A range past the end is refused before anything is allocated for it.
    if (lower > size || expected > size - lower) {
        throw DestinationError::shortRead(path, expected, std::max<std::int64_t>(0, std::min(expected, size - lower)));
    }
    Bytes out(static_cast<std::size_t>(expected));
    int error = 0;
    std::int64_t got = readFully(fd.get(), out.data(), expected, lower, error);
    if (error != 0) throw DestinationError::fromErrno(error, path, Operation::read);
    if (got != expected) throw DestinationError::shortRead(path, expected, got);
    return out;
}

void LocalFolderDestination::readInto(const RepoPath& path, std::int64_t offset, std::span<std::uint8_t> out) {
    const auto expected = static_cast<std::int64_t>(out.size());
    if (offset < 0) {
        throw DestinationError::ioFailed(
            path, "invalid byte range " + std::to_string(offset) + "..<" + std::to_string(offset + expected));
    }
    std::int64_t size = 0;
    const UniqueFd fd = openForReading(path, size);
    // Formed so that an offset near the largest value cannot wrap round.
    if (offset > size || expected > size - offset) {
        throw DestinationError::shortRead(path, expected, std::max<std::int64_t>(0, std::min(expected, size - offset)));
    }
    int error = 0;
    std::int64_t got = readFully(fd.get(), out.data(), expected, offset, error);
    if (error != 0) throw DestinationError::fromErrno(error, path, Operation::read);
    if (got != expected) throw DestinationError::shortRead(path, expected, got);
}

std::vector<RepoPath> LocalFolderDestination::list(const RepoPath& folder) {
    if (reads_ == Reads::refusingLinks) {
        auto opened = openFolder(folder, false, folder, Operation::read);
        if (!opened) return {};
        return entriesOf(std::move(*opened), folder);
    }
    const std::string full = url(folder).string();
    UniqueFd fd(retryingOnInterrupt([&] { return ::open(full.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); }));
    if (fd.get() < 0) {
        const int err = errno;
        if (err == ENOENT) return {};
        if (err == ENOTDIR) throw DestinationError::ioFailed(folder, systemErrorText(err));
        throw DestinationError::fromErrno(err, folder, Operation::read);
    }
    return entriesOf(std::move(fd), folder);
}

std::unique_ptr<DurableWriter> LocalFolderDestination::openWrite(const RepoPath& path) {
    if (path.isRoot()) throw DestinationError::writeFailed(path, systemErrorText(EISDIR));
    auto folder = openParent(path, true, Operation::write);
    auto tmp = openFolder(temporaryPath(), true, path, Operation::write);
    // Made just now, and gone again: another program is removing what is written here.
    if (!folder || !tmp) throw DestinationError::fromErrno(ENOENT, path, Operation::write);
    std::string name = UUID::random().compactHex();
    UniqueFd file(retryingOnInterrupt([&] {
        return ::openat(tmp->get(), name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    }));
    if (file.get() < 0) {
        const int err = errno;
        throw DestinationError::fromErrno(err, path, Operation::write, 0, volumeFreeBytes(tmp->get()));
    }
    auto check = [gate = gate_](WriteInterruption::Stage stage, int commitNumber) {
        const auto& i = gate->interruption;
        if (i && i->stage == stage && i->commitsBefore == commitNumber) throw DestinationError::interrupted();
    };
    auto next = [gate = gate_] { return gate->commits.fetch_add(1); };
    return std::make_unique<LocalFolderDurableWriter>(path, std::move(*folder), std::move(*tmp), std::move(name),
                                                      std::move(file), std::move(check), std::move(next));
}

void LocalFolderDestination::remove(const RepoPath& path) {
    if (path.isRoot()) throw DestinationError::writeFailed(path, systemErrorText(EBUSY));
    const auto folder = openParent(path, false, Operation::removal);
    if (!folder) return;
    // The entry itself goes, a link included; never what it points at.
    const std::string name = path.fileName();
    if (::unlinkat(folder->get(), name.c_str(), 0) == 0) return;
    int err = errno;
    if (err == ENOENT) return;
    if (err == EISDIR || err == EPERM) {
        if (::unlinkat(folder->get(), name.c_str(), AT_REMOVEDIR) == 0 || errno == ENOENT) return;
        if (errno != ENOTDIR) err = errno;
    }
    throw DestinationError::fromErrno(err, path, Operation::removal);
}

std::optional<std::int64_t> LocalFolderDestination::freeSpace() {
    struct statvfs vfs {};
    if (retryingOnInterrupt([&] { return ::statvfs(root_.c_str(), &vfs); }) != 0) {
        int err = errno;
        if (err == ENOSYS || err == ENOTSUP) return std::nullopt;
        throw DestinationError::fromErrno(err, RepoPath(), Operation::read);
    }
    return static_cast<std::int64_t>(vfs.f_bavail) * static_cast<std::int64_t>(vfs.f_frsize);
}

}  // namespace wm
