#include "engine/PackScan.h"

#include <optional>
#include <string>

#include "core/Hex.h"
#include "engine/PackVerification.h"
#include "format/RepositoryLayout.h"

namespace wm {

namespace {

constexpr std::string_view kPackSuffix = ".pack";

// The pack a file name promises: the hex before the first ".", when the name ends in ".pack".
std::optional<PackID> packIDFromName(const std::string& name) {
    if (name.size() < kPackSuffix.size() ||
        name.compare(name.size() - kPackSuffix.size(), kPackSuffix.size(), kPackSuffix) != 0)
        return std::nullopt;
    const std::size_t start = name.find_first_not_of('.');
    if (start == std::string::npos) return std::nullopt;
    const std::size_t end = name.find('.', start);
    auto bytes = Hex::decode(std::string_view(name).substr(start, end - start));
    if (!bytes) return std::nullopt;
    return PackID::fromBytes(*bytes);
}

}  // namespace

void indexPacks(Destination& destination, const BlobCipher& cipher, CompactIndex& index,
                const std::unordered_set<PackID>& skipping) {
    PackVerifier verifier(cipher);
    for (const RepoPath& folder : destination.list(RepositoryLayout::packsDirectory())) {
        // A plain file in "packs" (left by a desktop or a file system) holds no packs.
        if (destination.size(folder).has_value()) continue;
        for (const RepoPath& path : destination.list(folder)) {
            if (path.isRoot()) continue;
            const auto id = packIDFromName(path.fileName());
            if (!id || skipping.count(*id) != 0) continue;
            // Read in pieces and checked as it streams, as verification does: memory stays
            // bounded whatever the size of the file. Destination errors propagate.
            try {
                index.merge(IndexFile::Section{*id, verifier.check(destination, path, *id)});
            } catch (const PackFile::Error&) {
            } catch (const BlobCipherError&) {
                // A damaged pack contributes nothing; the others are still indexed.
            }
        }
    }
}

}  // namespace wm
