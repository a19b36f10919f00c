#include "engine/DamageAttribution.h"

#include <algorithm>
#include <optional>
#include <unordered_map>
#include <unordered_set>

#include "core/Localization.h"
#include "core/Unicode.h"
#include "engine/DeletedFileSearch.h"
#include "engine/Repository.h"
#include "format/TreeFold.h"
#include "format/TreeObject.h"

namespace wm {

namespace {

using Entries = TreeWalk::Entries;

// What one tree and everything below it yields, relative to the tree, in walk order. A
// child tree with findings of its own is referred to, not copied, so a file deep down is
// recorded once however many folders and snapshots lead to it.
struct Finding {
    enum class Kind { file, unreadableTree, child };
    Kind kind;
    PackID pack;       // file, unreadableTree
    std::string name;  // file, child
    BlobID child;      // child
};
using Findings = std::vector<Finding>;

// One snapshot's hits for one pack, in walk order.
struct Hit {
    bool subtree = false;
    std::string text;  // a file's path, or the phrase naming an unreadable subtree
};

class Attribution : public TreeFold<Findings> {
public:
    Attribution(const Repository& repository, std::unordered_map<BlobID, PackID> lost)
        : repository_(repository), lost_(std::move(lost)) {}

    // The hits of the tree at root (a snapshot's root tree), by pack.
    std::unordered_map<PackID, std::vector<Hit>> hits(const BlobID& root) const;

private:
    std::optional<Entries> entries(const BlobID& tree) override {
        try {
            return TreeObject::decode(repository_.blob(tree));
        } catch (const std::exception&) {
            return std::nullopt;
        }
    }
    // A tree that cannot be read or decoded is recorded as unreadable under the pack that
    // holds it (nothing when the index has no place for it).
    Findings unreadable(const BlobID& tree) override {
        const auto location = repository_.withIndex([&](const CompactIndex& index) { return index.location(tree); });
        Findings findings;
        if (location) findings.push_back({Finding::Kind::unreadableTree, location->pack, {}, {}});
        return findings;
    }
    // What an entry yields in the tree being walked: its child tree's findings, then itself
    // when it is a file that lost content.
    void fold(Findings& findings, const TreeObject::Entry& entry, const Findings* child) override {
        const std::string name = Unicode::decodeUTF8Repairing(entry.name);
        if (child && !child->empty()) findings.push_back({Finding::Kind::child, {}, name, *entry.childTree});
        if (entry.contentBlobs) {
            // A file counts once, under the pack of its first lost blob.
            for (const BlobID& blob : *entry.contentBlobs) {
                const auto it = lost_.find(blob);
                if (it == lost_.end()) continue;
                findings.push_back({Finding::Kind::file, it->second, name, {}});
                break;
            }
        }
    }

    const Repository& repository_;
    const std::unordered_map<BlobID, PackID> lost_;  // every blob of a damaged pack -> that pack
};

std::unordered_map<PackID, std::vector<Hit>> Attribution::hits(const BlobID& root) const {
    std::unordered_map<PackID, std::vector<Hit>> hits;
    struct Replay {
        const Findings* findings;
        std::size_t next;
        std::vector<std::string> prefix;
    };
    std::vector<Replay> stack;
    if (const Findings* top = resultOf(root)) stack.push_back({top, 0, {}});
    while (!stack.empty()) {
        Replay& replay = stack.back();
        if (replay.next == replay.findings->size()) {
            stack.pop_back();
            continue;
        }
        const Finding& finding = (*replay.findings)[replay.next++];
        switch (finding.kind) {
        case Finding::Kind::file: {
            std::vector<std::string> path = replay.prefix;
            path.push_back(finding.name);
            hits[finding.pack].push_back({false, joinedPath(path)});
            break;
        }
        case Finding::Kind::unreadableTree: {
            std::string phrase = replay.prefix.empty() ? WM_L("everything in this snapshot")
                                                       : WM_L("everything inside %@", joinedPath(replay.prefix));
            hits[finding.pack].push_back({true, std::move(phrase)});
            break;
        }
        case Finding::Kind::child: {
            const Findings* below = resultOf(finding.child);
            if (!below) break;
            std::vector<std::string> prefix = replay.prefix;
            prefix.push_back(finding.name);
            stack.push_back({below, 0, std::move(prefix)});  // `replay` is not used after this
            break;
        }
        }
    }
    return hits;
}

}  // namespace

std::vector<Verification::Damage> attributeDamage(const Repository& repository,
                                                  std::vector<Verification::Damage> damaged) {
    std::unordered_set<PackID> damagedPacks;
    for (const auto& damage : damaged) damagedPacks.insert(damage.pack);
    std::unordered_map<BlobID, PackID> lost;
    repository.withIndex([&](const CompactIndex& index) {
        index.forEach([&](const BlobID& id, const CompactIndex::Location& location) {
            if (damagedPacks.count(location.pack) != 0) lost.emplace(id, location.pack);
        });
    });
    if (lost.empty()) return damaged;

    // One working record per pack; a later record for the same pack stands for it.
    std::unordered_map<PackID, Verification::Damage> records;
    for (const auto& damage : damaged) records.insert_or_assign(damage.pack, damage);

    Attribution attribution(repository, std::move(lost));
    for (const SnapshotID& snapshot : repository.snapshotIDs()) {
        std::optional<BlobID> root;
        try {
            root = BlobID::fromBytes(repository.snapshot(snapshot).rootTree);
        } catch (const std::exception&) {
            continue;  // unreadable, forged or not this snapshot's record: it contributes nothing
        }
        if (!root) continue;
        try {
            attribution.walk(*root);
        } catch (const std::exception&) {
            // What was found before the failure still counts.
        }
        for (auto& [pack, hits] : attribution.hits(*root)) {
            const auto record = records.find(pack);
            if (record == records.end()) continue;  // a pack that verification found sound
            Verification::Damage& damage = record->second;
            if (std::find(damage.affectedSnapshots.begin(), damage.affectedSnapshots.end(), snapshot) ==
                damage.affectedSnapshots.end())
                damage.affectedSnapshots.push_back(snapshot);
            for (auto& hit : hits) {
                if (hit.subtree) {
                    if (std::find(damage.unreachableSubtrees.begin(), damage.unreachableSubtrees.end(), hit.text) ==
                        damage.unreachableSubtrees.end())
                        damage.unreachableSubtrees.push_back(std::move(hit.text));
                } else {
                    ++damage.affectedFileCount;
                    if (damage.affectedFiles.size() < Verification::exampleFileLimit)
                        damage.affectedFiles.push_back(std::move(hit.text));
                }
            }
        }
    }

    for (auto& damage : damaged) damage = records.at(damage.pack);
    return damaged;
}

}  // namespace wm
