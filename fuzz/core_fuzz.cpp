// Core decoders under libFuzzer: repository JSON (with the lock record and the
// date coding), UTF-8 repair and the bounded byte reader.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/ByteCursor.h"
#include "core/RepositoryJSON.h"
#include "core/RepositoryLock.h"
#include "core/Unicode.h"

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

void dates(std::string_view text) {
    auto d = wm::RepositoryJSON::parseDate(text);
    if (!d) return;
    const wm::Date stored = d->repositoryPrecision();
    auto again = wm::RepositoryJSON::parseDate(wm::RepositoryJSON::dateText(stored));
    check(again && *again == stored);
}

void utf8(wm::ByteView bytes) {
    const std::string repaired = wm::Unicode::decodeUTF8Repairing(bytes);
    check(wm::Unicode::isValidUTF8(wm::viewOf(repaired)));
    check(wm::Unicode::isValidUTF8(bytes) == (repaired == wm::stringOf(bytes)));
}

void json(wm::ByteView bytes) {
    namespace RJ = wm::RepositoryJSON;
    wm::JSON value;
    try {
        value = RJ::decode(bytes);
    } catch (const RJ::DecodingError&) {
        return;
    }
    try {
        wm::RepositoryLock::fromJSON(value);
    } catch (const RJ::DecodingError&) {
    }
    try {
        RJ::decode(RJ::encodeBytes(value, true));
    } catch (const RJ::EncodingError&) {
    }
}

void cursor(wm::ByteView bytes) {
    wm::ByteCursor c(bytes);
    try {
        const std::int64_t n = c.takeBoundedCount(34, "entries");
        for (std::int64_t i = 0; i < n; ++i) {
            c.takeLengthPrefixed16String();
            c.takeBlobID();
        }
        c.takeLengthPrefixed32();
        c.takeUInt64();
    } catch (const wm::ByteCursor::Error&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const wm::ByteView bytes(data, size);
    dates(std::string_view(reinterpret_cast<const char*>(data), size));
    utf8(bytes);
    json(bytes);
    cursor(bytes);
    return 0;
}
