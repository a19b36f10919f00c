#include "format/IndexRebuild.h"

#include "format/PackReader.h"
#include "format/RepositoryLayout.h"

namespace wm {

RepositoryIndex rebuildIndex(Destination& destination, const BlobCipher& cipher) {
    std::vector<IndexFile::Section> sections;
    for (const auto& [id, path] : RepositoryLayout::packPaths(destination)) {
        Bytes bytes = destination.read(path);
        try {
            PackReader reader(std::move(bytes), id, cipher);
            sections.push_back(IndexFile::Section{id, reader.entries()});
        } catch (const PackFile::Error&) {
        } catch (const BlobCipherError&) {
            // A damaged pack contributes nothing; the others are still indexed.
        }
    }
    return RepositoryIndex(sections);
}

}  // namespace wm
