// Tree objects from hostile bytes: decode must either give entries that encode back to a
// form that decodes to the same entries, or throw TreeObject::Error.
#include <cstdint>
#include <cstdlib>

#include "format/TreeObject.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace wm;
    try {
        const auto entries = TreeObject::decode(ByteView(data, size));
        if (TreeObject::decode(TreeObject::encode(entries)) != entries) std::abort();
    } catch (const TreeObject::Error&) {
    }
    return 0;
}
