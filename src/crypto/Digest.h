#pragma once
// SHA-256 and HMAC-SHA256.
#include <array>
#include <cstdint>
#include <memory>

#include <openssl/types.h>

#include "core/Bytes.h"

namespace wm {

using Digest256 = std::array<std::uint8_t, 32>;

Digest256 sha256(ByteView data);
Digest256 hmacSHA256(ByteView key, ByteView message);

// SHA-256 over data given in pieces (a large pack file read in ranges).
class SHA256Stream {
public:
    SHA256Stream();
    SHA256Stream(SHA256Stream&&) noexcept = default;
    SHA256Stream& operator=(SHA256Stream&&) noexcept = default;

    void update(ByteView data);
    // The digest of everything given so far; the stream starts again empty afterwards.
    Digest256 finish();

private:
    struct Free {
        void operator()(EVP_MD_CTX* ctx) const;
    };
    std::unique_ptr<EVP_MD_CTX, Free> ctx_;
};

}  // namespace wm
