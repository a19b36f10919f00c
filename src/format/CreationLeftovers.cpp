#include "format/CreationLeftovers.h"

#include <exception>
#include <string>

#include "core/RepositoryJSON.h"
#include "core/RepositoryLock.h"
#include "crypto/KeyFile.h"
#include "format/DriveReadMe.h"
#include "format/RepositoryConfig.h"
#include "format/RepositoryFormat.h"
#include "format/RepositoryLayout.h"

namespace wm::CreationLeftovers {

namespace {

// Whether the file at path, of at most `limit` bytes, is one `decodes` accepts whole. What is
// not a regular file, is larger, or cannot be read is not.
template <class Decode>
bool decodesWhole(Destination& folder, const RepoPath& path, std::int64_t limit, Decode decodes) {
    try {
        const ObjectOpening there = folder.opening(path, limit);
        if (there.kind != ObjectOpening::Kind::file || there.size > limit) return false;
        if (static_cast<std::int64_t>(there.bytes.size()) != there.size) return false;
        decodes(ByteView(there.bytes));
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

bool isReadMe(Destination& folder, const RepoPath& path, std::string_view line) {
    try {
        const ObjectOpening there = folder.opening(path, DriveReadMe::openingBytes);
        return there.kind == ObjectOpening::Kind::file && DriveReadMe::isOwnFile(line, there.size, there.bytes);
    } catch (const std::exception&) {
        return false;
    }
}

bool isKeyFile(Destination& folder, const RepoPath& path) {
    if (path.parent() != RepositoryLayout::keysDirectory() || !path.fileName().ends_with(RepositoryLayout::keyEnding))
        return false;
    return decodesWhole(folder, path, RepositoryFormat::keyFileMaximumBytes,
                        [](ByteView bytes) { (void)KeyFile::decode(bytes); });
}

// The first entry of one of the repository's folders that a creation does not leave there.
std::optional<RepoPath> firstForeignInside(Destination& folder, const RepoPath& layoutFolder) {
    try {
        // A file, a link, a device at a folder's name is no folder of a repository's.
        const ObjectOpening there = folder.opening(layoutFolder, 0);
        if (there.kind == ObjectOpening::Kind::nothing) return std::nullopt;
        if (there.kind == ObjectOpening::Kind::file) return layoutFolder;
        for (const RepoPath& entry : folder.list(layoutFolder))
            if (!isKeyFile(folder, entry)) return entry;
    } catch (const std::exception&) {
        return layoutFolder;
    }
    return std::nullopt;
}

bool isLayoutFolder(const RepoPath& entry) {
    for (const RepoPath& layoutFolder : RepositoryLayout::requiredDirectories())
        if (entry == layoutFolder) return true;
    return false;
}

// Whether a file at the top is the system's own; nothing when no repository uses its name.
std::optional<bool> isOwnFile(Destination& folder, const RepoPath& entry) {
    if (entry == RepositoryLayout::lockFile())
        return decodesWhole(folder, entry, RepositoryFormat::lockFileMaximumBytes,
                            [](ByteView bytes) { (void)RepositoryLock::fromJSON(RepositoryJSON::decode(bytes)); });
    if (entry == RepositoryLayout::configFile())
        return decodesWhole(folder, entry, RepositoryFormat::configMaximumBytes,
                            [](ByteView bytes) { (void)RepositoryConfig::decode(bytes); });
    if (entry == RepositoryLayout::readMe()) return isReadMe(folder, entry, DriveReadMe::firstLine);
    if (entry == RepositoryLayout::formatDoc()) return isReadMe(folder, entry, DriveReadMe::formatFirstLine);
    return std::nullopt;
}

}  // namespace

std::optional<RepoPath> firstForeignEntry(Destination& folder, OtherNames others) {
    for (const RepoPath& entry : folder.list(RepoPath())) {
        if (entry == RepositoryLayout::tmpDirectory()) continue;
        if (isLayoutFolder(entry)) {
            if (std::optional<RepoPath> foreign = firstForeignInside(folder, entry)) return foreign;
            continue;
        }
        const std::optional<bool> own = isOwnFile(folder, entry);
        if (own ? !*own : others == OtherNames::refused) return entry;
    }
    return std::nullopt;
}

}  // namespace wm::CreationLeftovers
