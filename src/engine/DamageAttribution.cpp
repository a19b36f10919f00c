#include "engine/DamageAttribution.h"

#include <algorithm>
#include <optional>
#include <unordered_map>
#include <unordered_set>

#include "core/Localization.h"
#include "core/Saturating.h"
#include "core/Unicode.h"
#include "crypto/Digest.h"
#include "engine/DeletedFileSearch.h"
#include "engine/Repository.h"
#include "format/TreeFold.h"
#include "format/TreeObject.h"

namespace wm {

namespace {

using Entries = TreeWalk::Entries;
using Slot = std::size_t;  // a damaged pack's working record, by its place among them

// How many paths below a tree end where a damaged pack costs something.
struct Tally {
    std::int64_t files = 0;     // at a file that lost content
    std::int64_t subtrees = 0;  // at a tree that cannot be read

    void add(const Tally& other) {
        files = saturatingAdd(files, other.files);
        subtrees = saturatingAdd(subtrees, other.subtrees);
    }
};

// What one tree and everything below it yields, relative to the tree. The items are in walk
// order; a child tree with findings of its own is referred to, not copied, so a file deep down
// is recorded once however many folders and snapshots lead to it. The tallies count every path
// below the tree, by record, so that nothing needs to follow the paths to count them.
struct Finding {
    enum class Kind { file, unreadableTree, child };
    Kind kind;
    Slot slot = 0;  // file, unreadableTree
    Bytes name;     // file, child: the entry's name as stored
    BlobID child;   // child
};
struct Findings {
    std::vector<Finding> items;
    std::vector<std::pair<Slot, Tally>> tallies;  // by record, in ascending order; none at 0

    void count(Slot slot, const Tally& tally) {
        auto it = std::lower_bound(tallies.begin(), tallies.end(), slot,
                                   [](const auto& entry, Slot wanted) { return entry.first < wanted; });
        if (it == tallies.end() || it->first != slot) it = tallies.insert(it, {slot, {}});
        it->second.add(tally);
    }
};

class Attribution : public TreeFold<Findings> {
public:
    Attribution(const Repository& repository, std::unordered_map<BlobID, Slot> lost,
                const std::unordered_map<PackID, Slot>& slots)
        : repository_(repository), lost_(std::move(lost)), slots_(slots) {}

private:
    std::optional<Entries> entries(const BlobID& tree) override {
        try {
            return TreeObject::decode(repository_.blob(tree));
        } catch (const std::exception&) {
            return std::nullopt;
        }
    }
    // A tree that cannot be read or decoded is recorded as unreadable under the record of the
    // pack that holds it (nothing when the index has no place for it or its pack is sound).
    Findings unreadable(const BlobID& tree) override {
        const auto location = repository_.withIndex([&](const CompactIndex& index) { return index.location(tree); });
        Findings findings;
        if (!location) return findings;
        const auto slot = slots_.find(location->pack);
        if (slot == slots_.end()) return findings;
        findings.items.push_back({Finding::Kind::unreadableTree, slot->second, {}, {}});
        findings.count(slot->second, {0, 1});
        return findings;
    }
    // What an entry yields in the tree being walked: its child tree's findings, then itself
    // when it is a file that lost content.
    void fold(Findings& findings, const TreeObject::Entry& entry, const Findings* child) override {
        if (child && !child->items.empty()) {
            findings.items.push_back({Finding::Kind::child, 0, entry.name, *entry.childTree});
            for (const auto& [slot, tally] : child->tallies) findings.count(slot, tally);
        }
        if (!entry.contentBlobs) return;
        // A file counts once, under the pack of its first lost blob.
        for (const BlobID& blob : *entry.contentBlobs) {
            const auto it = lost_.find(blob);
            if (it == lost_.end()) continue;
            findings.items.push_back({Finding::Kind::file, it->second, entry.name, {}});
            findings.count(it->second, {1, 0});
            break;
        }
    }

    const Repository& repository_;
    const std::unordered_map<BlobID, Slot> lost_;  // every blob of a damaged pack -> that pack's record
    const std::unordered_map<PackID, Slot>& slots_;
};

std::string joinedWith(const std::vector<std::string>& folder, const Bytes& name) {
    std::string joined = joinedPath(folder);
    if (!folder.empty()) joined += '/';
    joined += Unicode::decodeUTF8Repairing(name);
    return joined;
}

// One distinct snapshot of the head.
struct Traced {
    const Findings* root = nullptr;  // nothing when its record or root tree could not be read
    std::int64_t listings = 0;
    // The first file paths of each record that had room for examples when it was traced, as
    // many as it had room for then: every later listing adds a prefix of them.
    std::vector<std::pair<Slot, std::vector<std::string>>> examples;
};

// Turns what the fold found into the records: counts from the tallies, and the texts (example
// paths and unreadable-subtree phrases) built only while a record has room for them.
class Tracer {
public:
    Tracer(std::vector<Verification::Damage>& records, const Attribution& fold)
        : records_(records), fold_(fold), needs_(records.size()) {}

    // At a snapshot's first listing: the snapshot is named in each record it costs, the paths
    // to unreadable trees are counted, and the texts the records still have room for are built.
    void trace(const SnapshotID& id, Traced& traced) {
        for (const auto& [slot, tally] : traced.root->tallies) {
            Verification::Damage& record = records_[slot];
            record.affectedSnapshots.push_back(id);
            record.unreachableSubtreeCount = saturatingAdd(record.unreachableSubtreeCount, tally.subtrees);
            Need& need = needs_[slot];
            if (tally.files > 0 && record.affectedFiles.size() < Verification::exampleFileLimit) {
                need.files = Verification::exampleFileLimit - record.affectedFiles.size();
                traced.examples.push_back({slot, {}});
            }
            need.phrases = tally.subtrees > 0 && record.unreachableSubtrees.size() < Verification::exampleSubtreeLimit;
            if (need.files > 0 || need.phrases) ++open_;
        }
        for (auto& [slot, paths] : traced.examples) needs_[slot].examples = &paths;
        replay(*traced.root);
        for (const auto& entry : traced.root->tallies) needs_[entry.first] = {};
        open_ = 0;
    }

private:
    struct Need {
        std::size_t files = 0;  // example paths still to build
        bool phrases = false;   // whether the record takes more phrases
        std::vector<std::string>* examples = nullptr;
    };

    void satisfied(Need& need) {
        if (need.files == 0 && !need.phrases) --open_;
    }

    // Follows the paths below the root, in walk order, only as far as they lead to texts a
    // record still needs. A tree reached again under the same path text gives only phrases met
    // before, so the phrases below it are not looked for again.
    void replay(const Findings& root) {
        struct Frame {
            const Findings* findings;
            std::size_t next;
        };
        std::vector<Frame> stack;
        std::vector<std::string> folder;  // names from the root to the innermost frame's tree
        if (worthEntering(root, folder, nullptr)) stack.push_back({&root, 0});
        while (!stack.empty() && open_ > 0) {
            Frame& frame = stack.back();
            if (frame.next == frame.findings->items.size()) {
                stack.pop_back();
                if (!stack.empty()) folder.pop_back();
                continue;
            }
            const Finding& item = frame.findings->items[frame.next++];
            Need& need = needs_[item.slot];
            switch (item.kind) {
            case Finding::Kind::file:
                if (need.files == 0) break;
                need.examples->push_back(joinedWith(folder, item.name));
                --need.files;
                satisfied(need);
                break;
            case Finding::Kind::unreadableTree: {
                if (!need.phrases) break;
                std::string phrase = folder.empty() ? WM_L("everything in this snapshot")
                                                    : WM_L("everything inside %@", joinedPath(folder));
                auto& phrases = records_[item.slot].unreachableSubtrees;
                if (std::find(phrases.begin(), phrases.end(), phrase) == phrases.end())
                    phrases.push_back(std::move(phrase));
                if (phrases.size() >= Verification::exampleSubtreeLimit) {
                    need.phrases = false;
                    satisfied(need);
                }
                break;
            }
            case Finding::Kind::child: {
                const Findings* below = fold_.resultOf(item.child);
                if (!below) break;
                if (!worthEntering(*below, folder, &item.name)) break;
                folder.push_back(Unicode::decodeUTF8Repairing(item.name));
                stack.push_back({below, 0});  // `frame` is not used after this
                break;
            }
            }
        }
    }

    // Whether a tree, the root (no name) or reached through the folder and name, holds a file
    // some record still needs an example of, or an unreadable tree whose phrase some record
    // still needs and that was not looked for below this tree at this path already. Notes the
    // tree and path for the latter. One note serves every record: a record that had tallies of
    // unreadable trees below the tree then either got every phrase below it or was full, and a
    // full record takes no more.
    bool worthEntering(const Findings& tree, const std::vector<std::string>& folder, const Bytes* name) {
        bool files = false, phrases = false;
        for (const auto& [slot, tally] : tree.tallies) {
            const Need& need = needs_[slot];
            if (need.files > 0 && tally.files > 0) files = true;
            if (need.phrases && tally.subtrees > 0) phrases = true;
        }
        const bool unsearched = phrases && searched_.insert(keyOf(tree, folder, name)).second;
        return files || unsearched;
    }
    // The tree's findings, which the fold never moves during the call, by their address; then
    // the digest of the path's text, or for a root of a byte no path text holds. A path text
    // grows with the depth: the digest keeps a deep chain's notes small.
    static std::string keyOf(const Findings& tree, const std::vector<std::string>& folder, const Bytes* name) {
        const Findings* address = &tree;
        std::string key(reinterpret_cast<const char*>(&address), sizeof address);
        const Digest256 digest = sha256(viewOf(name ? joinedWith(folder, *name) : std::string("\xFF")));
        key.append(digest.begin(), digest.end());
        return key;
    }

    std::vector<Verification::Damage>& records_;
    const Attribution& fold_;
    std::vector<Need> needs_;                   // by record, while a snapshot is traced
    std::size_t open_ = 0;                      // records with a need
    std::unordered_set<std::string> searched_;  // trees and path texts looked below for phrases
};

}  // namespace

std::vector<Verification::Damage> attributeDamage(const Repository& repository,
                                                  std::vector<Verification::Damage> damaged) {
    // One working record per pack; a later record for the same pack stands for it.
    std::vector<Verification::Damage> records;
    std::unordered_map<PackID, Slot> slots;
    for (const auto& damage : damaged) {
        const auto [it, added] = slots.try_emplace(damage.pack, records.size());
        if (added)
            records.push_back(damage);
        else
            records[it->second] = damage;
    }
    std::unordered_map<BlobID, Slot> lost;
    repository.withIndex([&](const CompactIndex& index) {
        index.forEach([&](const BlobID& id, const CompactIndex::Location& location) {
            const auto slot = slots.find(location.pack);
            if (slot != slots.end()) lost.emplace(id, slot->second);
        });
    });
    if (lost.empty()) return damaged;

    // Each distinct snapshot's record is read, and its trees walked and traced, once; a
    // snapshot the head lists several times costs its files at every listing.
    Attribution fold(repository, std::move(lost), slots);
    Tracer tracer(records, fold);
    std::unordered_map<SnapshotID, Traced> snapshots;
    for (const SnapshotID& id : repository.snapshotIDs()) {
        const auto [it, first] = snapshots.try_emplace(id);
        Traced& traced = it->second;
        if (first) {
            std::optional<BlobID> root;
            try {
                root = BlobID::fromBytes(repository.snapshot(id).rootTree);
            } catch (const std::exception&) {
                // Unreadable, forged or not this snapshot's record: it contributes nothing.
            }
            if (root) {
                try {
                    fold.walk(*root);
                } catch (const std::exception&) {
                    // The trees finished before the failure keep what they found.
                }
                traced.root = fold.resultOf(*root);
            }
            if (traced.root) tracer.trace(id, traced);
        }
        ++traced.listings;
        // This listing's example paths, while its records have room: the same as the first's.
        std::erase_if(traced.examples, [&](const auto& entry) {
            auto& files = records[entry.first].affectedFiles;
            for (const std::string& path : entry.second) {
                if (files.size() >= Verification::exampleFileLimit) break;
                files.push_back(path);
            }
            return files.size() >= Verification::exampleFileLimit;
        });
    }
    for (const auto& entry : snapshots) {
        const Traced& traced = entry.second;
        if (!traced.root) continue;
        for (const auto& [slot, tally] : traced.root->tallies) {
            auto& count = records[slot].affectedFileCount;
            count = saturatingAdd(count, saturatingMultiply(tally.files, traced.listings));
        }
    }

    for (auto& damage : damaged) damage = records[slots.at(damage.pack)];
    return damaged;
}

}  // namespace wm
