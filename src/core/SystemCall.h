#pragma once
// Small helpers around POSIX calls shared by the modules that touch the disk.
#include <dirent.h>

#include <unistd.h>
#include <cerrno>
#include <memory>
#include <string>
#include <system_error>

namespace wm {

// Repeats a system call while it fails with EINTR.
template <class F>
auto retryingOnInterrupt(F call) {
    decltype(call()) result;
    do {
        result = call();
    } while (result == -1 && errno == EINTR);
    return result;
}

// The system's text for an error number ("No such file or directory").
inline std::string systemErrorText(int errorNumber) { return std::system_category().message(errorNumber); }

// Owns one file descriptor and closes it when it goes.
class UniqueFd {
public:
    explicit UniqueFd(int fd = -1) : fd_(fd) {}
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = other.release();
        }
        return *this;
    }
    ~UniqueFd() { reset(); }

    int get() const { return fd_; }
    int release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void reset(int fd = -1) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }
    // Closes and returns close's own result (a deferred write error on some volumes).
    int closeReporting() {
        int fd = release();
        return fd >= 0 ? ::close(fd) : 0;
    }

private:
    int fd_;
};

// An open directory stream, closed with closedir when its owner goes.
struct DirectoryCloser {
    void operator()(DIR* dir) const noexcept { ::closedir(dir); }
};
using DirectoryStream = std::unique_ptr<DIR, DirectoryCloser>;

}  // namespace wm
