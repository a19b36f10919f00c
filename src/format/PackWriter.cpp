#include "format/PackWriter.h"

#include <limits>

#include "crypto/PackHashing.h"
#include "format/ByteWriter.h"
#include "format/RepositoryFormat.h"

namespace wm {

namespace {
constexpr auto kMaximum = static_cast<std::size_t>(RepositoryFormat::packMaximumBytes);
constexpr auto kHeader = static_cast<std::size_t>(RepositoryFormat::PackFile::headerBytes);
}  // namespace

PackWriter::PackWriter(const BlobCipher& cipher) : cipher_(cipher) {
    body_.reserve(initialCapacity);
    body_.insert(body_.end(), RepositoryFormat::PackFile::magic.begin(), RepositoryFormat::PackFile::magic.end());
    ByteWriter(body_).uint32(PackFile::formatVersion);
}

bool PackWriter::canTake(std::size_t sealedLength) const {
    return sealedLength <= kMaximum && byteCount() <= kMaximum - sealedLength;
}

bool PackWriter::fitsEmptyPack(std::size_t sealedLength) {
    return sealedLength <= std::numeric_limits<std::uint32_t>::max() && sealedLength <= kMaximum - kHeader;
}

bool PackWriter::add(ByteView plaintext, BlobType type) {
    const BlobID id = cipher_.identity(plaintext);
    if (contains(id)) return false;
    const Bytes sealed = cipher_.seal(plaintext, id, type);
    return addSealed(id, type, sealed);
}

bool PackWriter::addSealed(const BlobID& id, BlobType type, ByteView sealed) {
    if (contains(id)) return false;
    if (!canTake(sealed.size())) {
        const std::uint64_t wouldBe = static_cast<std::uint64_t>(byteCount()) + sealed.size();
        throw PackFile::Error::tooLarge(static_cast<std::int64_t>(
            std::min<std::uint64_t>(wouldBe, static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))));
    }
    const auto offset = static_cast<std::uint64_t>(byteCount());
    body_.insert(body_.end(), sealed.begin(), sealed.end());
    try {
        entries_.push_back(PackFile::Entry{id, type, offset, static_cast<std::uint32_t>(sealed.size())});
        try {
            seen_.insert(id);
        } catch (...) {
            entries_.pop_back();
            throw;
        }
    } catch (...) {
        // Out of memory: leave the writer as it was.
        body_.resize(static_cast<std::size_t>(offset));
        throw;
    }
    return true;
}

PackWriter::Finished PackWriter::finish() {
    // Everything that can fail happens before the body is taken, so a writer whose finish
    // threw still holds every blob it accepted and the caller can try again.
    const Bytes directory = cipher_.sealMetadata(PackFile::encodeDirectory(entries_));
    if (directory.size() > std::numeric_limits<std::uint32_t>::max())
        throw PackFile::Error::tooLarge(static_cast<std::int64_t>(directory.size()));
    body_.reserve(body_.size() + directory.size() + static_cast<std::size_t>(RepositoryFormat::PackFile::trailerBytes));
    Bytes bytes = std::move(body_);
    body_.clear();
    bytes.insert(bytes.end(), directory.begin(), directory.end());
    ByteWriter w(bytes);
    w.uint32(static_cast<std::uint32_t>(directory.size()));
    w.bytes(RepositoryFormat::PackFile::endMagic);
    w.uint8(0);
    Finished result;
    result.id = hashPackID(bytes);
    result.bytes = std::move(bytes);
    result.entries = std::move(entries_);
    entries_.clear();
    seen_.clear();
    return result;
}

}  // namespace wm
