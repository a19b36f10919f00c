#pragma once
// An Ed25519 private key (RFC 8032), made from its 32-byte seed. Signing and verifying
// may run on several threads at once.
#include <memory>

#include <openssl/types.h>

#include "core/Bytes.h"

namespace wm {

class Ed25519SigningKey {
public:
    static constexpr std::size_t seedSize = 32;
    static constexpr std::size_t publicKeySize = 32;
    static constexpr std::size_t signatureSize = 64;

    // seed must be 32 bytes (a derived key, never outside data); throws CryptoFailure otherwise.
    explicit Ed25519SigningKey(ByteView seed);

    // The 64-byte signature of message.
    Bytes sign(ByteView message) const;
    // True when signature is a valid signature of message under this key's public half.
    // A signature of any length other than 64 is simply invalid.
    bool verify(ByteView message, ByteView signature) const;
    Bytes publicKey() const;

private:
    std::shared_ptr<EVP_PKEY> key_;
};

}  // namespace wm
