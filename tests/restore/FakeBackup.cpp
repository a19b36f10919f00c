#include "restore/FakeBackup.h"

#include <cstring>

namespace wm::test {

BlobID FakeBackup::reserve() {
    BlobID id;
    std::uint64_t n = next_++;
    std::memcpy(id.bytes.data(), &n, sizeof n);
    id.bytes[31] = 0xB1;
    return id;
}

BlobID FakeBackup::add(Bytes plaintext) {
    BlobID id = reserve();
    blobs_[id] = std::move(plaintext);
    return id;
}

void FakeBackup::blob(const BlobID& id, Bytes& buffer) {
    ++reads;
    if (beforeRead) beforeRead(id);
    auto found = blobs_.find(id);
    if (found == blobs_.end()) throw MissingBlob();
    buffer.assign(found->second.begin(), found->second.end());
}

namespace {
TreeObject::Entry baseEntry(std::string_view name, TreeObject::EntryType type, std::uint32_t mode) {
    TreeObject::Entry e;
    e.name = bytesOf(name);
    e.entryType = type;
    e.mode = mode;
    e.modificationTime = {1'600'000'000, 500};
    e.changeTime = {1'600'000'001, 0};
    return e;
}
}  // namespace

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

}  // namespace wm::test
