#include "maintenance/CopyFolderDestination.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>

namespace wm {

namespace {

constexpr const char* kLink = "a link inside the copy, not one of its own folders or files";

// What an open that does not follow links says about the entry it refused.
DestinationError refusal(int err, const RepoPath& path, DestinationError::Operation operation) {
    if (err == ELOOP) return DestinationError::ioFailed(path, kLink);
    return DestinationError::fromErrno(err, path, operation);
}

class CopyFolderWriter final : public DurableWriter {
public:
    CopyFolderWriter(RepoPath path, UniqueFd folder, UniqueFd tmp, std::string temporaryName, UniqueFd file)
        : path_(std::move(path)),
          folder_(std::move(folder)),
          tmp_(std::move(tmp)),
          temporaryName_(std::move(temporaryName)),
          file_(std::move(file)) {}
    ~CopyFolderWriter() override = default;

    void write(ByteView bytes) override {
        std::lock_guard lock(mutex_);
        if (state_ != State::open) throw DestinationError::writeFailed(path_, "the write is already finished");
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n =
                retryingOnInterrupt([&] { return ::write(file_.get(), bytes.data() + done, bytes.size() - done); });
            if (n < 0) {
                state_ = State::failed;
                throw DestinationError::fromErrno(errno, path_, DestinationError::Operation::write,
                                                  static_cast<std::int64_t>(bytes.size() - done));
            }
            done += static_cast<std::size_t>(n);
        }
    }

    void commit() override {
        std::lock_guard lock(mutex_);
        if (state_ != State::open) throw DestinationError::writeFailed(path_, "the write is already finished");
        state_ = State::failed;  // until the last step has gone through
        if (retryingOnInterrupt([&] { return ::fsync(file_.get()); }) != 0 ||
            (file_.closeReporting() != 0 && errno != EINTR))
            throw DestinationError::fromErrno(errno, path_, DestinationError::Operation::write);
        if (::renameat(tmp_.get(), temporaryName_.c_str(), folder_.get(), path_.fileName().c_str()) != 0)
            throw DestinationError::fromErrno(errno, path_, DestinationError::Operation::rename);
        if (retryingOnInterrupt([&] { return ::fsync(folder_.get()); }) != 0)
            throw DestinationError::fromErrno(errno, path_, DestinationError::Operation::write);
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
    State state_ = State::open;
};

}  // namespace

bool CopyFolderDestination::isLinkRefusal(const DestinationError& error) {
    return error.kind == DestinationError::Kind::ioFailed && error.underlying == kLink;
}

CopyFolderDestination::CopyFolderDestination(DestinationID id, DestinationKind kind, const std::filesystem::path& root)
    : id_(id), kind_(kind) {
    root_.reset(retryingOnInterrupt([&] { return ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); }));
    if (root_.get() < 0) throw DestinationError::fromErrno(errno, RepoPath(), DestinationError::Operation::read);
}

std::optional<UniqueFd> CopyFolderDestination::openFolder(const RepoPath& folder, bool create,
                                                          const RepoPath& forPath) const {
    UniqueFd current(::dup(root_.get()));
    if (current.get() < 0) throw DestinationError::fromErrno(errno, forPath, DestinationError::Operation::read);
    for (const auto& name : folder.components()) {
        int fd = retryingOnInterrupt(
            [&] { return ::openat(current.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC); });
        if (fd < 0 && errno == ENOENT && create) {
            if (::mkdirat(current.get(), name.c_str(), 0755) != 0 && errno != EEXIST)
                throw DestinationError::fromErrno(errno, forPath, DestinationError::Operation::write);
            if (retryingOnInterrupt([&] { return ::fsync(current.get()); }) != 0)
                throw DestinationError::fromErrno(errno, forPath, DestinationError::Operation::write);
            fd = retryingOnInterrupt(
                [&] { return ::openat(current.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC); });
        }
        if (fd < 0) {
            const int err = errno;
            if (err == ENOENT) return std::nullopt;
            // A link, or a file where a folder belongs.
            if (err == ELOOP || err == ENOTDIR) throw DestinationError::ioFailed(forPath, kLink);
            throw DestinationError::fromErrno(err, forPath, DestinationError::Operation::read);
        }
        current.reset(fd);
    }
    return current;
}

std::optional<UniqueFd> CopyFolderDestination::openParent(const RepoPath& path, bool create) const {
    return openFolder(path.depth() > 1 ? path.parent() : RepoPath(), create, path);
}

Availability CopyFolderDestination::availability() {
    struct stat st {};
    if (::fstat(root_.get(), &st) != 0 || !S_ISDIR(st.st_mode)) return Availability::notMounted(std::nullopt);
    return Availability::available();
}

bool CopyFolderDestination::exists(const RepoPath& path) {
    if (path.isRoot()) return true;
    const auto folder = openParent(path, false);
    if (!folder) return false;
    struct stat st {};
    if (::fstatat(folder->get(), path.fileName().c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) return true;
    if (errno == ENOENT) return false;
    throw DestinationError::fromErrno(errno, path, DestinationError::Operation::read);
}

std::optional<std::int64_t> CopyFolderDestination::size(const RepoPath& path) {
    if (path.isRoot()) return std::nullopt;
    const auto folder = openParent(path, false);
    if (!folder) return std::nullopt;
    struct stat st {};
    if (::fstatat(folder->get(), path.fileName().c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT) return std::nullopt;
        throw DestinationError::fromErrno(errno, path, DestinationError::Operation::read);
    }
    if (!S_ISREG(st.st_mode)) return std::nullopt;
    return static_cast<std::int64_t>(st.st_size);
}

Bytes CopyFolderDestination::read(const RepoPath& path, std::optional<ByteRange> range) {
    if (range && (range->lower < 0 || range->upper < range->lower))
        throw DestinationError::ioFailed(path, "invalid byte range");
    const auto folder = path.isRoot() ? std::nullopt : openParent(path, false);
    if (!folder) throw DestinationError::notFound(path);
    const UniqueFd file(retryingOnInterrupt([&] {
        return ::openat(folder->get(), path.fileName().c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    }));
    if (file.get() < 0) throw refusal(errno, path, DestinationError::Operation::read);
    struct stat st {};
    if (::fstat(file.get(), &st) != 0)
        throw DestinationError::fromErrno(errno, path, DestinationError::Operation::read);
    if (!S_ISREG(st.st_mode)) throw DestinationError::ioFailed(path, "not a regular file");
    const auto size = static_cast<std::int64_t>(st.st_size);
    const std::int64_t lower = range ? range->lower : 0;
    const std::int64_t count = range ? range->count() : size;
    if (lower > size || count > size - lower)
        throw DestinationError::shortRead(path, count, std::max<std::int64_t>(0, std::min(count, size - lower)));
    Bytes out(static_cast<std::size_t>(count));
    std::int64_t done = 0;
    while (done < count) {
        const ssize_t n = retryingOnInterrupt([&] {
            return ::pread(file.get(), out.data() + done, static_cast<std::size_t>(count - done),
                           static_cast<off_t>(lower + done));
        });
        if (n < 0) throw DestinationError::fromErrno(errno, path, DestinationError::Operation::read);
        if (n == 0) throw DestinationError::shortRead(path, count, done);
        done += n;
    }
    return out;
}

std::vector<RepoPath> CopyFolderDestination::list(const RepoPath& folder) {
    std::vector<RepoPath> entries;
    auto opened = openFolder(folder, false, folder);
    if (!opened) return entries;
    const DirectoryStream dir(::fdopendir(opened->get()));
    if (!dir) throw DestinationError::fromErrno(errno, folder, DestinationError::Operation::read);
    opened->release();  // the stream owns it now
    while (true) {
        errno = 0;
        const struct dirent* entry = ::readdir(dir.get());
        if (!entry) {
            if (errno != 0) throw DestinationError::fromErrno(errno, folder, DestinationError::Operation::read);
            break;
        }
        const std::string_view name(entry->d_name);
        if (name == "." || name == "..") continue;
        if (auto path = folder.appending(std::string(name))) entries.push_back(*std::move(path));
    }
    return entries;
}

std::unique_ptr<DurableWriter> CopyFolderDestination::openWrite(const RepoPath& path) {
    if (path.isRoot()) throw DestinationError::writeFailed(path, "a folder, not a file");
    auto folder = openParent(path, true);
    auto tmp = openFolder(RepoPath() / temporaryFolderName, true, path);
    std::string name = UUID::random().compactHex();
    UniqueFd file(retryingOnInterrupt([&] {
        return ::openat(tmp->get(), name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    }));
    if (file.get() < 0) throw refusal(errno, path, DestinationError::Operation::write);
    return std::make_unique<CopyFolderWriter>(path, std::move(*folder), std::move(*tmp), std::move(name),
                                              std::move(file));
}

void CopyFolderDestination::remove(const RepoPath& path) {
    if (path.isRoot()) throw DestinationError::writeFailed(path, "the copy's own folder");
    const auto folder = openParent(path, false);
    if (!folder) return;
    // The entry itself goes, a link included; never what it points at.
    if (::unlinkat(folder->get(), path.fileName().c_str(), 0) == 0 || errno == ENOENT) return;
    if (errno == EISDIR || errno == EPERM) {
        if (::unlinkat(folder->get(), path.fileName().c_str(), AT_REMOVEDIR) == 0 || errno == ENOENT) return;
    }
    throw DestinationError::fromErrno(errno, path, DestinationError::Operation::write);
}

std::optional<std::int64_t> CopyFolderDestination::freeSpace() {
    struct statvfs vfs {};
    if (::fstatvfs(root_.get(), &vfs) != 0) return std::nullopt;
    return static_cast<std::int64_t>(vfs.f_bavail) * static_cast<std::int64_t>(vfs.f_frsize);
}

}  // namespace wm
