#include "support/EngineTestSupport.h"

#include <cstdlib>
#include <filesystem>
#include <random>

#include "engine/DeletedFileSearch.h"
#include "format/TreeObject.h"
#include "format/TreeWalk.h"

namespace wm::test {

namespace {
// The tools these tests run remember head counters in the user's state folder: here, in one
// of the tests' own instead.
const bool toolStateKeptAside = [] {
    const auto folder = std::filesystem::temp_directory_path() / "wm-test-state";
    return ::setenv("XDG_STATE_HOME", folder.c_str(), 1) == 0;
}();
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
    TreeObject::Entry entry;
    entry.name = bytesOf(name);
    entry.entryType = TreeObject::EntryType::file;
    entry.mode = 0100644;
    std::uint64_t size = 0;
    for (const auto& chunk : chunks) size += chunk.size();
    entry.size = size;
    entry.contentBlobs.emplace();
    for (const auto& s : repository.storeChunks(chunks, BlobType::data)) entry.contentBlobs->push_back(s.id);
    SnapshotStats stats;
    stats.files = 1;
    stats.bytesLogical = size;
    return commitRoot(repository, repository.store(TreeObject::encode({entry}), BlobType::tree).id, now, stats);
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
    for (const auto& [path, bytes] : destination.files()) {
        if (path.rfind(folder + "/", 0) == 0) paths.push_back(path);
    }
    return paths;
}

}  // namespace wm::test
