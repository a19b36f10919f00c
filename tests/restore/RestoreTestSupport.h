#pragma once
// Restore test helpers: an in-memory backup of hand-made (possibly hostile) trees, a scratch
// folder with a restore target and an "outside" beside it, and a listing of everything a
// restore must never change (links not followed).
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
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
    BlobID reserve();  // a fresh identity holding nothing
    BlobID add(std::string_view plaintext);
    BlobID addTree(const std::vector<TreeObject::Entry>& e) { return add(stringOf(TreeObject::encode(e))); }
    void putTree(const BlobID& id, const std::vector<TreeObject::Entry>& e) { blobs_[id] = TreeObject::encode(e); }
    void setRoot(const BlobID& id) { rootBytes = id.data(); }
    Bytes rootTree(const SnapshotID&) override { return rootBytes; }
    void blob(const BlobID& id, Bytes& buffer) override;

    Bytes rootBytes;
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

class Sandbox : public TempFolder {
public:
    Sandbox();
    std::filesystem::path target() const { return path() / "target"; }
    std::filesystem::path outside() const { return path() / "outside"; }
};

// Relative path -> type, mode, owner, size, times, inode, content hash, link target.
std::map<std::string, std::string> listTree(const std::filesystem::path& folder, const std::string& skip = "");
std::string describe(const std::filesystem::path& entry);  // "mode type size-or-link-target", "" when missing
int openDescriptors();
std::time_t mtimeOf(const std::filesystem::path& entry);  // of a link itself

inline const std::string unsafeName = "that name is not safe to write to disk";
inline std::string failed(const PathSafetyViolation& v) { return std::string("Something went wrong: ") + v.what(); }
inline const std::string damaged = "Part of the backup is damaged and could not be read.";
inline const std::string notWrittenPrefix = "This could not be put back as the backup records it: ";
inline std::string notWritten(const std::string& why) { return notWrittenPrefix + why + "."; }

using Result = RestoreCoordinator::Result;
using Strings = std::vector<std::string>;
Strings failurePaths(const Result& r);
Strings failureReasons(const Result& r);
std::string counts(const Result& r);  // "files=F hardlinks=H folders=D symlinks=S"

class RestoreFixture : public ::testing::Test {
protected:
    Sandbox box;
    FakeBackup backup;
    Result restore(const RestoreSelection& selection = {}) {
        return RestoreCoordinator().restore(SnapshotID{}, backup, box.target(), selection);
    }
};

}  // namespace wm::test
