#include "crypto/Ed25519SigningKey.h"

#include <openssl/err.h>
#include <openssl/evp.h>

#include "crypto/OpenSSLSupport.h"

namespace wm {

namespace {

struct MdFree {
    void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};
using MdContext = std::unique_ptr<EVP_MD_CTX, MdFree>;

MdContext newMdContext() {
    MdContext ctx(EVP_MD_CTX_new());
    if (!ctx) openssl::fail("EVP_MD_CTX_new");
    return ctx;
}

}  // namespace

Ed25519SigningKey::Ed25519SigningKey(ByteView seed) {
    if (seed.size() != seedSize) openssl::fail("Ed25519SigningKey(seed size)");
    EVP_PKEY* key = EVP_PKEY_new_raw_private_key_ex(nullptr, "ED25519", nullptr, seed.data(), seed.size());
    if (key == nullptr) openssl::fail("EVP_PKEY_new_raw_private_key_ex(ED25519)");
    key_.reset(key, EVP_PKEY_free);
}

Bytes Ed25519SigningKey::sign(ByteView message) const {
    MdContext ctx = newMdContext();
    openssl::check(EVP_DigestSignInit_ex(ctx.get(), nullptr, nullptr, nullptr, nullptr, key_.get(), nullptr),
                   "EVP_DigestSignInit_ex(ED25519)");
    Bytes signature(signatureSize);
    std::size_t length = signature.size();
    openssl::check(EVP_DigestSign(ctx.get(), signature.data(), &length, message.data(), message.size()),
                   "EVP_DigestSign(ED25519)");
    if (length != signatureSize) openssl::fail("EVP_DigestSign(length)");
    return signature;
}

bool Ed25519SigningKey::verify(ByteView message, ByteView signature) const {
    if (signature.size() != signatureSize) return false;
    MdContext ctx = newMdContext();
    openssl::check(EVP_DigestVerifyInit_ex(ctx.get(), nullptr, nullptr, nullptr, nullptr, key_.get(), nullptr),
                   "EVP_DigestVerifyInit_ex(ED25519)");
    int result = EVP_DigestVerify(ctx.get(), signature.data(), signature.size(), message.data(), message.size());
    if (result != 1) {
        ERR_clear_error();
        return false;
    }
    return true;
}

Bytes Ed25519SigningKey::publicKey() const {
    Bytes out(publicKeySize);
    std::size_t length = out.size();
    openssl::check(EVP_PKEY_get_raw_public_key(key_.get(), out.data(), &length), "EVP_PKEY_get_raw_public_key");
    if (length != publicKeySize) openssl::fail("EVP_PKEY_get_raw_public_key(length)");
    return out;
}

}  // namespace wm
