#include "crypto/SecureRandom.h"

#include <openssl/rand.h>

#include <algorithm>

#include "crypto/OpenSSLSupport.h"

namespace wm::SecureRandom {

void fill(std::span<std::uint8_t> out) {
    std::size_t done = 0;
    while (done < out.size()) {
        std::size_t piece = std::min(out.size() - done, openssl::maximumPiece);
        openssl::check(RAND_bytes(out.data() + done, static_cast<int>(piece)), "RAND_bytes");
        done += piece;
    }
}

Bytes bytes(std::size_t count) {
    Bytes out(count);
    fill(out);
    return out;
}

}  // namespace wm::SecureRandom
