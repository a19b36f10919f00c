#pragma once
// Restore test helpers: an in-memory backup of hand-made (possibly hostile) trees, a
// scratch folder with a restore target and an "outside" beside it, and a listing of
// everything a restore must never change (links not followed).
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/Bytes.h"
#include "core/Error.h"
#include "core/Identifiers.h"
#include "format/TreeObject.h"
#include "restore/PathSafetyViolation.h"
#include "restore/RestoreBlobSource.h"
#include "restore/RestoreCoordinator.h"

namespace wm::test {

class MissingBlob : public wm::Error {
public:
    MissingBlob() : wm::Error("FakeBackup.missingBlob") {}
};

class FakeBackup : public RestoreBlobSource {
public:
    BlobID reserve();  // a fresh identity holding nothing
    BlobID add(Bytes plaintext);
    BlobID add(std::string_view plaintext) { return add(bytesOf(plaintext)); }
    BlobID addTree(const std::vector<TreeObject::Entry>& entries) { return add(TreeObject::encode(entries)); }
    void putTree(const BlobID& id, const std::vector<TreeObject::Entry>& entries) {
        blobs_[id] = TreeObject::encode(entries);
    }
    void setRoot(const BlobID& id) { rootBytes = id.data(); }
    Bytes rootBytes;

    Bytes rootTree(const SnapshotID&) override { return rootBytes; }
    void blob(const BlobID& id, Bytes& buffer) override;

    std::function<void(const BlobID&)> beforeRead;  // lets a test change the disk mid-walk
    int reads = 0;

private:
    std::map<BlobID, Bytes> blobs_;
    std::uint64_t next_ = 1;
};

// Entries owned by root with fixed times, mode 0644 / 0755.
TreeObject::Entry fileEntry(std::string_view name, std::vector<BlobID> content, std::optional<std::uint64_t> size);
TreeObject::Entry dirEntry(std::string_view name, std::optional<BlobID> child);
TreeObject::Entry linkEntry(std::string_view name, std::optional<std::string> target);
TreeObject::Entry specialEntry(std::string_view name, TreeObject::EntryType type);
TreeObject::Entry linkedEntry(std::string_view name, const BlobID& data, std::uint64_t size, std::uint64_t group);

class Sandbox {
public:
    Sandbox();
    ~Sandbox();
    Sandbox(const Sandbox&) = delete;
    Sandbox& operator=(const Sandbox&) = delete;

    const std::filesystem::path& path() const { return root_; }
    std::filesystem::path target() const { return root_ / "target"; }
    std::filesystem::path outside() const { return root_ / "outside"; }

    static void writeFile(const std::filesystem::path& file, std::string_view contents);
    static std::string readFile(const std::filesystem::path& file);

private:
    std::filesystem::path root_;
};

// Relative path -> type, mode, owner, size, times, inode, content hash, link target.
using TreeListing = std::map<std::string, std::string>;
TreeListing listTree(const std::filesystem::path& folder, const std::string& skip = "");

// "mode type size-or-link-target" of one entry, or "" when missing.
std::string describe(const std::filesystem::path& entry);

int openDescriptors();
std::time_t mtimeOf(const std::filesystem::path& entry);  // lstat, so of a link itself

inline const std::string unsafeName = "that name is not safe to write to disk";
inline const std::string wentWrong = "Something went wrong: ";
inline std::string failed(const PathSafetyViolation& v) { return wentWrong + v.what(); }
// The reason of a file that could not be written as the backup records it.
inline const std::string damaged = "Part of the backup is damaged and could not be read.";
inline const std::string notWrittenPrefix = "This could not be put back as the backup records it: ";
inline std::string notWritten(const std::string& why) { return notWrittenPrefix + why + "."; }

using Result = RestoreCoordinator::Result;
using Strings = std::vector<std::string>;
Strings failurePaths(const Result& r);
std::string counts(const Result& r);  // "files=F hardlinks=H folders=D symlinks=S"
Strings failureReasons(const Result& r);

class RestoreFixture : public ::testing::Test {
protected:
    Sandbox box;
    FakeBackup backup;
    Result restore(const RestoreSelection& selection = {}) {
        return RestoreCoordinator().restore(SnapshotID{}, backup, box.target(), selection);
    }
};

}  // namespace wm::test
