#pragma once
// The key set of an open repository, derived from the 256-bit master key and the
// repository identifier. Each purpose key is
//     HKDF-SHA256(ikm = master, salt = repository ID bytes, info = "wendlemarsh/" + purpose)
// for the purposes "blob-id" (blob identities), "blob" (blob sealing), "metadata"
// (records, pack directories, index files) and "signing" (the Ed25519 seed of the key
// that signs records). Only a holder of the master key can make any of them.
#include <string_view>

#include "core/Bytes.h"
#include "core/Identifiers.h"
#include "crypto/Ed25519SigningKey.h"
#include "crypto/SymmetricKey.h"

namespace wm {

struct RepositoryKeys {
    static constexpr std::string_view identityPurpose = "wendlemarsh/blob-id";
    static constexpr std::string_view blobPurpose = "wendlemarsh/blob";
    static constexpr std::string_view metadataPurpose = "wendlemarsh/metadata";
    static constexpr std::string_view signingPurpose = "wendlemarsh/signing";

    RepositoryKeys(const SymmetricKey& master, const RepositoryID& repositoryID);

    // Signature of message by the signing key (64 bytes), and its check.
    Bytes sign(ByteView message) const { return signing.sign(message); }
    bool verify(ByteView message, ByteView signature) const { return signing.verify(message, signature); }

    SymmetricKey master;
    RepositoryID repositoryID;
    SymmetricKey identityKey;   // "blob-id": HMAC key of blob identities
    SymmetricKey blobKey;       // "blob": sealing of blobs
    SymmetricKey metadataKey;   // "metadata": sealing of records, directories and index files
    Ed25519SigningKey signing;  // seed: the "signing" key
};

}  // namespace wm
