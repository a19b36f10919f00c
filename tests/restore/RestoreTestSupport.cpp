#include "restore/RestoreTestSupport.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace wm::test {

namespace fs = std::filesystem;

BlobID FakeBackup::reserve() {
    BlobID id;
    std::uint64_t n = next_++;
    std::memcpy(id.bytes.data(), &n, sizeof n);
    id.bytes[31] = 0xB1;
    return id;
}

BlobID FakeBackup::add(std::string_view plaintext) {
    const BlobID id = reserve();
    blobs_[id] = bytesOf(plaintext);
    return id;
}

void FakeBackup::blob(const BlobID& id, Bytes& buffer) {
    ++reads;
    if (beforeRead) beforeRead(id);
    auto found = blobs_.find(id);
    if (found == blobs_.end()) throw MissingBlob();
    buffer.assign(found->second.begin(), found->second.end());
}

static TreeObject::Entry baseEntry(std::string_view name, TreeObject::EntryType type, std::uint32_t mode) {
    TreeObject::Entry e;
    e.name = bytesOf(name);
    e.entryType = type;
    e.mode = mode;
    e.modificationTime = {1'600'000'000, 500};
    e.changeTime = {1'600'000'001, 0};
    return e;
}

TreeObject::Entry fileEntry(std::string_view name, std::vector<BlobID> content, std::optional<std::uint64_t> size) {
    auto e = baseEntry(name, TreeObject::EntryType::file, 0100644);
    e.size = size;
    if (!content.empty()) e.contentBlobs = std::move(content);
    return e;
}

TreeObject::Entry dirEntry(std::string_view name, std::optional<BlobID> child) {
    auto e = baseEntry(name, TreeObject::EntryType::directory, 040755);
    e.childTree = child;
    return e;
}

TreeObject::Entry linkEntry(std::string_view name, std::optional<std::string> target) {
    auto e = baseEntry(name, TreeObject::EntryType::symlink, 0120777);
    if (target) e.symlinkTarget = bytesOf(*target);
    return e;
}

TreeObject::Entry specialEntry(std::string_view name, TreeObject::EntryType type) {
    return baseEntry(name, type, 0644);
}

TreeObject::Entry linkedEntry(std::string_view name, const BlobID& data, std::uint64_t size, std::uint64_t group) {
    auto e = fileEntry(name, {data}, size);
    e.hardlinkGroup = group;
    return e;
}

Sandbox::Sandbox() : TempFolder("wm-restore") {
    fs::create_directory(target());
    fs::create_directory(outside());
}

std::string describe(const fs::path& entry) {
    struct stat st;
    if (::lstat(entry.c_str(), &st) != 0) return "";
    std::ostringstream d;
    d << std::oct << (st.st_mode & 07777) << std::dec;
    switch (st.st_mode & S_IFMT) {
    case S_IFREG: d << " file " << st.st_size; break;
    case S_IFDIR: d << " dir"; break;
    case S_IFLNK: d << " link " << fs::read_symlink(entry).string(); break;
    case S_IFIFO: d << " fifo"; break;
    default: d << " other"; break;
    }
    return d.str();
}

std::map<std::string, std::string> listTree(const fs::path& folder, const std::string& skip) {
    std::map<std::string, std::string> listing;
    for (auto it = fs::recursive_directory_iterator(folder); it != fs::recursive_directory_iterator(); ++it) {
        const std::string name = it->path().lexically_relative(folder).string();
        struct stat st;
        if (name == skip || ::lstat(it->path().c_str(), &st) != 0) {
            it.disable_recursion_pending();
            continue;
        }
        std::ostringstream d;
        d << describe(it->path()) << " uid " << st.st_uid << " gid " << st.st_gid << " mtime " << st.st_mtim.tv_sec
          << "." << st.st_mtim.tv_nsec << " ino " << st.st_ino << " links " << st.st_nlink;
        if (S_ISREG(st.st_mode))
            d << " content "
              << std::hash<std::string>{}((std::ostringstream() << std::ifstream(it->path()).rdbuf()).str());
        listing[name] = d.str();
    }
    return listing;
}

int openDescriptors() { return static_cast<int>(std::distance(fs::directory_iterator("/proc/self/fd"), {})); }

std::time_t mtimeOf(const fs::path& entry) {
    struct stat st;
    if (::lstat(entry.c_str(), &st) != 0) throw std::runtime_error("cannot lstat " + entry.string());
    return st.st_mtim.tv_sec;
}

static Strings each(const Result& r, std::string RestoreResult::Failure::*field) {
    Strings out;
    for (const auto& f : r.failures) out.push_back(f.*field);
    return out;
}
Strings failurePaths(const Result& r) { return each(r, &RestoreResult::Failure::path); }
Strings failureReasons(const Result& r) { return each(r, &RestoreResult::Failure::reason); }

std::string counts(const Result& r) {
    return "files=" + std::to_string(r.filesRestored) + " hardlinks=" + std::to_string(r.hardLinksRestored) +
           " folders=" + std::to_string(r.directoriesRestored) + " symlinks=" + std::to_string(r.symlinksRestored);
}

}  // namespace wm::test
