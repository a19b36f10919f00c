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
    Bytes b(32);
    for (int i = 0; i < 32; ++i) b[i] = static_cast<std::uint8_t>(i);
    return *SymmetricKey::fromBytes(b);
}

inline RepositoryID fixedRepositoryID() {
    Bytes b(32);
    for (int i = 0; i < 32; ++i) b[i] = static_cast<std::uint8_t>(0xa0 + i);
    return *RepositoryID::fromBytes(b);
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
