#pragma once
// ChaCha20-Poly1305 (RFC 8439): 32-byte key, 12-byte nonce, 16-byte tag.
//
// A ChaChaPoly value runs one sealing or opening over data given in pieces, so that a
// caller can place header and body in different buffers without copying. It borrows a
// cipher context kept per thread (a second one on the same thread gets its own), so
// values are cheap to make and must stay on the thread that made them.
#include <cstdint>
#include <optional>

#include <openssl/types.h>

#include "core/Bytes.h"

namespace wm {

class ChaChaPoly {
public:
    static constexpr std::size_t keySize = 32;
    static constexpr std::size_t nonceSize = 12;
    static constexpr std::size_t tagSize = 16;

    enum class Direction { seal, open };

    ChaChaPoly(Direction direction, ByteView key, ByteView nonce);
    ~ChaChaPoly();
    ChaChaPoly(const ChaChaPoly&) = delete;
    ChaChaPoly& operator=(const ChaChaPoly&) = delete;

    // Additional authenticated data; only before the first update.
    void authenticate(ByteView additionalData);
    // Encrypts or decrypts input into output, which has room for input.size() bytes.
    void update(ByteView input, std::uint8_t* output);
    // Sealing: writes the 16-byte tag.
    void finishSeal(std::uint8_t* tag);
    // Opening: true when the tag verifies. Plaintext produced by update must not be
    // used when this returns false.
    [[nodiscard]] bool finishOpen(ByteView tag);

    // One-shot forms: ciphertext followed by the tag.
    static Bytes seal(ByteView key, ByteView nonce, ByteView additionalData, ByteView plaintext);
    // Nothing when the input is shorter than a tag or the tag does not verify.
    static std::optional<Bytes> open(ByteView key, ByteView nonce, ByteView additionalData, ByteView ciphertextAndTag);

private:
    void release();
    EVP_CIPHER_CTX* ctx_ = nullptr;
    bool borrowed_ = false;
};

}  // namespace wm
