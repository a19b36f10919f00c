#include "storage/Destination.h"

#include <cstring>

namespace wm {

void Destination::readInto(const RepoPath& path, std::int64_t offset, std::span<std::uint8_t> out) {
    const auto count = static_cast<std::int64_t>(out.size());
    Bytes bytes = read(path, ByteRange{offset, offset + count});
    if (static_cast<std::int64_t>(bytes.size()) != count) {
        throw DestinationError::shortRead(path, count, static_cast<std::int64_t>(bytes.size()));
    }
    if (!bytes.empty()) std::memcpy(out.data(), bytes.data(), bytes.size());
}

}  // namespace wm
