#include "maintenance/SnapshotNeeds.h"

#include "core/WorkerPool.h"
#include "engine/PackStore.h"
#include "engine/Repository.h"
#include "format/IndexRebuild.h"
#include "format/RepositoryFormat.h"
#include "format/RepositoryLayout.h"
#include "format/SignedFile.h"
#include "format/SnapshotRecord.h"
#include "format/TreeObject.h"
#include "format/TreeWalk.h"

namespace wm {

namespace {

class NeedsWalk : public TreeWalk::Visitor {
public:
    NeedsWalk(const BlobCipher& cipher, const std::vector<BlobSource>& sources, SnapshotNeeds& needs,
              std::unordered_set<BlobID>& walked)
        : cipher_(cipher), sources_(sources), needs_(needs), walked_(walked) {}

    bool whole = true;

    std::optional<TreeWalk::Entries> read(const BlobID& tree) override {
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
        whole = false;
        return std::nullopt;
    }

    TreeWalk::Step visit(const TreeObject::Entry& entry, const TreeWalk&) override {
        if (entry.contentBlobs) {
            for (const BlobID& content : *entry.contentBlobs) {
                needs_.blobs.insert(content);
                if (!held(content)) whole = false;
            }
        }
        if (!entry.childTree || walked_.count(*entry.childTree) != 0) return TreeWalk::Step::next;
        return TreeWalk::Step::descend;
    }

    // Only a tree whose every entry was looked at is not walked again.
    void treeDone(const BlobID& tree) override {
        if (whole) walked_.insert(tree);
    }

private:
    bool held(const BlobID& blob) const {
        for (const BlobSource& source : sources_) {
            if (source.packs.contains(blob)) return true;
        }
        return false;
    }

    const BlobCipher& cipher_;
    const std::vector<BlobSource>& sources_;
    SnapshotNeeds& needs_;
    std::unordered_set<BlobID>& walked_;
};

}  // namespace

SnapshotNeeds findSnapshotNeeds(Destination& records, const std::vector<SnapshotID>& snapshots,
                                const RepositoryKeys& keys, const BlobCipher& cipher,
                                const std::vector<BlobSource>& sources) {
    SnapshotNeeds needs;
    std::unordered_set<BlobID> walked;
    for (const SnapshotID& id : snapshots) {
        std::optional<BlobID> root;
        try {
            const auto record = SignedFile::open<SnapshotRecord>(
                readSignedRecord(records, RepositoryLayout::snapshot(id)), keys, cipher);
            if (record.id == id.value) root = BlobID::fromBytes(record.rootTree);
        } catch (const std::exception&) {
            // Missing, too large or not opening: not whole.
        }
        bool whole = root.has_value();
        if (root && walked.count(*root) == 0) {
            NeedsWalk walk(cipher, sources, needs, walked);
            TreeWalk::run(*root, walk);
            whole = walk.whole;
        }
        if (!whole) needs.notWhole.push_back(id);
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
