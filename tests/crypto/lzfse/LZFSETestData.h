#pragma once
// Inputs and byte helpers shared by the LZFSE tests.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <string_view>

#include "core/Hex.h"
#include "crypto/lzfse/LZFSE.h"

namespace wm::lzfse {

inline Bytes hex(std::string_view text) {
    auto bytes = Hex::decode(text);
    EXPECT_TRUE(bytes.has_value()) << text;
    return bytes.value_or(Bytes{});
}

// Adds value as width little-endian bytes.
inline void appendLE(Bytes& b, std::uint64_t value, int width) {
    for (int i = 0; i < width; ++i) b.push_back(std::uint8_t(value >> (8 * i)));
}

inline Bytes randomBytes(std::size_t n, std::uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (auto& x : b) x = std::uint8_t(rng());
    return b;
}

// n bytes of one random stretch of period bytes repeated.
inline Bytes withPeriod(std::size_t period, std::size_t n, std::uint32_t seed) {
    const Bytes unit = randomBytes(period, seed);
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = unit[i % period];
    return b;
}

inline Bytes repetitiveBytes(std::size_t n) {
    const std::string unit = "struct entry { int id; char name[16]; };\n";
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = std::uint8_t(unit[i % unit.size()]);
    return b;
}

// Prose and code with tabs, CR LF line ends, a form feed and UTF-8 letters, its words drawn
// with a skewed distribution and an odd letter thrown in, so it has both repeats and novelty.
inline Bytes textBytes(std::size_t n, std::uint32_t seed) {
    static const char* words[] = {
        "static", "const",   "int",    "return", "if (", "else",        "for",          "while",       "struct",
        "value;", "buffer",  "length", "{",      "}",    "->",          "std::size_t",  "result",      "count",
        "\t",     "\r\n",    "\n",     "    ",   "the",  "backup",      "restore",      "folder",      "files",
        "\x0C\n", "/* x */", "0",      "1",      "data", "caf\xC3\xA9", "\xE2\x80\x94", "na\xC3\xAFve"};
    std::mt19937 rng(seed);
    std::geometric_distribution<std::size_t> pick(0.12);
    Bytes b;
    while (b.size() < n) {
        const char* word = words[pick(rng) % std::size(words)];
        b.insert(b.end(), word, word + std::strlen(word));
        if (rng() % 7 == 0) b.push_back(std::uint8_t('a' + rng() % 26));
        b.push_back(' ');
    }
    b.resize(n);
    return b;
}

}  // namespace wm::lzfse
