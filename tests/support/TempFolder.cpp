#include "support/TempFolder.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <fstream>
#include <iterator>
#include <stdexcept>
#include <system_error>

namespace wm::test {

namespace {

// Gives the owner full access to every folder below path, so that it can be removed even
// when a test took permissions away. Symbolic links are not followed.
void restoreAccess(const std::filesystem::path& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return;
    ::chmod(path.c_str(), 0700);
    std::error_code ec;
    for (std::filesystem::directory_iterator it(path, ec), end; !ec && it != end; it.increment(ec))
        restoreAccess(it->path());
}

}  // namespace

TempFolder::TempFolder(std::string_view prefix) {
    std::error_code ec;
    std::filesystem::path base = std::filesystem::temp_directory_path(ec);
    if (ec) base = "/tmp";
    std::string pattern = (base / (std::string(prefix) + "-XXXXXX")).string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("could not create a temporary folder in " + base.string());
    path_ = pattern;
}
TempFolder::~TempFolder() {
    restoreAccess(path_);
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::filesystem::path TempFolder::writeFile(const std::filesystem::path& relative, ByteView contents) const {
    std::filesystem::path full = path_ / relative;
    std::filesystem::create_directories(full.parent_path());
    std::ofstream out(full, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(contents.data()), static_cast<std::streamsize>(contents.size()));
    if (!out) throw std::runtime_error("could not write " + full.string());
    return full;
}
std::filesystem::path TempFolder::writeFile(const std::filesystem::path& relative, std::string_view contents) const {
    return writeFile(relative, viewOf(contents));
}

Bytes TempFolder::readFile(const std::filesystem::path& relative) const {
    std::filesystem::path full = path_ / relative;
    std::ifstream in(full, std::ios::binary);
    if (!in) throw std::runtime_error("could not read " + full.string());
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace wm::test
