#include "storage/Destination.h"

#include <algorithm>
#include <cstring>

namespace wm {

bool isPendingWriteName(std::string_view name) {
    // Writers name a pending object after a random UUID, in its compact form.
    const std::optional<UUID> uuid = UUID::parse(name);
    return uuid && uuid->compactHex() == name;
}

void Destination::discardPendingWrites(const std::function<void()>& beforeRemoving) {
    std::vector<RepoPath> pending;
    try {
        for (const auto& path : list(RepoPath() / temporaryFolderName)) {
            try {
                // A folder is no pending object, whatever its name.
                if (isPendingWriteName(path.fileName()) && size(path)) pending.push_back(path);
            } catch (const std::exception&) {
                // Left for a later run.
            }
        }
    } catch (const std::exception&) {
        // A temporary folder that cannot be listed: nothing of it is removed.
        return;
    }
    if (pending.empty()) return;
    if (beforeRemoving) beforeRemoving();
    for (const auto& path : pending) {
        try {
            remove(path);
        } catch (const std::exception&) {
            // Left for a later run.
        }
    }
}

ObjectOpening Destination::opening(const RepoPath& path, std::int64_t count) {
    const std::optional<std::int64_t> known = size(path);
    if (!known) return {exists(path) ? ObjectOpening::Kind::other : ObjectOpening::Kind::nothing, 0, {}};
    return {ObjectOpening::Kind::file, *known, read(path, ByteRange{0, std::clamp<std::int64_t>(count, 0, *known)})};
}

void Destination::readInto(const RepoPath& path, std::int64_t offset, std::span<std::uint8_t> out) {
    const auto count = static_cast<std::int64_t>(out.size());
    std::int64_t upper;
    if (__builtin_add_overflow(offset, count, &upper)) {
        // No object reaches that far; only whether there is one at all is left to tell.
        if (!exists(path)) throw DestinationError::notFound(path);
        throw DestinationError::shortRead(path, count, 0);
    }
    Bytes bytes = read(path, ByteRange{offset, upper});
    if (static_cast<std::int64_t>(bytes.size()) != count) {
        throw DestinationError::shortRead(path, count, static_cast<std::int64_t>(bytes.size()));
    }
    if (!bytes.empty()) std::memcpy(out.data(), bytes.data(), bytes.size());
}

std::optional<Bytes> Destination::readAtMost(const RepoPath& path, std::int64_t limit) {
    const std::optional<std::int64_t> known = size(path);
    if (known && *known > limit) return std::nullopt;
    // Only the bytes the size promised: a file that grew meanwhile is not read further.
    Bytes bytes = known ? read(path, ByteRange{0, *known}) : read(path);
    if (static_cast<std::int64_t>(bytes.size()) > limit) return std::nullopt;
    return bytes;
}

}  // namespace wm
