#include "format/IndexRebuild.h"

#include "core/Hex.h"
#include "format/PackReader.h"
#include "format/RepositoryLayout.h"

namespace wm {

namespace {

constexpr std::string_view kPackSuffix = ".pack";

// The PackID a file name promises: the hex before the first ".", when the name ends in
// ".pack".
std::optional<PackID> packIDFromName(const std::string& name) {
    if (name.size() < kPackSuffix.size() || name.compare(name.size() - kPackSuffix.size(), kPackSuffix.size(), kPackSuffix) != 0)
        return std::nullopt;
    const std::size_t start = name.find_first_not_of('.');
    if (start == std::string::npos) return std::nullopt;
    const std::size_t end = name.find('.', start);
    auto bytes = Hex::decode(std::string_view(name).substr(start, end - start));
    if (!bytes) return std::nullopt;
    return PackID::fromBytes(*bytes);
}

// The entries of one fan-out folder. Something in "packs" that is a plain file (left
// there by a desktop or a file system) cannot be listed; it holds no packs and is passed
// over. A folder that cannot be listed is a real failure and propagates.
std::optional<std::vector<RepoPath>> listFanOut(Destination& destination, const RepoPath& folder) {
    try {
        return destination.list(folder);
    } catch (const DestinationError&) {
        std::optional<std::int64_t> size;
        try {
            size = destination.size(folder);
        } catch (const DestinationError&) {
        }
        if (size) return std::nullopt;  // a file, not a folder
        throw;
    }
}

}  // namespace

RepositoryIndex rebuildIndex(Destination& destination, const BlobCipher& cipher) {
    std::vector<IndexFile::Section> sections;
    for (const RepoPath& folder : destination.list(RepositoryLayout::packsDirectory())) {
        const auto entries = listFanOut(destination, folder);
        if (!entries) continue;
        for (const RepoPath& path : *entries) {
            if (path.isRoot()) continue;
            const auto id = packIDFromName(path.fileName());
            if (!id) continue;
            Bytes bytes = destination.read(path);
            try {
                PackReader reader(std::move(bytes), *id, cipher);
                sections.push_back(IndexFile::Section{*id, reader.entries()});
            } catch (const PackFile::Error&) {
            } catch (const BlobCipherError&) {
                // A damaged pack contributes nothing; the others are still indexed.
            }
        }
    }
    return RepositoryIndex(sections);
}

}  // namespace wm
