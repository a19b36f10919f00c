#pragma once
// Restore test helpers: an in-memory backup of hand-made (possibly hostile) trees, a scratch
// folder with a restore target and an "outside" beside it, and a listing of everything a
// restore must never change (links not followed).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "core/Error.h"
#include "format/TreeObject.h"
#include "restore/PathSafetyViolation.h"
#include "restore/RestoreBlobSource.h"
#include "restore/RestoreCoordinator.h"
#include "support/TempFolder.h"

namespace wm::test {

struct MissingBlob : wm::Error {
    MissingBlob() : wm::Error("FakeBackup.missingBlob") {}
};

class FakeBackup : public RestoreBlobSource {
public:
    BlobID reserve() {  // a fresh identity holding nothing
        BlobID id;
        std::memcpy(id.bytes.data(), &next_, sizeof next_);
        ++next_, id.bytes[31] = 0xB1;
        return id;
    }
    BlobID add(std::string_view plaintext) {
        const BlobID id = reserve();
        blobs_[id] = bytesOf(plaintext);
        return id;
    }
    BlobID addTree(const std::vector<TreeObject::Entry>& e) { return add(stringOf(TreeObject::encode(e))); }
    void putTree(const BlobID& id, const std::vector<TreeObject::Entry>& e) { blobs_[id] = TreeObject::encode(e); }
    void setRoot(const BlobID& id) { rootBytes = id.data(); }
    Record record(const SnapshotID&) override { return {rootBytes, directories, files, bytesLogical, smallestChunk}; }
    void blob(const BlobID& id, Bytes& buffer) override {
        ++reads;
        if (beforeRead) beforeRead(id);
        const auto found = blobs_.find(id);
        if (found == blobs_.end()) throw MissingBlob();
        buffer.assign(found->second.begin(), found->second.end());
    }

    Bytes rootBytes;
    std::uint64_t directories = 0;                  // the folders the record counts
    std::uint64_t files = 0, bytesLogical = 0;      // and its files and bytes of content
    std::uint64_t smallestChunk = 0;                // the repository's, in bytes
    std::function<void(const BlobID&)> beforeRead;  // lets a test change the disk mid-walk
    int reads = 0;

private:
    std::map<BlobID, Bytes> blobs_;
    std::uint64_t next_ = 1;
};

// Entries owned by root with fixed times, mode 0644 / 0755 (a special file's type as given).
inline TreeObject::Entry specialEntry(std::string_view name, TreeObject::EntryType type, std::uint32_t mode = 0644) {
    TreeObject::Entry e;
    std::tie(e.name, e.entryType, e.mode) = std::tuple(bytesOf(name), type, mode);
    e.modificationTime = {1'600'000'000, 500};
    e.changeTime = {1'600'000'001, 0};
    return e;
}
inline TreeObject::Entry fileEntry(std::string_view name, std::vector<BlobID> content,
                                   std::optional<std::uint64_t> size) {
    auto e = specialEntry(name, TreeObject::EntryType::file, 0100644);
    e.size = size;
    if (!content.empty()) e.contentBlobs = std::move(content);
    return e;
}
inline TreeObject::Entry dirEntry(std::string_view name, std::optional<BlobID> child) {
    auto e = specialEntry(name, TreeObject::EntryType::directory, 040755);
    e.childTree = child;
    return e;
}
inline TreeObject::Entry linkEntry(std::string_view name, std::optional<std::string> target) {
    auto e = specialEntry(name, TreeObject::EntryType::symlink, 0120777);
    if (target) e.symlinkTarget = bytesOf(*target);
    return e;
}
inline TreeObject::Entry linkedEntry(std::string_view name, const BlobID& data, std::uint64_t size,
                                     std::uint64_t group) {
    auto e = fileEntry(name, {data}, size);
    e.hardlinkGroup = group;
    return e;
}

class Sandbox : public TempFolder {
public:
    Sandbox() : TempFolder("wm-restore") {
        std::filesystem::create_directory(target());
        std::filesystem::create_directory(outside());
    }
    std::filesystem::path target() const { return path() / "target"; }
    std::filesystem::path outside() const { return path() / "outside"; }
};

// "mode type size-or-link-target", "" when missing.
inline std::string describe(const std::filesystem::path& entry) {
    struct stat st;
    if (::lstat(entry.c_str(), &st) != 0) return "";
    std::ostringstream d;
    d << std::oct << (st.st_mode & 07777) << std::dec;
    switch (st.st_mode & S_IFMT) {
    case S_IFREG: d << " file " << st.st_size; break;
    case S_IFDIR: d << " dir"; break;
    case S_IFLNK: d << " link " << std::filesystem::read_symlink(entry).string(); break;
    case S_IFIFO: d << " fifo"; break;
    default: d << " other"; break;
    }
    return d.str();
}

// Relative path -> type, mode, owner, size, times, inode, content hash, link target.
inline std::map<std::string, std::string> listTree(const std::filesystem::path& folder, const std::string& skip = "") {
    std::map<std::string, std::string> listing;
    for (auto it = std::filesystem::recursive_directory_iterator(folder); it != decltype(it)(); ++it) {
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

inline int openDescriptors() {
    return static_cast<int>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}));
}
// Of a link itself.
inline std::time_t mtimeOf(const std::filesystem::path& entry) {
    struct stat st;
    if (::lstat(entry.c_str(), &st) != 0) throw std::runtime_error("cannot lstat " + entry.string());
    return st.st_mtim.tv_sec;
}

inline const std::string unsafeName = "that name is not safe to write to disk";
inline std::string failed(const PathSafetyViolation& v) { return std::string("Something went wrong: ") + v.what(); }
inline const std::string damaged = "Part of the backup is damaged and could not be read.";
inline const std::string notWrittenPrefix = "This could not be put back as the backup records it: ";
inline std::string notWritten(const std::string& why) { return notWrittenPrefix + why + "."; }

using Result = RestoreCoordinator::Result;
using Strings = std::vector<std::string>;
inline Strings failures(const Result& r, std::string RestoreResult::Failure::*field) {
    Strings out;
    for (const auto& f : r.failures) out.push_back(f.*field);
    return out;
}
inline Strings failurePaths(const Result& r) { return failures(r, &RestoreResult::Failure::path); }
inline Strings failureReasons(const Result& r) { return failures(r, &RestoreResult::Failure::reason); }
// "files=F hardlinks=H folders=D symlinks=S"
inline std::string counts(const Result& r) {
    return "files=" + std::to_string(r.filesRestored) + " hardlinks=" + std::to_string(r.hardLinksRestored) +
           " folders=" + std::to_string(r.directoriesRestored) + " symlinks=" + std::to_string(r.symlinksRestored);
}

class RestoreFixture : public ::testing::Test {
protected:
    Sandbox box;
    FakeBackup backup;
    Result restore(const RestoreSelection& selection = {}) {
        return RestoreCoordinator().restore(SnapshotID{}, backup, box.target(), selection);
    }
    // With room for `uncounted` entries beyond what the record counts, in place of a million.
    Result restoreAllowing(std::uint64_t uncounted) {
        return RestoreCoordinator(std::nullopt, uncounted).restore(SnapshotID{}, backup, box.target(), {});
    }
};

}  // namespace wm::test
