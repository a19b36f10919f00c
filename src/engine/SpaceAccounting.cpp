#include "engine/SpaceAccounting.h"

#include "engine/Repository.h"
#include "format/RepositoryLayout.h"

namespace wm {

namespace {

std::int64_t sizeUnder(Destination& destination, const RepoPath& folder, int depth) {
    if (depth >= 3) return 0;
    std::int64_t total = 0;
    for (const RepoPath& entry : destination.list(folder)) {
        std::vector<RepoPath> inside;
        try {
            inside = destination.list(entry);
        } catch (const std::exception&) {
            // Not something that lists: measured as a file.
        }
        if (!inside.empty()) {
            total += sizeUnder(destination, entry, depth + 1);
        } else {
            total += destination.size(entry).value_or(0);
        }
    }
    return total;
}

}  // namespace

std::int64_t storedBytes(const Repository& repository) {
    Destination& destination = *repository.destination();
    return sizeUnder(destination, RepositoryLayout::packsDirectory(), 0) +
           sizeUnder(destination, RepositoryLayout::indexDirectory(), 0) +
           sizeUnder(destination, RepositoryLayout::snapshotsDirectory(), 0);
}

std::optional<std::int64_t> freeSpaceAtPrimary(const Repository& repository) {
    return repository.destination()->freeSpace();
}

}  // namespace wm
