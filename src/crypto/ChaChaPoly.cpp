#include "crypto/ChaChaPoly.h"

#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>

#include <algorithm>
#include <array>

#include "crypto/OpenSSLSupport.h"

namespace wm {

namespace {

EVP_CIPHER_CTX* newContext() {
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    if (ctx == nullptr) openssl::fail("EVP_CIPHER_CTX_new");
    // Bind the algorithm once; each use only sets key, nonce and direction.
    if (EVP_CipherInit_ex2(ctx, openssl::chacha20Poly1305(), nullptr, nullptr, 1, nullptr) <= 0) {
        EVP_CIPHER_CTX_free(ctx);
        openssl::fail("EVP_CipherInit_ex2(ChaCha20-Poly1305)");
    }
    return ctx;
}

struct ThreadContext {
    EVP_CIPHER_CTX* ctx = nullptr;
    bool busy = false;
    ~ThreadContext() { EVP_CIPHER_CTX_free(ctx); }
};

thread_local ThreadContext threadContext;

}  // namespace

ChaChaPoly::ChaChaPoly(Direction direction, ByteView key, ByteView nonce) {
    if (key.size() != keySize || nonce.size() != nonceSize) openssl::fail("ChaChaPoly(key or nonce size)");
    if (!threadContext.busy) {
        if (threadContext.ctx == nullptr) threadContext.ctx = newContext();
        ctx_ = threadContext.ctx;
        threadContext.busy = true;
        borrowed_ = true;
    } else {
        ctx_ = newContext();
    }
    if (EVP_CipherInit_ex2(ctx_, nullptr, key.data(), nonce.data(), direction == Direction::seal ? 1 : 0, nullptr) <=
        0) {
        release();
        openssl::fail("EVP_CipherInit_ex2");
    }
}

ChaChaPoly::~ChaChaPoly() { release(); }

void ChaChaPoly::release() {
    if (ctx_ == nullptr) return;
    if (borrowed_) {
        threadContext.busy = false;
    } else {
        EVP_CIPHER_CTX_free(ctx_);
    }
    ctx_ = nullptr;
}

void ChaChaPoly::authenticate(ByteView additionalData) {
    std::size_t done = 0;
    while (done < additionalData.size()) {
        std::size_t piece = std::min(additionalData.size() - done, openssl::maximumPiece);
        int written = 0;
        openssl::check(EVP_CipherUpdate(ctx_, nullptr, &written, additionalData.data() + done, static_cast<int>(piece)),
                       "EVP_CipherUpdate(aad)");
        done += piece;
    }
}

void ChaChaPoly::update(ByteView input, std::uint8_t* output) {
    std::size_t done = 0;
    while (done < input.size()) {
        std::size_t piece = std::min(input.size() - done, openssl::maximumPiece);
        int written = 0;
        openssl::check(EVP_CipherUpdate(ctx_, output + done, &written, input.data() + done, static_cast<int>(piece)),
                       "EVP_CipherUpdate");
        if (static_cast<std::size_t>(written) != piece) openssl::fail("EVP_CipherUpdate(length)");
        done += piece;
    }
}

void ChaChaPoly::finishSeal(std::uint8_t* tag) {
    std::uint8_t scratch[16];
    int written = 0;
    openssl::check(EVP_CipherFinal_ex(ctx_, scratch, &written), "EVP_CipherFinal_ex");
    openssl::check(EVP_CIPHER_CTX_ctrl(ctx_, EVP_CTRL_AEAD_GET_TAG, static_cast<int>(tagSize), tag),
                   "EVP_CTRL_AEAD_GET_TAG");
}

bool ChaChaPoly::finishOpen(ByteView tag) {
    if (tag.size() != tagSize) return false;
    std::array<std::uint8_t, tagSize> expected;
    std::copy(tag.begin(), tag.end(), expected.begin());
    openssl::check(EVP_CIPHER_CTX_ctrl(ctx_, EVP_CTRL_AEAD_SET_TAG, static_cast<int>(tagSize), expected.data()),
                   "EVP_CTRL_AEAD_SET_TAG");
    std::uint8_t scratch[16];
    int written = 0;
    if (EVP_CipherFinal_ex(ctx_, scratch, &written) <= 0) {
        ERR_clear_error();
        return false;
    }
    return true;
}

Bytes ChaChaPoly::seal(ByteView key, ByteView nonce, ByteView additionalData, ByteView plaintext) {
    Bytes out(plaintext.size() + tagSize);
    ChaChaPoly cipher(Direction::seal, key, nonce);
    cipher.authenticate(additionalData);
    cipher.update(plaintext, out.data());
    cipher.finishSeal(out.data() + plaintext.size());
    return out;
}

std::optional<Bytes> ChaChaPoly::open(ByteView key, ByteView nonce, ByteView additionalData,
                                      ByteView ciphertextAndTag) {
    if (ciphertextAndTag.size() < tagSize) return std::nullopt;
    std::size_t length = ciphertextAndTag.size() - tagSize;
    Bytes out(length);
    ChaChaPoly cipher(Direction::open, key, nonce);
    cipher.authenticate(additionalData);
    cipher.update(ciphertextAndTag.first(length), out.data());
    if (!cipher.finishOpen(ciphertextAndTag.subspan(length))) {
        OPENSSL_cleanse(out.data(), out.size());
        return std::nullopt;
    }
    return out;
}

}  // namespace wm
