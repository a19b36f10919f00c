#include "SnapshotBrowserFixture.h"

#include <gtest/gtest.h>

#include "core/Unicode.h"

namespace wm::test {

namespace {
Node node(Bytes name, TreeObject::EntryType type, std::uint32_t mode, std::uint32_t nanoseconds) {
    Node n;
    n.entry.name = std::move(name);
    n.entry.entryType = type;
    n.entry.mode = mode;
    n.entry.modificationTime = {1'700'000'000, nanoseconds};
    return n;
}

TreeObject::Entry entryAt(const Repository& repository, BlobID tree, const std::string& path) {
    std::size_t start = 0;
    for (;;) {
        const std::size_t slash = path.find('/', start);
        const std::string name = path.substr(start, slash - start);
        std::optional<TreeObject::Entry> found;
        for (auto& e : TreeObject::decode(repository.blob(tree)))
            if (Unicode::decodeUTF8Repairing(e.name) == name) found = std::move(e);
        if (slash == std::string::npos) return found.value();
        tree = found.value().childTree.value();
        start = slash + 1;
    }
}
}  // namespace

Node Node::file(const std::string& name, std::vector<Bytes> chunks) {
    return rawFile(bytesOf(name), std::move(chunks));
}
Node Node::rawFile(Bytes name, std::vector<Bytes> chunks) {
    Node n = node(std::move(name), TreeObject::EntryType::file, 0100644, 500'000'000);
    n.chunks = std::move(chunks);
    return n;
}
Node Node::folder(const std::string& name, std::vector<Node> children) {
    Node n = node(bytesOf(name), TreeObject::EntryType::directory, 040755, 0);
    n.children = std::move(children);
    return n;
}
Node Node::symlink(const std::string& name, const std::string& target) {
    Node n = node(bytesOf(name), TreeObject::EntryType::symlink, 0120777, 0);
    n.entry.symlinkTarget = bytesOf(target);
    return n;
}

BlobID storeTree(Repository& repository, const std::vector<Node>& entries) {
    std::vector<TreeObject::Entry> encoded;
    for (const Node& node : entries) {
        TreeObject::Entry entry = node.entry;
        if (entry.entryType == TreeObject::EntryType::directory) {
            entry.childTree = storeTree(repository, node.children);
        } else if (entry.entryType == TreeObject::EntryType::file) {
            std::vector<BlobID> blobs;
            std::uint64_t size = 0;
            for (const auto& stored : repository.storeChunks(node.chunks, BlobType::data)) blobs.push_back(stored.id);
            for (const auto& chunk : node.chunks) size += chunk.size();
            if (!blobs.empty()) entry.contentBlobs = blobs;
            if (node.sizeFromChunks) entry.size = size;
        }
        encoded.push_back(std::move(entry));
    }
    return repository.store(TreeObject::encode(encoded), BlobType::tree).id;
}

SnapshotID commitTree(Repository& repository, const std::vector<Node>& entries, Date now) {
    return commitRoot(repository, storeTree(repository, entries), now);
}

PackID packOf(const Repository& repository, const BlobID& blob) {
    return repository.withIndex([&](const CompactIndex& index) { return index.location(blob); }).value().pack;
}

std::vector<BlobID> contentOf(const Repository& repository, const BlobID& root, const std::string& path) {
    return entryAt(repository, root, path).contentBlobs.value_or(std::vector<BlobID>{});
}

BlobID treeOf(const Repository& repository, const BlobID& root, const std::string& path) {
    return entryAt(repository, root, path).childTree.value();
}

BlobID rootOf(const Repository& repository, const SnapshotID& snapshot) {
    return BlobID::fromBytes(repository.snapshot(snapshot).rootTree).value();
}

std::size_t packReads(const FaultyDestination& destination) {
    std::size_t reads = 0;
    for (const auto& call : destination.calls()) {
        const bool reading = call.operation == FaultyDestination::Operation::read ||
                             call.operation == FaultyDestination::Operation::readInto;
        if (reading && call.path.string().starts_with("packs/")) ++reads;
    }
    return reads;
}

}  // namespace wm::test
