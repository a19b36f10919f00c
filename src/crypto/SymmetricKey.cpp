#include "crypto/SymmetricKey.h"

#include <openssl/crypto.h>

#include <cstring>

#include "crypto/SecureRandom.h"

namespace wm {

SymmetricKey::~SymmetricKey() { OPENSSL_cleanse(bytes.data(), bytes.size()); }

SymmetricKey SymmetricKey::random() {
    SymmetricKey key;
    SecureRandom::fill(key.bytes);
    return key;
}

std::optional<SymmetricKey> SymmetricKey::fromBytes(ByteView data) {
    if (data.size() != size) return std::nullopt;
    SymmetricKey key;
    std::memcpy(key.bytes.data(), data.data(), size);
    return key;
}

bool operator==(const SymmetricKey& a, const SymmetricKey& b) {
    return CRYPTO_memcmp(a.bytes.data(), b.bytes.data(), SymmetricKey::size) == 0;
}

}  // namespace wm
