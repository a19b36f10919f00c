#include "core/ByteCursor.h"

#include "core/ErrorDescription.h"
#include "core/Unicode.h"

namespace wm {

namespace {
ErrorDescription describe(std::string_view caseName) { return {"ByteCursor.Error", caseName}; }
}  // namespace

ByteCursor::Error ByteCursor::Error::truncated(std::int64_t needed, std::int64_t remaining) {
    Error e(Kind::truncated, describe("truncated").add("needed", needed).add("remaining", remaining));
    e.needed = needed;
    e.remaining = remaining;
    return e;
}

ByteCursor::Error ByteCursor::Error::implausibleCount(std::string field, std::int64_t claimed) {
    Error e(Kind::implausibleCount, describe("implausibleCount").quoted("field", field).add("claimed", claimed));
    e.field = std::move(field);
    e.claimed = claimed;
    return e;
}

ByteCursor::Error ByteCursor::Error::malformed(std::string field) {
    Error e(Kind::malformed, describe("malformed").quoted("field", field));
    e.field = std::move(field);
    return e;
}

void ByteCursor::need(std::size_t count) const {
    if (count > remaining())
        throw Error::truncated(static_cast<std::int64_t>(count), static_cast<std::int64_t>(remaining()));
}

std::uint8_t ByteCursor::takeUInt8() {
    need(1);
    return data_[offset_++];
}

std::uint16_t ByteCursor::takeUInt16() {
    need(2);
    std::uint16_t v = static_cast<std::uint16_t>(data_[offset_] | data_[offset_ + 1] << 8);
    offset_ += 2;
    return v;
}

std::uint32_t ByteCursor::takeUInt32() {
    need(4);
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | data_[offset_ + static_cast<std::size_t>(i)];
    offset_ += 4;
    return v;
}

std::uint64_t ByteCursor::takeUInt64() {
    need(8);
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = v << 8 | data_[offset_ + static_cast<std::size_t>(i)];
    offset_ += 8;
    return v;
}

std::int64_t ByteCursor::takeInt64() { return static_cast<std::int64_t>(takeUInt64()); }

ByteView ByteCursor::takeBytes(std::size_t count) {
    need(count);
    ByteView v = data_.subspan(offset_, count);
    offset_ += count;
    return v;
}

ByteView ByteCursor::takeLengthPrefixed16() {
    std::size_t start = offset_;
    std::uint16_t length = takeUInt16();
    if (length > remaining()) {
        // Report what follows the length field, then leave the cursor where it was.
        const auto available = static_cast<std::int64_t>(remaining());
        offset_ = start;
        throw Error::truncated(length, available);
    }
    return takeBytes(length);
}

ByteView ByteCursor::takeLengthPrefixed32() {
    std::size_t start = offset_;
    std::uint32_t length = takeUInt32();
    if (length > remaining()) {
        // Report what follows the length field, then leave the cursor where it was.
        const auto available = static_cast<std::int64_t>(remaining());
        offset_ = start;
        throw Error::truncated(length, available);
    }
    return takeBytes(length);
}

std::string ByteCursor::takeLengthPrefixed16String() { return Unicode::decodeUTF8Repairing(takeLengthPrefixed16()); }

std::int64_t ByteCursor::boundedCount(std::uint64_t count, std::size_t minimumElementBytes,
                                      const std::string& field) const {
    std::int64_t claimed = count > static_cast<std::uint64_t>(INT64_MAX) ? INT64_MAX : static_cast<std::int64_t>(count);
    if (minimumElementBytes == 0 || remaining() / minimumElementBytes < count)
        throw Error::implausibleCount(field, claimed);
    return claimed;
}

std::int64_t ByteCursor::takeBoundedCount(std::size_t minimumElementBytes, const std::string& field) {
    std::uint32_t count = takeUInt32();
    return boundedCount(count, minimumElementBytes, field);
}

BlobID ByteCursor::takeBlobID() {
    auto id = BlobID::fromBytes(takeBytes(32));
    if (!id) throw Error::malformed("blobID");
    return *id;
}

PackID ByteCursor::takePackID() {
    auto id = PackID::fromBytes(takeBytes(32));
    if (!id) throw Error::malformed("packID");
    return *id;
}

}  // namespace wm
