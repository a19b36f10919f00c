#include "format/PackVerification.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "crypto/PackHashing.h"
#include "format/RepositoryFormat.h"

namespace wm {

namespace {
constexpr std::uint64_t kHeader = static_cast<std::uint64_t>(RepositoryFormat::PackFile::headerBytes);
constexpr std::uint64_t kTrailer = static_cast<std::uint64_t>(RepositoryFormat::PackFile::trailerBytes);
}  // namespace

PackVerifier::PackVerifier(const BlobCipher& cipher, std::size_t pieceBytes, std::size_t tailBytes)
    : cipher_(cipher),
      pieceBytes_(std::max<std::size_t>(pieceBytes, 1)),
      tailBytes_(std::max(tailBytes, std::size_t{kTrailer})) {}

template <class ReadAt>
std::vector<PackFile::Entry> PackVerifier::run(std::uint64_t size, const PackID& expecting, ReadAt&& readAt) {
    bytesRead_ = 0;
    const std::uint64_t tailSize = std::min<std::uint64_t>(size, tailBytes_);
    const std::uint64_t tailStart = size - tailSize;
    tail_.resize(static_cast<std::size_t>(tailSize));
    std::array<std::uint8_t, 4> header{};

    PackHasher hasher;
    for (std::uint64_t at = 0; at < size;) {
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(pieceBytes_, size - at));
        if (buffer_.size() < n) buffer_.resize(n);
        const std::span<std::uint8_t> piece(buffer_.data(), n);
        readAt(at, piece);
        hasher.update(piece);
        if (at < header.size()) {
            const auto k = static_cast<std::size_t>(std::min<std::uint64_t>(header.size() - at, n));
            std::memcpy(header.data() + at, piece.data(), k);
        }
        const std::uint64_t end = at + n;
        if (end > tailStart) {
            const std::uint64_t from = std::max(at, tailStart);
            std::memcpy(tail_.data() + (from - tailStart), piece.data() + (from - at),
                        static_cast<std::size_t>(end - from));
        }
        at = end;
    }
    bytesRead_ = size;

    if (size < kHeader + kTrailer) throw PackFile::Error::tooSmall(static_cast<std::int64_t>(size));
    const PackID actual = hasher.finish();
    if (actual != expecting) throw PackFile::Error::hashMismatch(expecting, actual);

    const auto& magic = RepositoryFormat::PackFile::magic;
    if (!std::equal(magic.begin(), magic.end(), header.begin())) throw PackFile::Error::badHeader();
    const std::uint8_t* trailer = tail_.data() + (tail_.size() - kTrailer);
    const auto& endMagic = RepositoryFormat::PackFile::endMagic;
    if (!std::equal(endMagic.begin(), endMagic.end(), trailer + 4)) throw PackFile::Error::badTrailer();

    const std::uint32_t directoryLength =
        static_cast<std::uint32_t>(trailer[0]) | static_cast<std::uint32_t>(trailer[1]) << 8 |
        static_cast<std::uint32_t>(trailer[2]) << 16 | static_cast<std::uint32_t>(trailer[3]) << 24;
    if (std::uint64_t{directoryLength} + kTrailer + kHeader > size)
        throw PackFile::Error::directoryLengthOutOfRange(directoryLength, static_cast<std::int64_t>(size));
    const std::uint64_t bodyEnd = size - kTrailer - directoryLength;

    Bytes longDirectory;
    ByteView directory;
    if (std::uint64_t{directoryLength} + kTrailer <= tail_.size()) {
        directory = ByteView(tail_).subspan(tail_.size() - kTrailer - directoryLength, directoryLength);
    } else {
        longDirectory.resize(directoryLength);
        readAt(bodyEnd, std::span<std::uint8_t>(longDirectory));
        directory = longDirectory;
    }
    return PackFile::decodeDirectory(cipher_.openMetadata(directory), bodyEnd);
}

std::vector<PackFile::Entry> PackVerifier::check(Destination& destination, const RepoPath& path,
                                                 const PackID& expecting) {
    bytesRead_ = 0;
    const std::optional<std::int64_t> size = destination.size(path);
    if (!size) throw DestinationError::notFound(path);
    return run(static_cast<std::uint64_t>(std::max<std::int64_t>(*size, 0)), expecting,
               [&](std::uint64_t at, std::span<std::uint8_t> out) {
                   destination.readInto(path, static_cast<std::int64_t>(at), out);
               });
}

std::vector<PackFile::Entry> PackVerifier::check(ByteView file, const PackID& expecting) {
    return run(file.size(), expecting, [&](std::uint64_t at, std::span<std::uint8_t> out) {
        std::memcpy(out.data(), file.data() + at, out.size());
    });
}

}  // namespace wm
