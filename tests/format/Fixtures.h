#pragma once
// Keys, ciphers and small helpers for the format tests.

#include "crypto/BlobCipher.h"
#include "crypto/RepositoryKeys.h"
#include "crypto/SymmetricKey.h"
#include "support/Thrown.h"

namespace wm::test {

struct Repo {
    RepositoryKeys keys;
    BlobCipher cipher;

    explicit Repo(BlobCipher::Sealing sealing = BlobCipher::Sealing::nonceFromStoredBytes)
        : keys(SymmetricKey::random(), *RepositoryID::fromBytes(SymmetricKey::random().view())),
          cipher(keys, sealing) {}
};

// An identifier of any kind whose bytes all hold fill.
template <class ID = BlobID>
ID blobFilled(std::uint8_t fill) {
    ID id;
    id.bytes.fill(fill);
    return id;
}

}  // namespace wm::test
