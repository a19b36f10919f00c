#pragma once
// A fresh folder under the system's temporary folder, removed with everything in it when the
// object goes out of scope. Permissions inside are restored first so that even folders a
// test made unreadable are removed.
#include <filesystem>
#include <string>
#include <string_view>

#include "core/Bytes.h"

namespace wm::test {

class TempFolder {
public:
    explicit TempFolder(std::string_view prefix = "wm-test");
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::filesystem::path& relative) const { return path_ / relative; }
    std::string string() const { return path_.string(); }

    // Writes a file (creating its parent folders) and returns its full path.
    std::filesystem::path writeFile(const std::filesystem::path& relative, ByteView contents) const;
    std::filesystem::path writeFile(const std::filesystem::path& relative, std::string_view contents) const;
    // The whole contents of a file under the folder; throws std::runtime_error when missing.
    Bytes readFile(const std::filesystem::path& relative) const;

private:
    std::filesystem::path path_;
};

}  // namespace wm::test
