#pragma once
// The fixed key set the fuzz targets seal and open with, so inputs found by one run stay
// meaningful in the next.
#include "core/Identifiers.h"
#include "crypto/BlobCipher.h"
#include "crypto/RepositoryKeys.h"
#include "crypto/SymmetricKey.h"

namespace wm::fuzz {

inline const RepositoryKeys& fixedKeys() {
    static const RepositoryKeys keys = [] {
        SymmetricKey master;
        master.bytes.fill(0x4D);
        RepositoryID id;
        id.bytes.fill(0x52);
        return RepositoryKeys(master, id);
    }();
    return keys;
}

inline const BlobCipher& fixedCipher() {
    static const BlobCipher cipher(fixedKeys(), BlobCipher::Sealing::nonceFromStoredBytes);
    return cipher;
}

}  // namespace wm::fuzz
