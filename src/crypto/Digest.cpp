#include "crypto/Digest.h"

#include <openssl/core_names.h>
#include <openssl/evp.h>

#include "crypto/OpenSSLSupport.h"

namespace wm {

namespace {

struct MacContext {
    EVP_MAC_CTX* ctx;
    MacContext() : ctx(EVP_MAC_CTX_new(openssl::hmac())) {
        if (ctx == nullptr) openssl::fail("EVP_MAC_CTX_new");
        char digest[] = "SHA256";
        OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0),
                               OSSL_PARAM_construct_end()};
        if (EVP_MAC_CTX_set_params(ctx, params) <= 0) {
            EVP_MAC_CTX_free(ctx);
            openssl::fail("EVP_MAC_CTX_set_params(SHA256)");
        }
    }
    ~MacContext() { EVP_MAC_CTX_free(ctx); }
    MacContext(const MacContext&) = delete;
    MacContext& operator=(const MacContext&) = delete;
};

// Rekeyed for every message; one per thread so that concurrent callers never share it.
EVP_MAC_CTX* threadMacContext() {
    thread_local MacContext context;
    return context.ctx;
}

}  // namespace

Digest256 sha256(ByteView data) {
    Digest256 out;
    unsigned int length = 0;
    openssl::check(EVP_Digest(data.data(), data.size(), out.data(), &length, openssl::sha256(), nullptr),
                   "EVP_Digest(SHA256)");
    return out;
}

Digest256 hmacSHA256(ByteView key, ByteView message) {
    EVP_MAC_CTX* ctx = threadMacContext();
    // A zero-length key is legal for HMAC but the library wants a non-null pointer.
    static const std::uint8_t empty = 0;
    openssl::check(EVP_MAC_init(ctx, key.empty() ? &empty : key.data(), key.size(), nullptr), "EVP_MAC_init");
    openssl::check(EVP_MAC_update(ctx, message.data(), message.size()), "EVP_MAC_update");
    Digest256 out;
    std::size_t length = 0;
    openssl::check(EVP_MAC_final(ctx, out.data(), &length, out.size()), "EVP_MAC_final");
    if (length != out.size()) openssl::fail("EVP_MAC_final(length)");
    return out;
}

void SHA256Stream::Free::operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }

SHA256Stream::SHA256Stream() : ctx_(EVP_MD_CTX_new()) {
    if (!ctx_) openssl::fail("EVP_MD_CTX_new");
    openssl::check(EVP_DigestInit_ex2(ctx_.get(), openssl::sha256(), nullptr), "EVP_DigestInit_ex2");
}

void SHA256Stream::update(ByteView data) {
    openssl::check(EVP_DigestUpdate(ctx_.get(), data.data(), data.size()), "EVP_DigestUpdate");
}

Digest256 SHA256Stream::finish() {
    Digest256 out;
    unsigned int length = 0;
    openssl::check(EVP_DigestFinal_ex(ctx_.get(), out.data(), &length), "EVP_DigestFinal_ex");
    openssl::check(EVP_DigestInit_ex2(ctx_.get(), openssl::sha256(), nullptr), "EVP_DigestInit_ex2");
    return out;
}

}  // namespace wm
