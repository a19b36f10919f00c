#include "format/PackReader.h"

#include <algorithm>

#include "crypto/PackHashing.h"
#include "format/RepositoryFormat.h"

namespace wm {

namespace {
constexpr auto kHeader = static_cast<std::size_t>(RepositoryFormat::PackFile::headerBytes);
constexpr auto kTrailer = static_cast<std::size_t>(RepositoryFormat::PackFile::trailerBytes);
}  // namespace

PackReader::PackReader(Bytes bytes, const PackID& expecting, const BlobCipher& cipher)
    : id_(expecting), bytes_(std::move(bytes)), cipher_(cipher) {
    const std::size_t size = bytes_.size();
    if (size < kHeader + kTrailer) throw PackFile::Error::tooSmall(static_cast<std::int64_t>(size));

    const PackID actual = hashPackID(bytes_);
    if (actual != expecting) throw PackFile::Error::hashMismatch(expecting, actual);

    const auto& magic = RepositoryFormat::PackFile::magic;
    if (!std::equal(magic.begin(), magic.end(), bytes_.begin())) throw PackFile::Error::badHeader();

    const auto& endMagic = RepositoryFormat::PackFile::endMagic;
    if (!std::equal(endMagic.begin(), endMagic.end(), bytes_.begin() + static_cast<std::ptrdiff_t>(size - 8)))
        throw PackFile::Error::badTrailer();

    const std::uint8_t* l = bytes_.data() + (size - kTrailer);
    const std::uint32_t directoryLength = static_cast<std::uint32_t>(l[0]) | static_cast<std::uint32_t>(l[1]) << 8 |
                                          static_cast<std::uint32_t>(l[2]) << 16 |
                                          static_cast<std::uint32_t>(l[3]) << 24;
    // Signed 64-bit: size - 12 - L may go below zero and cannot overflow.
    const std::int64_t bodyEnd = static_cast<std::int64_t>(size) - static_cast<std::int64_t>(kTrailer) -
                                 static_cast<std::int64_t>(directoryLength);
    if (bodyEnd < static_cast<std::int64_t>(kHeader))
        throw PackFile::Error::directoryLengthOutOfRange(directoryLength, static_cast<std::int64_t>(size));

    const auto d = static_cast<std::size_t>(bodyEnd);
    const Bytes directory = cipher_.openMetadata(ByteView(bytes_).subspan(d, directoryLength));
    entries_ = PackFile::decodeDirectory(directory, static_cast<std::uint64_t>(bodyEnd));
    index_.reserve(entries_.size());
    for (const auto& e : entries_) index_.emplace(e.id, e);  // keeps the first of duplicates
}

Bytes PackReader::blob(const BlobID& id) const {
    const auto it = index_.find(id);
    if (it == index_.end()) throw PackFile::Error::blobNotPresent(id);
    const PackFile::Entry& e = it->second;
    const auto size = static_cast<std::uint64_t>(bytes_.size());
    if (e.offset < kHeader || e.offset > size || e.length > size - e.offset)
        throw PackFile::Error::blobRangeOutOfBounds(id);
    return cipher_.open(ByteView(bytes_).subspan(static_cast<std::size_t>(e.offset), e.length), e.id, e.type);
}

}  // namespace wm
