#include "storage/LocalFolderDestination.h"
#include "core/DurableReplace.h"
#include "core/SystemCall.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <mutex>
#include <system_error>

namespace wm {

namespace {

std::optional<std::int64_t> volumeFreeBytes(const std::string& path) {
    struct statvfs vfs {};
    if (retryingOnInterrupt([&] { return ::statvfs(path.c_str(), &vfs); }) != 0) return std::nullopt;
    return static_cast<std::int64_t>(vfs.f_bavail) * static_cast<std::int64_t>(vfs.f_frsize);
}

std::string parentOf(const std::string& path) {
    auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
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

}  // namespace

// ---------------------------------------------------------------------------------------
// The writer

class LocalFolderDurableWriter final : public DurableWriter {
public:
    LocalFolderDurableWriter(
        RepoPath path, std::string finalPath, std::string temporaryPath, int fd, std::string volumePath,
        std::function<void(LocalFolderDestination::WriteInterruption::Stage, int)> interruptionCheck,
        std::function<int()> nextCommit)
        : path_(std::move(path)),
          finalPath_(std::move(finalPath)),
          temporaryPath_(std::move(temporaryPath)),
          volumePath_(std::move(volumePath)),
          fd_(fd),
          interruptionCheck_(std::move(interruptionCheck)),
          nextCommit_(std::move(nextCommit)) {}

    void write(ByteView bytes) override {
        std::lock_guard lock(mutex_);
        if (state_ != State::open) throw DestinationError::writeFailed(path_, "the write is already finished");
        std::size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n =
                retryingOnInterrupt([&] { return ::write(fd_.get(), bytes.data() + done, bytes.size() - done); });
            if (n < 0) {
                int err = errno;
                // Some of the bytes may be in the file and some not: what is pending is no
                // longer what was handed over, so it can never be committed.
                state_ = State::failed;
                throw DestinationError::fromErrno(err, path_, DestinationError::Operation::write,
                                                  static_cast<std::int64_t>(bytes.size() - done),
                                                  volumeFreeBytes(volumePath_));
            }
            done += static_cast<std::size_t>(n);
        }
        written_ += static_cast<std::int64_t>(bytes.size());
    }

    void commit() override {
        using Stage = LocalFolderDestination::WriteInterruption::Stage;
        std::lock_guard lock(mutex_);
        if (state_ != State::open) throw DestinationError::writeFailed(path_, "the write is already finished");
        // Any failure below leaves the writer finished; the temporary file stays as debris.
        state_ = State::failed;
        const int commitNumber = nextCommit_();
        interruptionCheck_(Stage::beforeDataSync, commitNumber);
        if (retryingOnInterrupt([&] { return ::fsync(fd_.get()); }) != 0) {
            int err = errno;
            throw DestinationError::fromErrno(err, path_, DestinationError::Operation::write, written_,
                                              volumeFreeBytes(volumePath_));
        }
        if (fd_.closeReporting() != 0 && errno != EINTR) {
            int err = errno;
            throw DestinationError::fromErrno(err, path_, DestinationError::Operation::write, written_,
                                              volumeFreeBytes(volumePath_));
        }
        interruptionCheck_(Stage::beforeRename, commitNumber);
        if (retryingOnInterrupt([&] { return ::rename(temporaryPath_.c_str(), finalPath_.c_str()); }) != 0) {
            int err = errno;
            throw DestinationError::fromErrno(err, path_, DestinationError::Operation::rename, written_,
                                              volumeFreeBytes(volumePath_));
        }
        interruptionCheck_(Stage::beforeFolderSync, commitNumber);
        if (int err = syncFolder(parentOf(finalPath_)); err != 0) {
            throw DestinationError::fromErrno(err, path_, DestinationError::Operation::write);
        }
        state_ = State::committed;
    }

    void cancel() noexcept override {
        std::lock_guard lock(mutex_);
        if (state_ == State::committed || state_ == State::cancelled) return;
        fd_.reset();
        ::unlink(temporaryPath_.c_str());
        state_ = State::cancelled;
    }

private:
    enum class State { open, failed, committed, cancelled };
    std::mutex mutex_;
    RepoPath path_;
    std::string finalPath_;
    std::string temporaryPath_;
    std::string volumePath_;
    UniqueFd fd_;
    std::function<void(LocalFolderDestination::WriteInterruption::Stage, int)> interruptionCheck_;
    std::function<int()> nextCommit_;
    State state_ = State::open;
    std::int64_t written_ = 0;
};

// ---------------------------------------------------------------------------------------
// The destination

LocalFolderDestination::LocalFolderDestination(DestinationID id, DestinationKind kind, std::filesystem::path rootURL,
                                               std::optional<WriteInterruption> interruption,
                                               const Preparation& preparation)
    : id_(id),
      kind_(kind),
      root_(std::move(rootURL)),
      tmp_(root_ / temporaryFolderName),
      gate_(std::make_shared<CommitGate>()) {
    gate_->interruption = interruption;
    if (preparation.mode == Preparation::Mode::readingOnly) return;

    const RepoPath rootPath;
    std::error_code ec;
    std::filesystem::create_directories(root_, ec);
    if (ec) throw DestinationError::fromErrno(ec.value(), rootPath, DestinationError::Operation::write);
    const RepoPath tmpPath = RepoPath() / temporaryFolderName;
    createFolders(tmpPath, tmpPath);
    for (const auto& folder : preparation.requiredFolders) createFolders(folder, folder);
    // Leftovers of writes that never committed. They are deleted as whole trees, so "tmp"
    // must be a folder of this root itself: through a link they would be somebody else's.
    struct stat st {};
    if (retryingOnInterrupt([&] { return ::lstat(tmp_.c_str(), &st); }) != 0) {
        int err = errno;
        throw DestinationError::fromErrno(err, tmpPath, DestinationError::Operation::write);
    }
    if (!S_ISDIR(st.st_mode)) throw DestinationError::ioFailed(tmpPath, "not a folder of the destination itself");
    for (const auto& entry : list(tmpPath)) {
        std::filesystem::remove_all(url(entry), ec);
        if (ec) throw DestinationError::fromErrno(ec.value(), entry, DestinationError::Operation::write);
    }
}

std::filesystem::path LocalFolderDestination::url(const RepoPath& path) const {
    std::filesystem::path result = root_;
    for (const auto& c : path.components()) result /= c;
    return result;
}

void LocalFolderDestination::createFolders(const RepoPath& folder, const RepoPath& forPath) {
    struct stat st {};
    const std::string full = url(folder).string();
    if (retryingOnInterrupt([&] { return ::stat(full.c_str(), &st); }) == 0 && S_ISDIR(st.st_mode)) return;

    std::filesystem::path current = root_;
    for (const auto& c : folder.components()) {
        std::filesystem::path next = current / c;
        if (retryingOnInterrupt([&] { return ::mkdir(next.c_str(), 0755); }) == 0) {
            // The new folder's entry must survive a power loss as well as the file put in it.
            if (int err = syncFolder(current.string()); err != 0) {
                throw DestinationError::fromErrno(err, forPath, DestinationError::Operation::write);
            }
        } else if (errno != EEXIST) {
            int err = errno;
            throw DestinationError::fromErrno(err, forPath, DestinationError::Operation::write);
        }
        current = std::move(next);
    }
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
    const std::string full = url(path).string();
    if (retryingOnInterrupt([&] { return ::stat(full.c_str(), &st); }) == 0) return true;
    int err = errno;
    if (err == ENOENT || err == ENOTDIR) return false;
    throw DestinationError::fromErrno(err, path, DestinationError::Operation::read);
}

std::optional<std::int64_t> LocalFolderDestination::size(const RepoPath& path) {
    struct stat st {};
    const std::string full = url(path).string();
    if (retryingOnInterrupt([&] { return ::stat(full.c_str(), &st); }) != 0) {
        int err = errno;
        if (err == ENOENT || err == ENOTDIR) return std::nullopt;
        throw DestinationError::fromErrno(err, path, DestinationError::Operation::read);
    }
    if (!S_ISREG(st.st_mode)) return std::nullopt;
    return static_cast<std::int64_t>(st.st_size);
}

namespace {

// Opens an object for reading and gives its size. Only a regular file is an object: a
// named pipe or a device found where one should be is refused, and O_NONBLOCK keeps the
// open itself from waiting for a pipe's writer (it changes nothing for a regular file).
UniqueFd openForReading(const std::string& full, const RepoPath& path, std::int64_t& size) {
    UniqueFd fd(
        retryingOnInterrupt([&] { return ::open(full.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC); }));
    if (fd.get() < 0) {
        int err = errno;
        throw DestinationError::fromErrno(err == ENOTDIR ? ENOENT : err, path, DestinationError::Operation::read);
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) throw DestinationError::fromErrno(errno, path, DestinationError::Operation::read);
    if (S_ISDIR(st.st_mode)) throw DestinationError::ioFailed(path, systemErrorText(EISDIR));
    if (!S_ISREG(st.st_mode)) throw DestinationError::ioFailed(path, "not a regular file");
    size = static_cast<std::int64_t>(st.st_size);
    return fd;
}

}  // namespace

Bytes LocalFolderDestination::read(const RepoPath& path, std::optional<ByteRange> range) {
    if (range && (range->lower < 0 || range->upper < range->lower)) {
        throw DestinationError::ioFailed(
            path, "invalid byte range " + std::to_string(range->lower) + "..<" + std::to_string(range->upper));
    }
    std::int64_t size = 0;
    const UniqueFd fd = openForReading(url(path).string(), path, size);
    const std::int64_t lower = range ? range->lower : 0;
    const std::int64_t expected = range ? range->count() : size;
    // A range past the end is refused before anything is allocated for it.
    if (lower + expected > size) {
        throw DestinationError::shortRead(path, expected, std::max<std::int64_t>(0, std::min(expected, size - lower)));
    }
    Bytes out(static_cast<std::size_t>(expected));
    int error = 0;
    std::int64_t got = readFully(fd.get(), out.data(), expected, lower, error);
    if (error != 0) throw DestinationError::fromErrno(error, path, DestinationError::Operation::read);
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
    const UniqueFd fd = openForReading(url(path).string(), path, size);
    // Formed so that an offset near the largest value cannot wrap round.
    if (offset > size || expected > size - offset) {
        throw DestinationError::shortRead(path, expected, std::max<std::int64_t>(0, std::min(expected, size - offset)));
    }
    int error = 0;
    std::int64_t got = readFully(fd.get(), out.data(), expected, offset, error);
    if (error != 0) throw DestinationError::fromErrno(error, path, DestinationError::Operation::read);
    if (got != expected) throw DestinationError::shortRead(path, expected, got);
}

std::vector<RepoPath> LocalFolderDestination::list(const RepoPath& folder) {
    std::vector<RepoPath> entries;
    const std::string full = url(folder).string();
    UniqueFd fd(retryingOnInterrupt([&] { return ::open(full.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); }));
    if (fd.get() < 0) {
        int err = errno;
        if (err == ENOENT) return entries;
        if (err == ENOTDIR) throw DestinationError::ioFailed(folder, systemErrorText(err));
        throw DestinationError::fromErrno(err, folder, DestinationError::Operation::read);
    }
    // The stream owns the descriptor from here on.
    const DirectoryStream dir(::fdopendir(fd.get()));
    if (!dir) throw DestinationError::fromErrno(errno, folder, DestinationError::Operation::read);
    fd.release();
    while (true) {
        errno = 0;
        struct dirent* entry = ::readdir(dir.get());
        if (!entry) {
            const int err = errno;
            if (err != 0) throw DestinationError::fromErrno(err, folder, DestinationError::Operation::read);
            break;
        }
        std::string_view name(entry->d_name);
        if (name == "." || name == "..") continue;
        if (auto path = folder.appending(std::string(name))) entries.push_back(*std::move(path));
    }
    return entries;
}

std::unique_ptr<DurableWriter> LocalFolderDestination::openWrite(const RepoPath& path) {
    if (path.isRoot()) throw DestinationError::writeFailed(path, systemErrorText(EISDIR));
    if (path.depth() > 1) createFolders(path.parent(), path);
    const RepoPath tmpPath = RepoPath() / temporaryFolderName;
    createFolders(tmpPath, path);

    std::string temporary = (tmp_ / UUID::random().compactHex()).string();
    int fd =
        retryingOnInterrupt([&] { return ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644); });
    if (fd < 0) {
        int err = errno;
        throw DestinationError::fromErrno(err, path, DestinationError::Operation::write, 0,
                                          volumeFreeBytes(root_.string()));
    }
    auto gate = gate_;
    auto check = [gate, path](WriteInterruption::Stage stage, int commitNumber) {
        const auto& i = gate->interruption;
        if (i && i->stage == stage && i->commitsBefore == commitNumber) throw DestinationError::interrupted();
    };
    auto next = [gate] { return gate->commits.fetch_add(1); };
    return std::make_unique<LocalFolderDurableWriter>(path, url(path).string(), std::move(temporary), fd,
                                                      root_.string(), check, next);
}

void LocalFolderDestination::remove(const RepoPath& path) {
    if (path.isRoot()) throw DestinationError::writeFailed(path, systemErrorText(EBUSY));
    const std::string full = url(path).string();
    if (retryingOnInterrupt([&] { return ::unlink(full.c_str()); }) == 0) return;
    int err = errno;
    if (err == ENOENT || err == ENOTDIR) return;
    if (err == EISDIR) {
        if (retryingOnInterrupt([&] { return ::rmdir(full.c_str()); }) == 0) return;
        err = errno;
        if (err == ENOENT) return;
    }
    throw DestinationError::fromErrno(err, path, DestinationError::Operation::write);
}

std::optional<std::int64_t> LocalFolderDestination::freeSpace() {
    struct statvfs vfs {};
    if (retryingOnInterrupt([&] { return ::statvfs(root_.c_str(), &vfs); }) != 0) {
        int err = errno;
        if (err == ENOSYS || err == ENOTSUP) return std::nullopt;
        throw DestinationError::fromErrno(err, RepoPath(), DestinationError::Operation::read);
    }
    return static_cast<std::int64_t>(vfs.f_bavail) * static_cast<std::int64_t>(vfs.f_frsize);
}

}  // namespace wm
