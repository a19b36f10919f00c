#pragma once
// Bounds-checked little-endian reader: the reader of every binary format.
#include <cstdint>
#include <string>

#include "core/Bytes.h"
#include "core/Error.h"
#include "core/Identifiers.h"

namespace wm {

class ByteCursor {
public:
    class Error : public wm::Error {
    public:
        enum class Kind { truncated, implausibleCount, malformed };
        static Error truncated(std::int64_t needed, std::int64_t remaining);
        static Error implausibleCount(std::string field, std::int64_t claimed);
        static Error malformed(std::string field);

        Kind kind;
        std::int64_t needed = 0;     // truncated
        std::int64_t remaining = 0;  // truncated
        std::string field;           // implausibleCount, malformed
        std::int64_t claimed = 0;    // implausibleCount

    private:
        Error(Kind k, const std::string& description) : wm::Error(description), kind(k) {}
    };

    explicit ByteCursor(ByteView data) : data_(data) {}

    ByteView data() const { return data_; }
    std::size_t offset() const { return offset_; }
    std::size_t remaining() const { return data_.size() - offset_; }

    std::uint8_t takeUInt8();
    std::uint16_t takeUInt16();
    std::uint32_t takeUInt32();
    std::uint64_t takeUInt64();
    std::int64_t takeInt64();
    // A view into the underlying buffer; valid as long as it is.
    ByteView takeBytes(std::size_t count);
    ByteView takeLengthPrefixed16();
    ByteView takeLengthPrefixed32();
    // UTF-8 with repair: each ill-formed sequence becomes U+FFFD.
    std::string takeLengthPrefixed16String();

    // Accepts count when minimumElementBytes > 0 and remaining / minimumElementBytes >= count.
    std::int64_t boundedCount(std::uint64_t count, std::size_t minimumElementBytes, const std::string& field) const;
    std::int64_t takeBoundedCount(std::size_t minimumElementBytes, const std::string& field);

    BlobID takeBlobID();
    PackID takePackID();

private:
    void need(std::size_t count) const;
    ByteView data_;
    std::size_t offset_ = 0;
};

}  // namespace wm
