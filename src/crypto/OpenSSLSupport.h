#pragma once
// Internal to the crypto module: algorithm handles fetched once per process, and the
// helpers that turn a library failure into a CryptoFailure.
#include <openssl/evp.h>
#include <openssl/kdf.h>

#include <cstddef>
#include <limits>

namespace wm::openssl {

// Each is fetched from the default provider on first use and kept for the life of the
// process; a fetch that fails throws CryptoFailure.
const EVP_CIPHER* chacha20Poly1305();
const EVP_MD* sha256();
EVP_MAC* hmac();
EVP_KDF* hkdf();
EVP_KDF* pbkdf2();

[[noreturn]] void fail(const char* operation);
inline void check(int result, const char* operation) {
    if (result <= 0) fail(operation);
}

// The library takes int lengths: longer inputs are fed in pieces of this size.
constexpr std::size_t maximumPiece = std::size_t{1} << 30;

}  // namespace wm::openssl
