#pragma once
// The sealing engine of a repository: blob identities, blob sealing and opening, and the
// sealing of metadata (records, pack directories, index files).
//
// Sealed blob:  nonce (12) | ChaCha20-Poly1305 ciphertext of the compression frame | tag (16)
//   under the "blob" key, additional data = the 32 id bytes followed by the type byte;
//   37 bytes more than the frame body. With Sealing::nonceFromStoredBytes the nonce is
//   fresh and random; with Sealing::fixedNonce (format 1) the stored nonce is 12 zero bytes
//   that are not read, and each blob has its own key,
//   HKDF-SHA256(the "blob" key, salt = the id bytes, info = "wendlemarsh/blob-v1").
// Sealed metadata: nonce (12) | ciphertext | tag (16) under the "metadata" key, no
//   additional data.
//
// Every member is const and may be called from several threads at once; copies share the
// keys. Cipher contexts and scratch buffers are kept per thread.
#include <cstdint>
#include <memory>
#include <string>

#include "core/Bytes.h"
#include "core/Error.h"
#include "core/Identifiers.h"
#include "crypto/BlobCompression.h"
#include "crypto/BlobType.h"
#include "crypto/RepositoryKeys.h"

namespace wm {

class BlobCipherError : public wm::Error {
public:
    enum class Kind {
        truncated,
        authenticationFailed,
        metadataTruncated,
        metadataAuthenticationFailed,
        identityMismatch
    };
    // Shorter than the sealing overhead (37 bytes).
    static BlobCipherError truncated(const BlobID& id);
    // The tag, the identifier or the type does not match.
    static BlobCipherError authenticationFailed(const BlobID& id);
    static BlobCipherError metadataTruncated();
    static BlobCipherError metadataAuthenticationFailed();
    // Sealing with Sealing::fixedNonce was handed an id that is not the plaintext's identity;
    // the key and nonce of that id must never seal other bytes.
    static BlobCipherError identityMismatch(const BlobID& id);

    Kind kind;
    BlobID id;  // truncated, authenticationFailed, identityMismatch

private:
    BlobCipherError(Kind k, const std::string& description) : wm::Error(description), kind(k) {}
};

class BlobCipher {
public:
    enum class Sealing { fixedNonce, nonceFromStoredBytes };

    static constexpr std::size_t nonceSize = 12;
    static constexpr std::size_t tagSize = 16;
    // Nonce, compression header and tag.
    static constexpr std::size_t overhead = 37;
    // Nonce and tag.
    static constexpr std::size_t metadataOverhead = 28;
    static constexpr std::string_view fixedNoncePurpose = "wendlemarsh/blob-v1";

    BlobCipher(const RepositoryKeys& keys, Sealing sealing);
    BlobCipher(std::shared_ptr<const RepositoryKeys> keys, Sealing sealing);

    const RepositoryKeys& keys() const { return *keys_; }
    Sealing sealing() const { return sealing_; }

    // HMAC-SHA256 of the plaintext under the "blob-id" key.
    BlobID identity(ByteView plaintext) const;

    // Frames (compressing when that helps) and seals. Throws BlobCompression::Error::tooLarge
    // above 1 GiB of plaintext, BlobCipherError::identityMismatch (fixedNonce only).
    Bytes seal(ByteView plaintext, const BlobID& id, BlobType type) const;
    // Reverses seal. Throws BlobCipherError::truncated / authenticationFailed, then
    // BlobCompression::Error::unknownMethod / couldNotDecompress. beforeAllocating, when
    // given, is told the plaintext's length before room is made for it: a stored body's
    // size, a compressed body's stated length once the tag verifies and the body agrees.
    Bytes open(ByteView sealed, const BlobID& id, BlobType type,
               const BlobCompression::BeforeAllocating& beforeAllocating = {}) const;

    // Fresh random nonce | ciphertext | tag: 28 bytes more than the plaintext.
    Bytes sealMetadata(ByteView plaintext) const;
    // Throws BlobCipherError::metadataTruncated below 28 bytes and
    // metadataAuthenticationFailed when the tag does not verify.
    Bytes openMetadata(ByteView sealed) const;

private:
    std::shared_ptr<const RepositoryKeys> keys_;
    Sealing sealing_;
};

}  // namespace wm
