#pragma once
// An in-memory backup for restore tests: blobs served by identity, tree objects
// encoded from hand-made entries (any names, sizes, links or cycles a hostile backup
// could hold), and a hook that runs before each blob read so a test can change the
// disk in the middle of a walk.
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/Bytes.h"
#include "core/Error.h"
#include "core/Identifiers.h"
#include "format/TreeObject.h"
#include "restore/RestoreBlobSource.h"

namespace wm::test {

class MissingBlob : public wm::Error {
public:
    MissingBlob() : wm::Error("FakeBackup.missingBlob") {}
};

class FakeBackup : public RestoreBlobSource {
public:
    // A fresh identity, not yet holding anything.
    BlobID reserve();
    BlobID add(Bytes plaintext);
    BlobID add(std::string_view plaintext) { return add(bytesOf(plaintext)); }
    void put(const BlobID& id, Bytes plaintext) { blobs_[id] = std::move(plaintext); }
    BlobID addTree(const std::vector<TreeObject::Entry>& entries) { return add(TreeObject::encode(entries)); }
    void putTree(const BlobID& id, const std::vector<TreeObject::Entry>& entries) {
        put(id, TreeObject::encode(entries));
    }
    void remove(const BlobID& id) { blobs_.erase(id); }

    // The snapshot's root tree; rootBytes overrides it with any bytes.
    void setRoot(const BlobID& id) { rootBytes = id.data(); }
    Bytes rootBytes;

    Bytes rootTree(const SnapshotID&) override { return rootBytes; }
    void blob(const BlobID& id, Bytes& buffer) override;

    std::function<void(const BlobID&)> beforeRead;
    int reads = 0;

private:
    std::map<BlobID, Bytes> blobs_;
    std::uint64_t next_ = 1;
};

// Entries with the usual defaults: owner root, times fixed, mode 0644 / 0755.
TreeObject::Entry fileEntry(std::string_view name, std::vector<BlobID> content, std::optional<std::uint64_t> size);
TreeObject::Entry dirEntry(std::string_view name, std::optional<BlobID> child);
TreeObject::Entry linkEntry(std::string_view name, std::optional<std::string> target);
TreeObject::Entry specialEntry(std::string_view name, TreeObject::EntryType type);

}  // namespace wm::test
