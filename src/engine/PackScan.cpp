#include "engine/PackScan.h"

#include "engine/PackVerification.h"
#include "format/RepositoryLayout.h"

namespace wm {

void indexPacks(Destination& destination, const BlobCipher& cipher, CompactIndex& index,
                const std::unordered_set<PackID>& skipping, std::unordered_map<PackID, RepoPath>* foundAt) {
    PackVerifier verifier(cipher);
    for (const auto& [id, path] : RepositoryLayout::packPaths(destination)) {
        if (skipping.count(id) != 0) continue;
        // Read in pieces and checked as it streams, as verification does: memory stays
        // bounded whatever the size of the file. Destination errors propagate.
        try {
            index.merge(IndexFile::Section{id, verifier.check(destination, path, id)});
            if (foundAt) foundAt->try_emplace(id, path);
        } catch (const PackFile::Error&) {
        } catch (const BlobCipherError&) {
            // A damaged pack contributes nothing; the others are still indexed.
        }
    }
}

}  // namespace wm
