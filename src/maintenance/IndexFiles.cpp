#include "maintenance/IndexFiles.h"

#include "format/RepositoryLayout.h"

namespace wm {

void forEachIndexFile(Destination& destination, const BlobCipher& cipher,
                      const std::function<bool(const std::vector<IndexFile::Section>&)>& body) {
    for (const RepoPath& path : destination.list(RepositoryLayout::indexDirectory())) {
        if (path.isRoot() || !path.fileName().ends_with(RepositoryLayout::indexEnding) || !destination.size(path))
            continue;
        const auto bytes = destination.readAtMost(path, largestIndexFileBytes);
        if (!bytes) continue;
        std::vector<IndexFile::Section> sections;
        try {
            sections = IndexFile::decode(cipher.openMetadata(*bytes));
        } catch (const IndexFile::Error&) {
            continue;
        } catch (const BlobCipherError&) {
            continue;
        }
        if (!body(sections)) return;
    }
}

}  // namespace wm
