#include "format/PackFile.h"
#include "core/ErrorDescription.h"

#include "core/ByteCursor.h"
#include "format/ByteWriter.h"
#include "format/RepositoryFormat.h"

namespace wm::PackFile {

namespace {
ErrorDescription describe(std::string_view caseName) { return {"PackFile.Error", caseName}; }
}  // namespace

Error Error::tooSmall(std::int64_t bytes) {
    Error e(Kind::tooSmall, describe("tooSmall").add("bytes", bytes));
    e.bytes = bytes;
    return e;
}

Error Error::directoryLengthOutOfRange(std::uint32_t length, std::int64_t fileSize) {
    Error e(Kind::directoryLengthOutOfRange,
            describe("directoryLengthOutOfRange").add("", length).add("fileSize", fileSize));
    e.directoryLength = length;
    e.fileSize = fileSize;
    return e;
}

Error Error::hashMismatch(const PackID& expected, const PackID& actual) {
    Error e(Kind::hashMismatch, describe("hashMismatch").add("expected", expected.hex()).add("actual", actual.hex()));
    e.expected = expected;
    e.actual = actual;
    return e;
}

Error Error::blobNotPresent(const BlobID& id) {
    Error e(Kind::blobNotPresent, describe("blobNotPresent").add("", id.hex()));
    e.blob = id;
    return e;
}

Error Error::blobRangeOutOfBounds(const BlobID& id) {
    Error e(Kind::blobRangeOutOfBounds, describe("blobRangeOutOfBounds").add("", id.hex()));
    e.blob = id;
    return e;
}

Error Error::tooLarge(std::int64_t bytes) {
    Error e(Kind::tooLarge, describe("tooLarge").add("bytes", bytes));
    e.bytes = bytes;
    return e;
}

Error Error::badHeader() { return Error(Kind::badHeader, "PackFile.Error.badHeader"); }
Error Error::badTrailer() { return Error(Kind::badTrailer, "PackFile.Error.badTrailer"); }
Error Error::directoryCorrupted() { return Error(Kind::directoryCorrupted, "PackFile.Error.directoryCorrupted"); }

void appendRecord(Bytes& out, const Entry& entry) {
    ByteWriter w(out);
    w.bytes(entry.id.view());
    w.uint8(rawValue(entry.type));
    w.uint64(entry.offset);
    w.uint32(entry.length);
}

Entry takeRecord(ByteCursor& c) {
    Entry e;
    e.id = c.takeBlobID();
    const auto type = blobTypeFromRawValue(c.takeUInt8());
    if (!type) throw ByteCursor::Error::malformed("blobType");
    e.type = *type;
    e.offset = c.takeUInt64();
    e.length = c.takeUInt32();
    return e;
}

Bytes encodeDirectory(const std::vector<Entry>& entries) {
    Bytes out;
    out.reserve(directoryRecordSize * entries.size() + 4);
    ByteWriter(out).uint32(static_cast<std::uint32_t>(entries.size()));
    for (const auto& e : entries) appendRecord(out, e);
    return out;
}

std::vector<Entry> decodeDirectory(ByteView body, std::uint64_t packBodyEnd) {
    const auto header = static_cast<std::uint64_t>(RepositoryFormat::PackFile::headerBytes);
    try {
        ByteCursor c(body);
        const auto count = c.takeBoundedCount(directoryRecordSize, "directoryCount");
        std::vector<Entry> entries;
        entries.reserve(static_cast<std::size_t>(count));
        for (std::int64_t i = 0; i < count; ++i) {
            const Entry e = takeRecord(c);
            // Inside the blob region, with the sum formed so that it cannot overflow.
            if (e.offset < header || e.offset > packBodyEnd || e.length > packBodyEnd - e.offset)
                throw Error::directoryCorrupted();
            entries.push_back(e);
        }
        if (c.remaining() != 0) throw Error::directoryCorrupted();
        return entries;
    } catch (const ByteCursor::Error&) {
        throw Error::directoryCorrupted();
    }
}

}  // namespace wm::PackFile
