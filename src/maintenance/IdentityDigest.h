#pragma once
// The fingerprint of a set of 32-byte identities (the blobs a mark keeps, the packs a copy
// holds): SHA-256 over the identities' raw bytes in ascending byte order, with nothing
// between them. The same set gives the same 32 bytes whatever order it was built in; the
// empty set gives the SHA-256 of empty input.
#include <algorithm>
#include <vector>

#include "core/Bytes.h"
#include "crypto/Digest.h"

namespace wm {

template <class Set>
Bytes identityDigest(const Set& identities) {
    std::vector<typename Set::value_type> sorted(identities.begin(), identities.end());
    std::sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) { return a.bytes < b.bytes; });
    SHA256Stream stream;
    for (const auto& id : sorted) stream.update(id.view());
    const Digest256 digest = stream.finish();
    return Bytes(digest.begin(), digest.end());
}

}  // namespace wm
