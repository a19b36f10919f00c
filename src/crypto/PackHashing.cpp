#include "crypto/PackHashing.h"

namespace wm {

PackID hashPackID(ByteView packBytes) {
    PackID id;
    id.bytes = sha256(packBytes);
    return id;
}

PackID PackHasher::finish() {
    PackID id;
    id.bytes = stream_.finish();
    return id;
}

}  // namespace wm
