#pragma once
// Index files: for a batch of packs, where each of their blobs lies. On disk the body is
// sealed with the metadata key (the caller seals and opens it); the body is
//   u32 section count, then per section: PackID (32), u32 entry count, 45-byte records
// with the record layout of a pack directory.
#include <cstdint>
#include <string>
#include <vector>

#include "core/Bytes.h"
#include "core/Error.h"
#include "core/Identifiers.h"
#include "format/PackFile.h"

namespace wm::IndexFile {

struct Section {
    PackID pack;
    std::vector<PackFile::Entry> entries;
    friend bool operator==(const Section&, const Section&) = default;
};

class Error : public wm::Error {
public:
    enum class Kind { unexpectedTrailingBytes, corrupted };
    static Error unexpectedTrailingBytes(std::int64_t count);
    static Error corrupted();
    Kind kind;
    std::int64_t count = 0;  // unexpectedTrailingBytes

private:
    Error(Kind k, const std::string& description) : wm::Error(description), kind(k) {}
};

// Counts must fit in a u32 (the write path flushes far below that); a larger one is a
// programming error and throws std::length_error.
Bytes encode(const std::vector<Section>& sections);
// Throws IndexFile::Error only: corrupted for anything malformed inside the structure,
// unexpectedTrailingBytes for bytes after a well-formed body.
std::vector<Section> decode(ByteView body);

}  // namespace wm::IndexFile
