// Which packs a repair from a copy fetches, and indexing them again once they are back.
#include <algorithm>

#include "engine/Repository.h"
#include "format/IndexFile.h"
#include "format/PackVerification.h"
#include "format/RepositoryLayout.h"
#include "maintenance/IndexFiles.h"
#include "maintenance/Replicator.h"
#include "maintenance/SnapshotNeeds.h"

namespace wm {

Replicator::RepairPlan Replicator::planRepair(const Repository& primary, Destination& copy,
                                              const RepositoryKeys& keys) {
    Destination& home = *primary.destination();
    const BlobCipher cipher(keys, BlobCipher::Sealing::nonceFromStoredBytes);
    const CompactIndex own = indexCheckedPacks(home, primary.cipher());
    const CompactIndex theirs = indexCheckedPacks(copy, cipher);
    const SnapshotNeeds needs =
        findSnapshotNeeds(home, primary.snapshotIDs(), keys, primary.cipher(), {{home, own}, {copy, theirs}});

    std::unordered_set<PackID> fetch;
    RepairPlan plan;
    primary.withIndex([&](const CompactIndex& known) {
        for (const BlobID& blob : needs.blobs) {
            if (const auto here = own.location(blob)) {
                if (!known.contains(blob)) plan.indexAgain.push_back(here->pack);
            } else if (const auto there = theirs.location(blob)) {
                fetch.insert(there->pack);
            }
        }
        // A pack the index names that does not check is fetched too, needed now or not.
        const auto checked = own.packs();
        for (const PackID& pack : known.packs()) {
            if (checked.count(pack) == 0) fetch.insert(pack);
        }
    });
    plan.packs.assign(fetch.begin(), fetch.end());
    std::sort(plan.packs.begin(), plan.packs.end(), [](const PackID& a, const PackID& b) { return a.bytes < b.bytes; });
    std::sort(plan.indexAgain.begin(), plan.indexAgain.end(),
              [](const PackID& a, const PackID& b) { return a.bytes < b.bytes; });
    plan.indexAgain.erase(std::unique(plan.indexAgain.begin(), plan.indexAgain.end()), plan.indexAgain.end());
    plan.beyondRepair = needs.notWhole;
    return plan;
}

std::vector<SnapshotID> Replicator::indexAgain(Repository& primary, const std::vector<PackID>& packs) {
    Destination& home = *primary.destination();
    std::vector<IndexFile::Section> sections;
    PackVerifier verifier(primary.cipher());
    std::unordered_set<PackID> seen;
    for (const PackID& pack : packs) {
        if (!seen.insert(pack).second) continue;
        try {
            sections.push_back({pack, verifier.check(home, RepositoryLayout::pack(pack), pack)});
        } catch (const PackFile::Error&) {
        } catch (const BlobCipherError&) {
        }
    }
    // When no index file opens, opening the repository indexes every pack itself, and one new
    // file would hide all the others.
    bool anyIndexFileOpens = false;
    forEachIndexFile(home, primary.cipher(), [&](const std::vector<IndexFile::Section>&) {
        anyIndexFileOpens = true;
        return false;  // one is enough
    });
    if (!sections.empty() && anyIndexFileOpens) {
        primary.addIndexFile(sections);
    }

    // Readable as an opening would read them: through the index, from packs that check.
    const CompactIndex own = indexCheckedPacks(home, primary.cipher());
    std::unordered_map<PackID, std::vector<PackFile::Entry>> agreed;
    primary.withIndex([&](const CompactIndex& known) {
        known.forEach([&](const BlobID& blob, const CompactIndex::Location& location) {
            if (own.location(blob) == location) agreed[location.pack].push_back(location.entry);
        });
    });
    CompactIndex usable;
    for (auto& [pack, entries] : agreed) usable.merge(IndexFile::Section{pack, std::move(entries)});
    return findSnapshotNeeds(home, primary.snapshotIDs(), primary.keys(), primary.cipher(), {{home, usable}}).notWhole;
}

}  // namespace wm
