#include "maintenance/SnapshotNeeds.h"

#include "core/WorkerPool.h"
#include "engine/PackStore.h"
#include "engine/Repository.h"
#include "format/IndexRebuild.h"
#include "format/RepositoryFormat.h"
#include "format/RepositoryLayout.h"
#include "format/SignedFile.h"
#include "format/SnapshotRecord.h"
#include "format/TreeFold.h"
#include "format/TreeObject.h"

namespace wm {

namespace {

// Whether a tree, or anything below it, lacks something: a tree or content blob no source
// holds, or a tree that does not read from any.
struct Lack {
    bool found = false;
};

class NeedsWalk : public TreeFold<Lack> {
public:
    NeedsWalk(const BlobCipher& cipher, const std::vector<BlobSource>& sources, SnapshotNeeds& needs)
        : cipher_(cipher), sources_(sources), needs_(needs) {}

    // Whether the snapshot's trees and blobs read whole: each tree is read and walked at most
    // once per call, whole or not, and what it lacks counts for every snapshot that reaches it.
    bool whole(const BlobID& root) {
        walk(root);
        const Lack* lack = resultOf(root);
        return lack && !lack->found;
    }

private:
    std::optional<TreeWalk::Entries> entries(const BlobID& tree) override {
        needs_.blobs.insert(tree);
        for (const BlobSource& source : sources_) {
            const auto location = source.packs.location(tree);
            if (!location) continue;
            try {
                const auto& entry = location->entry;
                const auto offset = static_cast<std::int64_t>(entry.offset);
                if (entry.offset > static_cast<std::uint64_t>(INT64_MAX - entry.length)) continue;
                const Bytes sealed = source.destination.read(RepositoryLayout::pack(location->pack),
                                                             ByteRange{offset, offset + entry.length});
                return TreeObject::decode(cipher_.open(sealed, tree, entry.type));
            } catch (const std::exception&) {
                // Not readable from this source: the next one is tried.
            }
        }
        return std::nullopt;
    }
    Lack unreadable(const BlobID&) override { return {true}; }
    void fold(Lack& lack, const TreeObject::Entry& entry, const Lack* child) override {
        if (child && child->found) lack.found = true;
        if (!entry.contentBlobs) return;
        for (const BlobID& content : *entry.contentBlobs) {
            needs_.blobs.insert(content);
            if (!held(content)) lack.found = true;
        }
    }

    bool held(const BlobID& blob) const {
        for (const BlobSource& source : sources_) {
            if (source.packs.contains(blob)) return true;
        }
        return false;
    }

    const BlobCipher& cipher_;
    const std::vector<BlobSource>& sources_;
    SnapshotNeeds& needs_;
};

}  // namespace

SnapshotNeeds findSnapshotNeeds(Destination& records, const std::vector<SnapshotID>& snapshots,
                                const RepositoryKeys& keys, const BlobCipher& cipher,
                                const std::vector<BlobSource>& sources) {
    SnapshotNeeds needs;
    NeedsWalk walk(cipher, sources, needs);
    // Each distinct snapshot's record is read once, its answer given for every listing.
    std::unordered_map<SnapshotID, bool> whole;
    for (const SnapshotID& id : snapshots) {
        const auto [known, first] = whole.try_emplace(id, false);
        if (first) {
            std::optional<BlobID> root;
            try {
                const auto record = SignedFile::open<SnapshotRecord>(
                    readSignedRecord(records, RepositoryLayout::snapshot(id)), keys, cipher);
                if (record.id == id.value) root = BlobID::fromBytes(record.rootTree);
            } catch (const std::exception&) {
                // Missing, too large or not opening: not whole.
            }
            known->second = root && walk.whole(*root);
        }
        if (!known->second) needs.notWhole.push_back(id);
    }
    return needs;
}

void indexCheckedPacks(Destination& destination, const BlobCipher& cipher, CompactIndex& index,
                       std::unordered_map<PackID, RepoPath>* foundAt) {
    std::unordered_set<PackID> oversized;
    for (const auto& found : RepositoryLayout::packPaths(destination)) {
        const auto size = destination.size(found.path);
        if (size && *size > RepositoryFormat::packMaximumBytes) oversized.insert(found.id);
    }
    WorkerPool pool(PackStore::sealingWidth(activeProcessorCount()));
    indexPacks(destination, cipher, index, oversized, foundAt, &pool);
}

CompactIndex indexCheckedPacks(Destination& destination, const BlobCipher& cipher) {
    CompactIndex index;
    indexCheckedPacks(destination, cipher, index);
    return index;
}

}  // namespace wm
