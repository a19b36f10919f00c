#include "format/TreeObject.h"
#include "core/ErrorDescription.h"

#include <algorithm>
#include <limits>

#include "core/ByteCursor.h"
#include "core/SparseLayout.h"
#include "format/ByteWriter.h"

namespace wm::TreeObject {

namespace {

// Smallest sizes on disk, used to check counts read from the data.
constexpr std::size_t kMinimumEntryBytes = 42;
constexpr std::size_t kMinimumAttributeBytes = 6;
constexpr std::size_t kMinimumRangeBytes = 16;
constexpr std::size_t kMinimumBlobBytes = 32;

constexpr std::size_t kMax16 = std::numeric_limits<std::uint16_t>::max();
constexpr std::size_t kMax32 = std::numeric_limits<std::uint32_t>::max();

ErrorDescription describe(std::string_view caseName) { return {"TreeObject.Error", caseName}; }

static_assert(SparseLayout::maximumHoles == kMax16, "an entry's holes are counted in 16 bits");

// Lengths and counts are checked by checkEncodable before anything is written.
void appendLengthPrefixed16(ByteWriter& w, ByteView bytes) {
    w.uint16(static_cast<std::uint16_t>(bytes.size()));
    w.bytes(bytes);
}

void appendLengthPrefixed32(ByteWriter& w, ByteView bytes) {
    w.uint32(static_cast<std::uint32_t>(bytes.size()));
    w.bytes(bytes);
}

void checkFits(std::size_t size, std::size_t largest, const char* field) {
    if (size > largest) throw Error::fieldTooLarge(field);
}

void appendTimestamp(ByteWriter& w, const Timestamp& t) {
    w.int64(t.seconds);
    w.uint32(t.nanoseconds);
}

void encodeEntry(const Entry& e, ByteWriter& w) {
    checkEncodable(e);
    w.uint16(e.presence().rawValue);
    w.uint8(static_cast<std::uint8_t>(e.entryType));
    w.uint8(static_cast<std::uint8_t>(e.status));
    appendLengthPrefixed16(w, e.name);
    w.uint32(e.mode);
    w.uint32(e.uid);
    w.uint32(e.gid);
    appendTimestamp(w, e.modificationTime);
    appendTimestamp(w, e.changeTime);
    if (e.birthTime) appendTimestamp(w, *e.birthTime);
    if (e.size) w.uint64(*e.size);
    if (e.bsdFlags) w.uint32(*e.bsdFlags);
    if (e.userName) appendLengthPrefixed16(w, viewOf(*e.userName));
    if (e.groupName) appendLengthPrefixed16(w, viewOf(*e.groupName));
    if (e.symlinkTarget) appendLengthPrefixed16(w, *e.symlinkTarget);
    if (e.hardlinkGroup) w.uint64(*e.hardlinkGroup);
    if (e.extendedAttributes) {
        w.uint16(static_cast<std::uint16_t>(e.extendedAttributes->size()));
        for (const auto& a : *e.extendedAttributes) {
            appendLengthPrefixed16(w, a.name);
            appendLengthPrefixed32(w, a.value);
        }
    }
    if (e.acl) appendLengthPrefixed32(w, *e.acl);
    if (e.sparseRanges) {
        w.uint16(static_cast<std::uint16_t>(e.sparseRanges->size()));
        for (const auto& r : *e.sparseRanges) {
            w.uint64(r.offset);
            w.uint64(r.length);
        }
    }
    if (e.contentBlobs) {
        w.uint32(static_cast<std::uint32_t>(e.contentBlobs->size()));
        for (const auto& id : *e.contentBlobs) w.bytes(id.view());
    }
    if (e.childTree) w.bytes(e.childTree->view());
}

Timestamp takeTimestamp(ByteCursor& c) {
    Timestamp t;
    t.seconds = c.takeInt64();
    t.nanoseconds = c.takeUInt32();
    return t;
}

Bytes copy(ByteView v) { return Bytes(v.begin(), v.end()); }

// Room reserved ahead for a checked count. An entry in memory is larger than its smallest
// form on disk, so the reservation is also kept within the size of the data that remains:
// a count that passed its check still cannot make the decoder ask for more memory than
// the input itself takes.
std::size_t reservation(std::int64_t count, std::size_t remaining, std::size_t elementSize) {
    return std::min(static_cast<std::size_t>(count), remaining / elementSize + 1);
}

Entry decodeEntry(ByteCursor& c) {
    const FieldPresence mask{c.takeUInt16()};
    const std::uint8_t typeByte = c.takeUInt8();
    const auto type = entryTypeFromRawValue(typeByte);
    if (!type) throw Error::invalidEntryType(typeByte);
    const std::uint8_t statusByte = c.takeUInt8();
    const auto status = statusFromRawValue(statusByte);
    if (!status) throw Error::invalidStatus(statusByte);

    Entry e;
    e.entryType = *type;
    e.status = *status;
    e.name = copy(c.takeLengthPrefixed16());
    e.mode = c.takeUInt32();
    e.uid = c.takeUInt32();
    e.gid = c.takeUInt32();
    e.modificationTime = takeTimestamp(c);
    e.changeTime = takeTimestamp(c);

    if (mask.contains(FieldPresence::birthTime)) e.birthTime = takeTimestamp(c);
    if (mask.contains(FieldPresence::size)) e.size = c.takeUInt64();
    if (mask.contains(FieldPresence::bsdFlags)) e.bsdFlags = c.takeUInt32();
    if (mask.contains(FieldPresence::userName)) e.userName = c.takeLengthPrefixed16String();
    if (mask.contains(FieldPresence::groupName)) e.groupName = c.takeLengthPrefixed16String();
    if (mask.contains(FieldPresence::symlinkTarget)) e.symlinkTarget = copy(c.takeLengthPrefixed16());
    if (mask.contains(FieldPresence::hardlinkGroup)) e.hardlinkGroup = c.takeUInt64();
    if (mask.contains(FieldPresence::extendedAttributes)) {
        const auto count = c.boundedCount(c.takeUInt16(), kMinimumAttributeBytes, "xattrCount");
        std::vector<ExtendedAttribute> attributes;
        attributes.reserve(reservation(count, c.remaining(), sizeof(ExtendedAttribute)));
        for (std::int64_t i = 0; i < count; ++i) {
            ExtendedAttribute a;
            a.name = copy(c.takeLengthPrefixed16());
            a.value = copy(c.takeLengthPrefixed32());
            attributes.push_back(std::move(a));
        }
        e.extendedAttributes = std::move(attributes);
    }
    if (mask.contains(FieldPresence::acl)) e.acl = copy(c.takeLengthPrefixed32());
    if (mask.contains(FieldPresence::sparseRanges)) {
        const auto count = c.boundedCount(c.takeUInt16(), kMinimumRangeBytes, "sparseRangeCount");
        std::vector<SparseRange> ranges;
        ranges.reserve(static_cast<std::size_t>(count));
        for (std::int64_t i = 0; i < count; ++i) {
            SparseRange r;
            r.offset = c.takeUInt64();
            r.length = c.takeUInt64();
            ranges.push_back(r);
        }
        e.sparseRanges = std::move(ranges);
    }
    if (mask.contains(FieldPresence::contentBlobs)) {
        const auto count = c.takeBoundedCount(kMinimumBlobBytes, "contentBlobCount");
        std::vector<BlobID> blobs;
        blobs.reserve(static_cast<std::size_t>(count));
        for (std::int64_t i = 0; i < count; ++i) blobs.push_back(c.takeBlobID());
        e.contentBlobs = std::move(blobs);
    }
    if (mask.contains(FieldPresence::childTree)) e.childTree = c.takeBlobID();
    // Bits 4096 and up are not defined and not looked at.
    return e;
}

}  // namespace

std::optional<EntryType> entryTypeFromRawValue(std::uint8_t raw) {
    if (raw < 1 || raw > 7) return std::nullopt;
    return static_cast<EntryType>(raw);
}

std::optional<Status> statusFromRawValue(std::uint8_t raw) {
    if (raw > 2) return std::nullopt;
    return static_cast<Status>(raw);
}

FieldPresence Entry::presence() const {
    std::uint16_t bits = 0;
    if (birthTime) bits |= FieldPresence::birthTime;
    if (size) bits |= FieldPresence::size;
    if (bsdFlags) bits |= FieldPresence::bsdFlags;
    if (userName) bits |= FieldPresence::userName;
    if (groupName) bits |= FieldPresence::groupName;
    if (symlinkTarget) bits |= FieldPresence::symlinkTarget;
    if (hardlinkGroup) bits |= FieldPresence::hardlinkGroup;
    if (extendedAttributes) bits |= FieldPresence::extendedAttributes;
    if (acl) bits |= FieldPresence::acl;
    if (sparseRanges) bits |= FieldPresence::sparseRanges;
    if (contentBlobs) bits |= FieldPresence::contentBlobs;
    if (childTree) bits |= FieldPresence::childTree;
    return FieldPresence{bits};
}

Error Error::unexpectedTrailingBytes(std::int64_t count) {
    Error e(Kind::unexpectedTrailingBytes, describe("unexpectedTrailingBytes").add("", count));
    e.count = count;
    return e;
}

Error Error::lengthOutOfRange(std::string field) {
    Error e(Kind::lengthOutOfRange, describe("lengthOutOfRange").quoted("field", field));
    e.field = std::move(field);
    return e;
}

Error Error::invalidEntryType(std::uint8_t byte) {
    Error e(Kind::invalidEntryType, describe("invalidEntryType").add("", byte));
    e.byte = byte;
    return e;
}

Error Error::invalidStatus(std::uint8_t byte) {
    Error e(Kind::invalidStatus, describe("invalidStatus").add("", byte));
    e.byte = byte;
    return e;
}

Error Error::fieldTooLarge(std::string field) {
    Error e(Kind::fieldTooLarge, describe("fieldTooLarge").quoted("field", field));
    e.field = std::move(field);
    return e;
}

Error Error::truncated() { return Error(Kind::truncated, "TreeObject.Error.truncated"); }
Error Error::invalidBlobID() { return Error(Kind::invalidBlobID, "TreeObject.Error.invalidBlobID"); }

void checkEncodable(const Entry& e) {
    checkFits(e.name.size(), kMax16, "name");
    if (e.userName) checkFits(e.userName->size(), kMax16, "userName");
    if (e.groupName) checkFits(e.groupName->size(), kMax16, "groupName");
    if (e.symlinkTarget) checkFits(e.symlinkTarget->size(), kMax16, "symlinkTarget");
    if (e.extendedAttributes) {
        checkFits(e.extendedAttributes->size(), kMax16, "xattrs");
        for (const auto& a : *e.extendedAttributes) {
            checkFits(a.name.size(), kMax16, "xattr name");
            checkFits(a.value.size(), kMax32, "xattr value");
        }
    }
    if (e.acl) checkFits(e.acl->size(), kMax32, "acl");
    if (e.sparseRanges) checkFits(e.sparseRanges->size(), kMax16, "sparseRanges");
    if (e.contentBlobs) checkFits(e.contentBlobs->size(), kMax32, "contentBlobs");
}

Bytes encode(const std::vector<Entry>& entries) {
    if (entries.size() > kMax32) throw Error::fieldTooLarge("entryCount");
    Bytes out;
    ByteWriter w(out);
    w.uint32(static_cast<std::uint32_t>(entries.size()));
    for (const auto& e : entries) encodeEntry(e, w);
    return out;
}

std::vector<Entry> decode(ByteView data) {
    ByteCursor c(data);
    std::vector<Entry> entries;
    try {
        const auto count = c.takeBoundedCount(kMinimumEntryBytes, "entryCount");
        entries.reserve(reservation(count, c.remaining(), sizeof(Entry)));
        for (std::int64_t i = 0; i < count; ++i) entries.push_back(decodeEntry(c));
    } catch (const ByteCursor::Error& e) {
        switch (e.kind) {
        case ByteCursor::Error::Kind::truncated: throw Error::truncated();
        case ByteCursor::Error::Kind::implausibleCount: throw Error::lengthOutOfRange(e.field);
        case ByteCursor::Error::Kind::malformed: throw Error::invalidBlobID();
        }
        throw;
    }
    if (c.remaining() > 0) throw Error::unexpectedTrailingBytes(static_cast<std::int64_t>(c.remaining()));
    return entries;
}

}  // namespace wm::TreeObject
