#include "crypto/OpenSSLSupport.h"

#include <openssl/err.h>

#include "crypto/CryptoFailure.h"

namespace wm::openssl {

void fail(const char* operation) {
    ERR_clear_error();
    throw CryptoFailure(operation);
}

const EVP_CIPHER* chacha20Poly1305() {
    static const EVP_CIPHER* cipher = [] {
        EVP_CIPHER* c = EVP_CIPHER_fetch(nullptr, "ChaCha20-Poly1305", nullptr);
        if (c == nullptr) fail("EVP_CIPHER_fetch(ChaCha20-Poly1305)");
        return c;
    }();
    return cipher;
}

const EVP_MD* sha256() {
    static const EVP_MD* md = [] {
        EVP_MD* m = EVP_MD_fetch(nullptr, "SHA256", nullptr);
        if (m == nullptr) fail("EVP_MD_fetch(SHA256)");
        return m;
    }();
    return md;
}

EVP_MAC* hmac() {
    static EVP_MAC* mac = [] {
        EVP_MAC* m = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
        if (m == nullptr) fail("EVP_MAC_fetch(HMAC)");
        return m;
    }();
    return mac;
}

EVP_KDF* hkdf() {
    static EVP_KDF* kdf = [] {
        EVP_KDF* k = EVP_KDF_fetch(nullptr, "HKDF", nullptr);
        if (k == nullptr) fail("EVP_KDF_fetch(HKDF)");
        return k;
    }();
    return kdf;
}

EVP_KDF* pbkdf2() {
    static EVP_KDF* kdf = [] {
        EVP_KDF* k = EVP_KDF_fetch(nullptr, "PBKDF2", nullptr);
        if (k == nullptr) fail("EVP_KDF_fetch(PBKDF2)");
        return k;
    }();
    return kdf;
}

}  // namespace wm::openssl
