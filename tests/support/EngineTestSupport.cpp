#include "support/EngineTestSupport.h"

#include <cstdlib>
#include <filesystem>
#include <random>

#include "core/Unicode.h"
#include "engine/DeletedFileSearch.h"
#include "format/TreeWalk.h"

namespace wm::test {

namespace {
// The tools these tests run remember head counters in the user's state folder: here, in one
// of the tests' own instead.
const bool toolStateKeptAside = [] {
    const auto folder = std::filesystem::temp_directory_path() / "wm-test-state";
    return ::setenv("XDG_STATE_HOME", folder.c_str(), 1) == 0;
}();

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

RepositoryKeys makeKeys() {
    RepositoryID id;
    const SymmetricKey idBytes = SymmetricKey::random();
    id.bytes = idBytes.bytes;
    return RepositoryKeys(SymmetricKey::random(), id);
}

DeviceID testDevice() {
    DeviceID id;
    for (std::size_t i = 0; i < id.bytes.size(); ++i) id.bytes[i] = static_cast<std::uint8_t>(0xA0 + i);
    return id;
}

Date fixedNow() { return Date::fromMicroseconds(1'765'000'000'123'000); }

Bytes randomBytes(std::size_t size, std::uint64_t seed) {
    Bytes out(size);
    std::mt19937_64 generator(seed * 0x9E3779B97F4A7C15ULL + 1);
    std::size_t i = 0;
    while (i + 8 <= size) {
        const std::uint64_t v = generator();
        for (int b = 0; b < 8; ++b) out[i++] = static_cast<std::uint8_t>(v >> (8 * b));
    }
    while (i < size) out[i++] = static_cast<std::uint8_t>(generator());
    return out;
}

std::shared_ptr<Repository> createRepository(const std::shared_ptr<Destination>& destination,
                                             const RepositoryKeys& keys, std::int64_t formatVersion) {
    return Repository::create(destination, keys, testDevice(), std::string(kAppVersion), std::nullopt, formatVersion,
                              fixedNow());
}

Repository::Opened openRepository(const std::shared_ptr<Destination>& destination, const RepositoryKeys& keys,
                                  Repository::Access access, std::optional<std::uint64_t> remembered) {
    return Repository::open(destination, keys, testDevice(), std::string(kAppVersion), remembered, access);
}

SnapshotID commitRoot(Repository& repository, const BlobID& root, Date now, SnapshotStats stats) {
    Repository::CommitRequest request{root, {SnapshotSource{bytesOf("/source"), SnapshotSource::Kind::folder}}, stats};
    request.deviceName = "test device";
    request.now = now;
    return repository.commit(request);
}

SnapshotID commitFile(Repository& repository, const std::vector<Bytes>& chunks, const std::string& name, Date now) {
    SnapshotStats stats;
    stats.files = 1;
    for (const auto& chunk : chunks) stats.bytesLogical += chunk.size();
    return commitRoot(repository, storeTree(repository, {Node::file(name, chunks)}), now, stats);
}

void forEachEntry(const Repository& repository, const SnapshotID& id,
                  const std::function<void(const TreeObject::Entry&, const std::string& path)>& body) {
    const auto root = BlobID::fromBytes(repository.snapshot(id).rootTree);
    if (!root) throw std::runtime_error("record has no root tree");
    struct Entries : TreeWalk::Visitor {
        const Repository& repository;
        const std::function<void(const TreeObject::Entry&, const std::string&)>& body;
        Entries(const Repository& r, decltype(body) b) : repository(r), body(b) {}
        std::optional<TreeWalk::Entries> read(const BlobID& tree) override {
            return TreeObject::decode(repository.blob(tree));
        }
        TreeWalk::Step visit(const TreeObject::Entry& entry, const TreeWalk& walk) override {
            body(entry, joinedPath(walk.pathTo(entry)));
            return TreeWalk::Step::descend;
        }
    } entries(repository, body);
    TreeWalk::run(*root, entries);
}

std::uint64_t readWhole(const Repository& repository, const SnapshotID& id) {
    std::uint64_t bytes = 0;
    forEachEntry(repository, id, [&](const TreeObject::Entry& entry, const std::string&) {
        for (const auto& blob : entry.contentBlobs.value_or(std::vector<BlobID>{}))
            bytes += repository.blob(blob).size();
    });
    return bytes;
}

std::vector<std::string> filesUnder(InMemoryDestination& destination, const std::string& folder) {
    std::vector<std::string> paths;
    for (const auto& [path, bytes] : destination.files())
        if (path.starts_with(folder + "/")) paths.push_back(path);
    return paths;
}

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
