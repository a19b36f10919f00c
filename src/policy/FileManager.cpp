#include "policy/FileManager.h"

#include <sys/stat.h>

#include <cstring>

#include "core/RegularFile.h"
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
        const DirectoryStream dir(::opendir(path.c_str()));
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
        RegularFile::Contents file = RegularFile::read(path, maxBytes);
        if (file.failure) return std::nullopt;
        return std::move(file.bytes);
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
