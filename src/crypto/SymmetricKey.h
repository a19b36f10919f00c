#pragma once
// A 256-bit secret key. Its bytes are wiped when the value goes away, and equality is
// decided in constant time.
#include <array>
#include <cstdint>
#include <optional>

#include "core/Bytes.h"

namespace wm {

class SymmetricKey {
public:
    static constexpr std::size_t size = 32;

    SymmetricKey() = default;  // all zero
    SymmetricKey(const SymmetricKey&) = default;
    SymmetricKey& operator=(const SymmetricKey&) = default;
    ~SymmetricKey();

    // A new key from the secure random source.
    static SymmetricKey random();
    // Nothing unless data holds exactly 32 bytes.
    static std::optional<SymmetricKey> fromBytes(ByteView data);

    ByteView view() const { return ByteView(bytes.data(), bytes.size()); }

    friend bool operator==(const SymmetricKey& a, const SymmetricKey& b);

    std::array<std::uint8_t, size> bytes{};
};

}  // namespace wm
