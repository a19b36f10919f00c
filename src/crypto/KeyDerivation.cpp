#include "crypto/KeyDerivation.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>

#include <memory>

#include "crypto/OpenSSLSupport.h"

namespace wm::KeyDerivation {

namespace {

struct KdfFree {
    void operator()(EVP_KDF_CTX* ctx) const { EVP_KDF_CTX_free(ctx); }
};
using KdfContext = std::unique_ptr<EVP_KDF_CTX, KdfFree>;

// OSSL_PARAM wants non-const pointers even for inputs it only reads.
void* mutableBytes(ByteView bytes) {
    static std::uint8_t empty = 0;
    return bytes.empty() ? &empty : const_cast<std::uint8_t*>(bytes.data());
}

void derive(EVP_KDF* kdf, const OSSL_PARAM* params, std::uint8_t* out, std::size_t length, const char* what) {
    KdfContext ctx(EVP_KDF_CTX_new(kdf));
    if (!ctx) openssl::fail("EVP_KDF_CTX_new");
    openssl::check(EVP_KDF_derive(ctx.get(), out, length, params), what);
}

}  // namespace

Bytes hkdfSHA256(ByteView inputKeyMaterial, ByteView salt, std::string_view info, std::size_t length) {
    char digest[] = "SHA256";
    OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, digest, 0),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_KEY, mutableBytes(inputKeyMaterial), inputKeyMaterial.size()),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SALT, mutableBytes(salt), salt.size()),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_INFO, mutableBytes(viewOf(info)), info.size()),
        OSSL_PARAM_construct_end()};
    Bytes out(length);
    derive(openssl::hkdf(), params, out.data(), out.size(), "EVP_KDF_derive(HKDF)");
    return out;
}

SymmetricKey hkdfKey(ByteView inputKeyMaterial, ByteView salt, std::string_view info) {
    Bytes derived = hkdfSHA256(inputKeyMaterial, salt, info, SymmetricKey::size);
    SymmetricKey key = *SymmetricKey::fromBytes(derived);
    OPENSSL_cleanse(derived.data(), derived.size());
    return key;
}

SymmetricKey pbkdf2SHA256(ByteView password, ByteView salt, std::uint32_t iterations) {
    char digest[] = "SHA256";
    unsigned int iter = iterations;
    int pkcs5 = 1;  // no provider-side lower bounds: the caller decides what it accepts
    OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, digest, 0),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_PASSWORD, mutableBytes(password), password.size()),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SALT, mutableBytes(salt), salt.size()),
        OSSL_PARAM_construct_uint(OSSL_KDF_PARAM_ITER, &iter),
        OSSL_PARAM_construct_int(OSSL_KDF_PARAM_PKCS5, &pkcs5),
        OSSL_PARAM_construct_end()};
    SymmetricKey key;
    derive(openssl::pbkdf2(), params, key.bytes.data(), key.bytes.size(), "EVP_KDF_derive(PBKDF2)");
    return key;
}

}  // namespace wm::KeyDerivation
