#include "core/Identifiers.h"

#include <sys/random.h>
#include <fstream>
#include <random>
#include <stdexcept>

#include "core/Hex.h"

namespace wm {

std::string hexOfBytes(const std::uint8_t* data, std::size_t size) { return Hex::encode(ByteView(data, size)); }

UUID UUID::random() {
    UUID u;
    std::size_t got = 0;
    while (got < u.bytes.size()) {
        ssize_t n = getrandom(u.bytes.data() + got, u.bytes.size() - got, 0);
        if (n < 0) throw std::runtime_error("the system random source failed");
        got += static_cast<std::size_t>(n);
    }
    u.bytes[6] = static_cast<std::uint8_t>((u.bytes[6] & 0x0f) | 0x40);
    u.bytes[8] = static_cast<std::uint8_t>((u.bytes[8] & 0x3f) | 0x80);
    return u;
}

std::optional<UUID> UUID::parse(std::string_view text) {
    std::string compact;
    if (text.size() == 36) {
        for (std::size_t i = 0; i < 36; ++i) {
            bool hyphenPlace = i == 8 || i == 13 || i == 18 || i == 23;
            if (hyphenPlace) {
                if (text[i] != '-') return std::nullopt;
            } else {
                compact += text[i];
            }
        }
    } else if (text.size() == 32) {
        compact = std::string(text);
    } else {
        return std::nullopt;
    }
    auto raw = Hex::decode(compact);
    if (!raw || raw->size() != 16) return std::nullopt;
    UUID u;
    std::copy(raw->begin(), raw->end(), u.bytes.begin());
    return u;
}

std::string UUID::uuidString() const {
    std::string hex = compactHex();
    std::string out;
    out.reserve(36);
    for (std::size_t i = 0; i < 32; ++i) {
        if (i == 8 || i == 12 || i == 16 || i == 20) out += '-';
        char c = hex[i];
        out += (c >= 'a' && c <= 'f') ? static_cast<char>(c - 'a' + 'A') : c;
    }
    return out;
}

std::string UUID::compactHex() const { return Hex::encode(ByteView(bytes.data(), bytes.size())); }

}  // namespace wm
