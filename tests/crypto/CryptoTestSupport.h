#pragma once
// Shared fixtures of the crypto tests.
#include <string_view>

#include "core/Hex.h"
#include "core/Identifiers.h"
#include "crypto/BlobCipher.h"
#include "crypto/BlobCompression.h"
#include "crypto/ChaChaPoly.h"
#include "crypto/RepositoryKeys.h"
#include "crypto/SymmetricKey.h"
#include "support/Thrown.h"

namespace wm::testing {

inline Bytes hex(std::string_view text) { return *Hex::decode(text); }

using test::thrown;

// A compression frame with any method and stated length around body.
inline Bytes frame(std::uint8_t method, std::uint64_t length, ByteView body) {
    auto header = BlobCompression::encodeHeader(static_cast<BlobCompression::Method>(method), length);
    Bytes f(header.begin(), header.end());
    f.insert(f.end(), body.begin(), body.end());
    return f;
}

// The master key 00 01 .. 1f and the repository ID a0 a1 .. bf of the known-answer vectors.
inline SymmetricKey fixedMaster() {
    return *SymmetricKey::fromBytes(hex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f"));
}

inline RepositoryID fixedRepositoryID() {
    return *RepositoryID::fromBytes(hex("a0a1a2a3a4a5a6a7a8a9aaabacadaeafb0b1b2b3b4b5b6b7b8b9babbbcbdbebf"));
}

inline RepositoryKeys fixedKeys() { return RepositoryKeys(fixedMaster(), fixedRepositoryID()); }

// An authentic format-2 blob holding any frame at all, as only a key holder could make it:
// used to reach the checks that run after authentication.
inline Bytes sealRawFrame(const RepositoryKeys& keys, ByteView frame, const BlobID& id, BlobType type) {
    Bytes nonce(12, 0x33);
    Bytes aad(id.bytes.begin(), id.bytes.end());
    aad.push_back(rawValue(type));
    Bytes body = ChaChaPoly::seal(keys.blobKey.view(), nonce, aad, frame);
    Bytes sealed = nonce;
    sealed.insert(sealed.end(), body.begin(), body.end());
    return sealed;
}

}  // namespace wm::testing
