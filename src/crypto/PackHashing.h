#pragma once
// The identity of a pack file: the SHA-256 of all its bytes.
#include "core/Bytes.h"
#include "core/Identifiers.h"
#include "crypto/Digest.h"

namespace wm {

PackID hashPackID(ByteView packBytes);

// The same identity over a pack given in pieces (verifying a large pack read in ranges).
class PackHasher {
public:
    void update(ByteView piece) { stream_.update(piece); }
    // The identity of everything given so far; the hasher starts again empty afterwards.
    PackID finish();

private:
    SHA256Stream stream_;
};

}  // namespace wm
