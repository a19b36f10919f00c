// What garbage collection asks of a repository: the snapshots retention decides on, the
// bytes each adds to storage, the blobs they reach, the packs on storage, and the removal of
// older marks.
#include <algorithm>
#include <limits>
#include <unordered_map>

#include "core/RetentionEvaluator.h"
#include "core/Saturating.h"
#include "core/WorkerPool.h"
#include "engine/PackStore.h"
#include "engine/Repository.h"
#include "format/PackFile.h"
#include "format/RepositoryLayout.h"
#include "format/SignedFile.h"
#include "format/TreeObject.h"
#include "format/TreeWalk.h"

namespace wm {

namespace {

// Snapshot records are small and each costs a signature check: they are read on a few
// threads, and handed back in the order asked for. A head may list one snapshot many times:
// each distinct record is read once, and what it gave is copied for every listing, so a
// Result is small or a handle to what the listings share.
template <class Result>
std::vector<Result> readRecords(const std::vector<SnapshotID>& ids,
                                const std::function<Result(const SnapshotID&)>& read) {
    std::vector<SnapshotID> distinct;
    std::vector<std::size_t> readAs;  // for each listing, its place in `distinct`
    readAs.reserve(ids.size());
    std::unordered_map<SnapshotID, std::size_t> place;
    for (const SnapshotID& id : ids) {
        const auto [it, first] = place.try_emplace(id, distinct.size());
        if (first) distinct.push_back(id);
        readAs.push_back(it->second);
    }
    std::vector<Result> results;
    results.reserve(distinct.size());
    WorkerPool pool(PackStore::sealingWidth(activeProcessorCount()));
    orderedPipeline<Result>(
        pool, distinct.size(), 64, [&](std::size_t k) { return read(distinct[k]); },
        [&](std::size_t, Result&& r) { results.push_back(std::move(r)); });
    if (distinct.size() == ids.size()) return results;
    std::vector<Result> listed;
    listed.reserve(ids.size());
    for (const std::size_t k : readAs) listed.push_back(results[k]);
    return listed;
}

}  // namespace

std::vector<std::shared_ptr<const Snapshot>> Repository::allSnapshots() const {
    using Shared = std::shared_ptr<const Snapshot>;
    const auto read = [this](const SnapshotID& id) -> Shared {
        std::optional<SnapshotRecord> record;
        try {
            record = snapshot(id);
        } catch (const std::exception&) {
            return nullptr;  // unreadable: neither kept nor given up
        }
        const auto device = DeviceID::fromBytes(record->deviceID);
        const auto root = BlobID::fromBytes(record->rootTree);
        if (!device || !root) return nullptr;
        auto s = std::make_shared<Snapshot>();
        s->id = id;
        s->counter = record->counter;
        s->deviceID = *device;
        s->deviceName = std::move(record->deviceName);
        if (record->parent) s->parent = SnapshotID{*record->parent};
        s->createdAt = record->createdAt;
        s->rootTree = *root;
        s->stats.files = record->stats.files;
        for (const auto& flag : record->flags) {
            if (const auto known = snapshotFlagFromRawValue(flag)) s->flags.insert(*known);
        }
        return s;
    };
    std::vector<Shared> snapshots = readRecords<Shared>(snapshotIDs(), read);
    std::erase(snapshots, nullptr);
    return snapshots;
}

void Repository::collectReachable(const BlobID& tree, std::unordered_set<BlobID>& visited,
                                  const std::function<void(const BlobID&)>& newlyFound) const {
    struct Collector : TreeWalk::Visitor {
        const Repository& repository;
        std::unordered_set<BlobID>& visited;
        const std::function<void(const BlobID&)>& newlyFound;
        Bytes buffer;

        Collector(const Repository& r, std::unordered_set<BlobID>& v, const std::function<void(const BlobID&)>& f)
            : repository(r), visited(v), newlyFound(f) {}
        bool found(const BlobID& id) {
            if (!visited.insert(id).second) return false;
            if (newlyFound) newlyFound(id);
            return true;
        }
        std::optional<TreeWalk::Entries> read(const BlobID& id) override {
            return TreeObject::decode(repository.blob(id, buffer));
        }
        TreeWalk::Step visit(const TreeObject::Entry& entry, const TreeWalk&) override {
            if (entry.contentBlobs) {
                for (const auto& content : *entry.contentBlobs) found(content);
            }
            // A tree already visited is not read again, however many entries name it.
            return entry.childTree && found(*entry.childTree) ? TreeWalk::Step::descend : TreeWalk::Step::next;
        }
    } collector(*this, visited, newlyFound);
    if (collector.found(tree)) TreeWalk::run(tree, collector);
}

std::unordered_set<BlobID> Repository::reachableBlobs(const std::unordered_set<SnapshotID>& snapshots) const {
    const std::vector<SnapshotID> ids(snapshots.begin(), snapshots.end());
    const auto roots = readRecords<BlobID>(ids, [this](const SnapshotID& id) {
        const auto root = BlobID::fromBytes(snapshot(id).rootTree);
        if (!root) throw TreeObject::Error::invalidBlobID();
        return *root;
    });
    return reachableBlobs(roots);
}

std::unordered_set<BlobID> Repository::reachableBlobs(const std::vector<BlobID>& roots) const {
    std::unordered_set<BlobID> visited;
    for (const BlobID& root : roots) collectReachable(root, visited, {});
    return visited;
}

std::unordered_map<PackID, std::int64_t> Repository::packSizesFromIndex() const {
    struct Extent {
        std::int64_t end = 0;
        std::int64_t entries = 0;
    };
    std::unordered_map<PackID, Extent> extents;
    withIndex([&](const CompactIndex& index) {
        index.forEach([&](const BlobID&, const CompactIndex::Location& location) {
            auto& extent = extents[location.pack];
            const auto offset = static_cast<std::int64_t>(
                std::min<std::uint64_t>(location.entry.offset, std::numeric_limits<std::int64_t>::max()));
            extent.end = std::max(extent.end, saturatingAdd(offset, location.entry.length));
            ++extent.entries;
        });
    });
    constexpr std::int64_t framing = 4 + 12 + 16 + 12;  // record count, nonce, tag, trailer
    std::unordered_map<PackID, std::int64_t> sizes;
    for (const auto& [pack, extent] : extents) {
        const std::int64_t directory = extent.entries > std::numeric_limits<std::int64_t>::max() / 45
                                           ? std::numeric_limits<std::int64_t>::max()
                                           : extent.entries * 45;
        sizes.emplace(pack, saturatingAdd(saturatingAdd(extent.end, framing), directory));
    }
    return sizes;
}

StoredSizes Repository::storedSizes(const std::vector<std::shared_ptr<const Snapshot>>& snapshots) const {
    const auto estimates = packSizesFromIndex();
    std::unordered_set<BlobID> visited;
    std::unordered_set<PackID> counted;
    StoredSizes sizes;
    for (const auto& snapshot : RetentionEvaluator::newestFirst(snapshots)) {
        std::int64_t bytes = 0;
        collectReachable(snapshot->rootTree, visited, [&](const BlobID& id) {
            const auto location = withIndex([&](const CompactIndex& index) { return index.location(id); });
            if (!location || !counted.insert(location->pack).second) return;
            const auto estimate = estimates.find(location->pack);
            if (estimate != estimates.end()) bytes = saturatingAdd(bytes, estimate->second);
        });
        sizes.addedBytes[snapshot->id] = bytes;
    }
    return sizes;
}

std::unordered_set<PackID> Repository::presentPackIDs() const {
    std::unordered_set<PackID> present;
    for (const auto& found : RepositoryLayout::packPaths(*destination_)) present.insert(found.id);
    return present;
}

void Repository::removeMarksOtherThan(const UUID& runID, std::int64_t& removed) {
    const RepoPath keep = RepositoryLayout::gcMark(runID);
    std::vector<RepoPath> listed;
    try {
        listed = destination_->list(RepositoryLayout::gcDirectory());
    } catch (const std::exception&) {
        return;
    }
    for (const RepoPath& path : listed) {
        if (path.isRoot() || !path.fileName().ends_with(RepositoryLayout::gcMarkEnding) || path == keep) continue;
        confirmWriting();
        try {
            destination_->remove(path);
            ++removed;
        } catch (const std::exception&) {
            // Left for the next mark or sweep.
        }
    }
}

}  // namespace wm
