#include "crypto/BlobCipher.h"
#include "core/ErrorDescription.h"

#include <openssl/crypto.h>

#include <array>
#include <cstring>

#include "crypto/BlobCompression.h"
#include "crypto/ChaChaPoly.h"
#include "crypto/Digest.h"
#include "crypto/KeyDerivation.h"
#include "crypto/SecureRandom.h"

namespace wm {

namespace {

using AdditionalData = std::array<std::uint8_t, 33>;

AdditionalData additionalData(const BlobID& id, BlobType type) {
    AdditionalData aad;
    std::memcpy(aad.data(), id.bytes.data(), 32);
    aad[32] = rawValue(type);
    return aad;
}

// Holds the compressed body while sealing and opening; kept per thread so that steady
// sealing does not allocate, and given back when one large blob made it big.
constexpr std::size_t scratchKeepLimit = 8u << 20;

Bytes& threadScratch() {
    thread_local Bytes scratch;
    return scratch;
}

void trimScratch(Bytes& scratch) {
    if (scratch.capacity() > scratchKeepLimit) Bytes().swap(scratch);
}

}  // namespace

BlobCipherError BlobCipherError::truncated(const BlobID& id) {
    BlobCipherError e(Kind::truncated, ErrorDescription("BlobCipherError", "truncated").add("", id.hex()));
    e.id = id;
    return e;
}

BlobCipherError BlobCipherError::authenticationFailed(const BlobID& id) {
    BlobCipherError e(Kind::authenticationFailed,
                      ErrorDescription("BlobCipherError", "authenticationFailed").add("", id.hex()));
    e.id = id;
    return e;
}

BlobCipherError BlobCipherError::metadataTruncated() {
    return BlobCipherError(Kind::metadataTruncated, "BlobCipherError.metadataTruncated");
}

BlobCipherError BlobCipherError::metadataAuthenticationFailed() {
    return BlobCipherError(Kind::metadataAuthenticationFailed, "BlobCipherError.metadataAuthenticationFailed");
}

BlobCipherError BlobCipherError::identityMismatch(const BlobID& id) {
    BlobCipherError e(Kind::identityMismatch,
                      ErrorDescription("BlobCipherError", "identityMismatch").add("", id.hex()));
    e.id = id;
    return e;
}

BlobCipher::BlobCipher(const RepositoryKeys& keys, Sealing sealing)
    : keys_(std::make_shared<const RepositoryKeys>(keys)), sealing_(sealing) {}

BlobCipher::BlobCipher(std::shared_ptr<const RepositoryKeys> keys, Sealing sealing)
    : keys_(std::move(keys)), sealing_(sealing) {}

BlobID BlobCipher::identity(ByteView plaintext) const {
    Digest256 mac = hmacSHA256(keys_->identityKey.view(), plaintext);
    BlobID id;
    id.bytes = mac;
    return id;
}

Bytes BlobCipher::seal(ByteView plaintext, const BlobID& id, BlobType type) const {
    BlobCompression::checkSealable(plaintext.size());
    SymmetricKey blobOwnKey;
    ByteView key = keys_->blobKey.view();
    if (sealing_ == Sealing::fixedNonce) {
        if (identity(plaintext) != id) throw BlobCipherError::identityMismatch(id);
        blobOwnKey = KeyDerivation::hkdfKey(keys_->blobKey.view(), id.view(), fixedNoncePurpose);
        key = blobOwnKey.view();
    }

    Bytes& scratch = threadScratch();
    bool compressed = BlobCompression::compressIfSmaller(plaintext, scratch);
    ByteView body = compressed ? ByteView(scratch) : plaintext;
    auto header = BlobCompression::encodeHeader(
        compressed ? BlobCompression::Method::lzfse : BlobCompression::Method::stored, plaintext.size());

    Bytes sealed(nonceSize + header.size() + body.size() + tagSize);
    std::uint8_t* nonce = sealed.data();
    if (sealing_ == Sealing::nonceFromStoredBytes) SecureRandom::fill(std::span<std::uint8_t>(nonce, nonceSize));
    // fixedNonce: the vector is already zero there.

    AdditionalData aad = additionalData(id, type);
    ChaChaPoly cipher(ChaChaPoly::Direction::seal, key, ByteView(nonce, nonceSize));
    cipher.authenticate(aad);
    cipher.update(header, sealed.data() + nonceSize);
    cipher.update(body, sealed.data() + nonceSize + header.size());
    cipher.finishSeal(sealed.data() + sealed.size() - tagSize);
    trimScratch(scratch);
    return sealed;
}

Bytes BlobCipher::open(ByteView sealed, const BlobID& id, BlobType type,
                       const BlobCompression::BeforeAllocating& beforeAllocating) const {
    if (sealed.size() < overhead) throw BlobCipherError::truncated(id);
    static constexpr std::array<std::uint8_t, nonceSize> zeroNonce{};
    SymmetricKey blobOwnKey;
    ByteView key = keys_->blobKey.view();
    ByteView nonce = sealed.first(nonceSize);
    if (sealing_ == Sealing::fixedNonce) {
        blobOwnKey = KeyDerivation::hkdfKey(keys_->blobKey.view(), id.view(), fixedNoncePurpose);
        key = blobOwnKey.view();
        nonce = zeroNonce;
    }
    ByteView ciphertext = sealed.subspan(nonceSize, sealed.size() - nonceSize - tagSize);
    ByteView tag = sealed.last(tagSize);
    ByteView headerCiphertext = ciphertext.first(BlobCompression::headerSize);
    ByteView bodyCiphertext = ciphertext.subspan(BlobCompression::headerSize);

    AdditionalData aad = additionalData(id, type);
    ChaChaPoly cipher(ChaChaPoly::Direction::open, key, nonce);
    cipher.authenticate(aad);
    std::array<std::uint8_t, BlobCompression::headerSize> headerBytes;
    cipher.update(headerCiphertext, headerBytes.data());
    // The header is only looked at to choose where the body goes: a stored body is
    // decrypted straight into the result. Nothing is acted on before the tag verifies.
    bool stored = headerBytes[0] == static_cast<std::uint8_t>(BlobCompression::Method::stored);
    Bytes plaintext;
    Bytes& scratch = threadScratch();
    Bytes& target = stored ? plaintext : scratch;
    if (stored && beforeAllocating) beforeAllocating(bodyCiphertext.size());
    target.resize(bodyCiphertext.size());
    cipher.update(bodyCiphertext, target.data());
    if (!cipher.finishOpen(tag)) {
        OPENSSL_cleanse(target.data(), target.size());
        trimScratch(scratch);
        throw BlobCipherError::authenticationFailed(id);
    }

    BlobCompression::Header header = BlobCompression::decodeHeader(headerBytes);
    if (stored) {
        if (header.length > BlobCompression::maximumLength || header.length != plaintext.size())
            throw BlobCompression::Error::couldNotDecompress();
        return plaintext;
    }
    try {
        BlobCompression::decodeBody(header, scratch, plaintext, beforeAllocating);
    } catch (...) {
        trimScratch(scratch);
        throw;
    }
    trimScratch(scratch);
    return plaintext;
}

Bytes BlobCipher::sealMetadata(ByteView plaintext) const {
    Bytes sealed(nonceSize + plaintext.size() + tagSize);
    SecureRandom::fill(std::span<std::uint8_t>(sealed.data(), nonceSize));
    ChaChaPoly cipher(ChaChaPoly::Direction::seal, keys_->metadataKey.view(), ByteView(sealed.data(), nonceSize));
    cipher.update(plaintext, sealed.data() + nonceSize);
    cipher.finishSeal(sealed.data() + nonceSize + plaintext.size());
    return sealed;
}

Bytes BlobCipher::openMetadata(ByteView sealed) const {
    if (sealed.size() < metadataOverhead) throw BlobCipherError::metadataTruncated();
    ByteView ciphertext = sealed.subspan(nonceSize, sealed.size() - metadataOverhead);
    Bytes plaintext(ciphertext.size());
    ChaChaPoly cipher(ChaChaPoly::Direction::open, keys_->metadataKey.view(), sealed.first(nonceSize));
    cipher.update(ciphertext, plaintext.data());
    if (!cipher.finishOpen(sealed.last(tagSize))) {
        OPENSSL_cleanse(plaintext.data(), plaintext.size());
        throw BlobCipherError::metadataAuthenticationFailed();
    }
    return plaintext;
}

}  // namespace wm
