#include "policy/FileManager.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "core/SystemCall.h"

namespace wm {

namespace {

class SystemFileManager final : public FileManager {
public:
    bool isDirectory(const std::string& path) const override {
        struct stat st {};
        return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    }

    std::optional<std::vector<std::string>> contents(const std::string& path) const override {
        std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(path.c_str()), ::closedir);
        if (!dir) return std::nullopt;
        std::vector<std::string> names;
        errno = 0;
        while (const dirent* entry = ::readdir(dir.get())) {
            if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
                names.emplace_back(entry->d_name);
            errno = 0;
        }
        if (errno != 0) return std::nullopt;
        return names;
    }

    std::optional<std::string> regularFileContents(const std::string& path, std::size_t maxBytes) const override {
        // Only a regular file is opened at all (opening a device can do something), and the
        // open does not block: a named pipe swapped in meanwhile must not wait for a writer.
        struct stat before {};
        if (::stat(path.c_str(), &before) != 0 || !S_ISREG(before.st_mode)) return std::nullopt;
        UniqueFd fd(retryingOnInterrupt([&] { return ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC); }));
        if (fd.get() < 0) return std::nullopt;
        struct stat st {};
        if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0 ||
            static_cast<std::uint64_t>(st.st_size) > maxBytes)
            return std::nullopt;
        std::string bytes;
        bytes.resize(static_cast<std::size_t>(st.st_size));
        std::size_t done = 0;
        // Reads up to one byte past the size seen, so a file that grew past the cap is refused too.
        while (true) {
            if (done == bytes.size()) {
                if (bytes.size() > maxBytes) return std::nullopt;
                bytes.resize(std::min(bytes.size() * 2 + 1, maxBytes + 1));
            }
            const ssize_t n =
                retryingOnInterrupt([&] { return ::read(fd.get(), bytes.data() + done, bytes.size() - done); });
            if (n < 0) return std::nullopt;
            if (n == 0) break;
            done += static_cast<std::size_t>(n);
        }
        bytes.resize(done);
        return bytes;
    }
};

}  // namespace

bool FileManager::exists(const std::string& path) const {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

std::optional<bool> FileManager::isFolderItself(const std::string& path) const {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return std::nullopt;
    return S_ISDIR(st.st_mode);
}

const FileManager& FileManager::defaultManager() {
    static const SystemFileManager manager;
    return manager;
}

}  // namespace wm
