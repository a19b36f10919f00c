#include "restore/RestoreTestSupport.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <system_error>

namespace wm::test {

namespace fs = std::filesystem;

Sandbox::Sandbox() {
    std::string pattern = (fs::temp_directory_path() / "wm-restore-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    root_ = pattern;
    fs::create_directory(target());
    fs::create_directory(outside());
}

Sandbox::~Sandbox() {
    std::error_code ec;
    // Give back permissions a test took away, then remove everything (links are not followed).
    for (auto it = fs::recursive_directory_iterator(root_, fs::directory_options::skip_permission_denied, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec)) ::chmod(it->path().c_str(), 0700);
    }
    fs::remove_all(root_, ec);
}

void Sandbox::writeFile(const fs::path& file, std::string_view contents) {
    fs::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
    if (!out) throw std::runtime_error("cannot write " + file.string());
}

std::string Sandbox::readFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + file.string());
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string describe(const fs::path& entry) {
    struct stat st;
    if (::lstat(entry.c_str(), &st) != 0) return "";
    std::ostringstream d;
    d << std::oct << (st.st_mode & 07777) << std::dec;
    switch (st.st_mode & S_IFMT) {
    case S_IFREG: d << " file " << st.st_size; break;
    case S_IFDIR: d << " dir"; break;
    case S_IFLNK: {
        char target[4096];
        ssize_t n = ::readlink(entry.c_str(), target, sizeof target);
        d << " link " << std::string(target, n > 0 ? static_cast<std::size_t>(n) : 0);
        break;
    }
    case S_IFIFO: d << " fifo"; break;
    case S_IFSOCK: d << " socket"; break;
    default: d << " other"; break;
    }
    return d.str();
}

TreeListing listTree(const fs::path& folder, const std::string& skip) {
    TreeListing listing;
    std::function<void(const fs::path&, const std::string&)> walk = [&](const fs::path& dir, const std::string& rel) {
        for (const auto& item : fs::directory_iterator(dir)) {
            std::string name = rel.empty() ? item.path().filename().string() : rel + "/" + item.path().filename().string();
            if (!skip.empty() && name == skip) continue;
            struct stat st;
            if (::lstat(item.path().c_str(), &st) != 0) continue;
            std::ostringstream d;
            d << describe(item.path()) << " uid " << st.st_uid << " gid " << st.st_gid << " mtime "
              << st.st_mtim.tv_sec << "." << st.st_mtim.tv_nsec << " ino " << st.st_ino << " links " << st.st_nlink;
            if (S_ISREG(st.st_mode)) d << " content " << std::hash<std::string>{}(Sandbox::readFile(item.path()));
            listing[name] = d.str();
            if (S_ISDIR(st.st_mode)) walk(item.path(), name);
        }
    };
    walk(folder, "");
    return listing;
}

int openDescriptors() {
    int n = 0;
    for (auto it = fs::directory_iterator("/proc/self/fd"); it != fs::directory_iterator(); ++it) ++n;
    return n;
}

std::time_t mtimeOf(const fs::path& entry) {
    struct stat st;
    if (::lstat(entry.c_str(), &st) != 0) throw std::runtime_error("cannot lstat " + entry.string());
    return st.st_mtim.tv_sec;
}

std::vector<std::string> failurePaths(const Result& r) {
    std::vector<std::string> out;
    for (const auto& f : r.failures) out.push_back(f.path);
    return out;
}

std::vector<std::string> failureReasons(const Result& r) {
    std::vector<std::string> out;
    for (const auto& f : r.failures) out.push_back(f.reason);
    return out;
}

}  // namespace wm::test
