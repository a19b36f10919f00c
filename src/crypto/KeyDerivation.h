#pragma once
// HKDF-SHA256 (RFC 5869, extract then expand) and PBKDF2-HMAC-SHA256.
#include <cstdint>
#include <string_view>

#include "core/Bytes.h"
#include "crypto/SymmetricKey.h"

namespace wm::KeyDerivation {

Bytes hkdfSHA256(ByteView inputKeyMaterial, ByteView salt, std::string_view info, std::size_t length);
// The 32-byte form every key of the repository hierarchy uses.
SymmetricKey hkdfKey(ByteView inputKeyMaterial, ByteView salt, std::string_view info);

// No lower bounds on salt length or iteration count are enforced here; callers validate
// their settings (see Passphrase).
SymmetricKey pbkdf2SHA256(ByteView password, ByteView salt, std::uint32_t iterations);

}  // namespace wm::KeyDerivation
