// Index file bodies from hostile bytes: decode gives sections that encode back to the same
// bytes, or throws IndexFile::Error; merging them into an index never fails.
#include <cstdint>
#include <cstdlib>

#include "format/CompactIndex.h"
#include "format/IndexFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace wm;
    const ByteView input(data, size);
    try {
        const auto sections = IndexFile::decode(input);
        const Bytes again = IndexFile::encode(sections);
        if (!std::equal(again.begin(), again.end(), input.begin(), input.end())) std::abort();
        CompactIndex index(sections);
        (void)index.packs();
    } catch (const IndexFile::Error&) {
    }
    return 0;
}
