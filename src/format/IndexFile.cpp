#include "format/IndexFile.h"
#include "core/ErrorDescription.h"

#include <limits>
#include <stdexcept>

#include "core/ByteCursor.h"
#include "format/ByteWriter.h"

namespace wm::IndexFile {

namespace {
constexpr std::size_t kMinimumSectionBytes = 36;  // a pack id and an entry count

std::uint32_t checkedCount(std::size_t n) {
    if (n > std::numeric_limits<std::uint32_t>::max()) throw std::length_error("index file count does not fit 32 bits");
    return static_cast<std::uint32_t>(n);
}
}  // namespace

Error Error::unexpectedTrailingBytes(std::int64_t count) {
    Error e(Kind::unexpectedTrailingBytes,
            ErrorDescription("IndexFile.Error", "unexpectedTrailingBytes").add("", count));
    e.count = count;
    return e;
}

Error Error::corrupted() { return Error(Kind::corrupted, "IndexFile.Error.corrupted"); }

Bytes encode(const std::vector<Section>& sections) {
    Bytes out;
    ByteWriter w(out);
    w.uint32(checkedCount(sections.size()));
    for (const auto& s : sections) {
        w.bytes(s.pack.view());
        w.uint32(checkedCount(s.entries.size()));
        for (const auto& e : s.entries) PackFile::appendRecord(out, e);
    }
    return out;
}

std::vector<Section> decode(ByteView body) {
    ByteCursor c(body);
    std::vector<Section> sections;
    try {
        const auto sectionCount = c.takeBoundedCount(kMinimumSectionBytes, "sectionCount");
        sections.reserve(static_cast<std::size_t>(sectionCount));
        for (std::int64_t s = 0; s < sectionCount; ++s) {
            Section section;
            section.pack = c.takePackID();
            const auto entryCount = c.takeBoundedCount(PackFile::directoryRecordSize, "entryCount");
            section.entries.reserve(static_cast<std::size_t>(entryCount));
            for (std::int64_t i = 0; i < entryCount; ++i) section.entries.push_back(PackFile::takeRecord(c));
            sections.push_back(std::move(section));
        }
    } catch (const ByteCursor::Error&) {
        throw Error::corrupted();
    }
    if (c.remaining() != 0) throw Error::unexpectedTrailingBytes(static_cast<std::int64_t>(c.remaining()));
    return sections;
}

}  // namespace wm::IndexFile
