// wm-lzfse: compresses or expands one file with the project's LZFSE codec, for
// cross-checks against other implementations and for timing.
//
//   wm-lzfse -encode [-i input] [-o output]
//   wm-lzfse -decode [-i input] [-o output] [-size bytes]
//
// Standard input and output are used when -i or -o is missing. A stream carries no
// total length; -decode adds up the sizes its block headers declare unless -size is given.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>

#include "crypto/lzfse/LZFSE.h"

namespace {

int usage() {
    std::cerr << "usage: wm-lzfse -encode|-decode [-i input] [-o output] [-size bytes]\n";
    return 2;
}

std::uint32_t u32(const wm::Bytes& s, std::size_t at) {
    return static_cast<std::uint32_t>(s[at] | s[at + 1] << 8 | s[at + 2] << 16) | std::uint32_t{s[at + 3]} << 24;
}

// Sum of the sizes declared by the block headers, or nothing if the headers cannot be walked.
std::optional<std::uint64_t> declaredSize(const wm::Bytes& s) {
    std::uint64_t total = 0;
    std::uint64_t at = 0;
    while (at + 4 <= s.size()) {
        const std::uint32_t magic = u32(s, at);
        if (magic == 0x24787662) return total;  // bvx$
        if (at + 12 > s.size()) return std::nullopt;
        total += u32(s, at + 4);
        switch (magic) {
            case 0x2D787662: at += 8 + std::uint64_t{u32(s, at + 4)}; break;              // bvx-
            case 0x6E787662: at += 12 + std::uint64_t{u32(s, at + 8)}; break;             // bvxn
            case 0x31787662: at += 772 + std::uint64_t{u32(s, at + 20)} + u32(s, at + 24); break;  // bvx1
            case 0x32787662: {                                                            // bvx2
                if (at + 32 > s.size()) return std::nullopt;
                const std::uint64_t p0 = u32(s, at + 8) | std::uint64_t{u32(s, at + 12)} << 32;
                const std::uint64_t p1 = u32(s, at + 16) | std::uint64_t{u32(s, at + 20)} << 32;
                at += u32(s, at + 24) + ((p0 >> 20) & 0xFFFFF) + ((p1 >> 40) & 0xFFFFF);
                break;
            }
            default: return std::nullopt;
        }
    }
    return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
    std::optional<bool> encode;
    std::string inPath, outPath;
    std::optional<std::uint64_t> size;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-encode") {
            encode = true;
        } else if (arg == "-decode") {
            encode = false;
        } else if ((arg == "-i" || arg == "-o" || arg == "-size") && i + 1 < argc) {
            const std::string value = argv[++i];
            if (arg == "-i") inPath = value;
            else if (arg == "-o") outPath = value;
            else size = std::stoull(value);
        } else {
            return usage();
        }
    }
    if (!encode) return usage();

    wm::Bytes input;
    if (inPath.empty()) {
        input.assign(std::istreambuf_iterator<char>(std::cin), {});
    } else {
        std::ifstream in(inPath, std::ios::binary);
        if (!in) {
            std::cerr << "wm-lzfse: cannot open " << inPath << "\n";
            return 1;
        }
        input.assign(std::istreambuf_iterator<char>(in), {});
    }

    wm::Bytes output;
    try {
        if (*encode) {
            output = wm::lzfseEncode(input);
        } else {
            if (!size) size = declaredSize(input);
            if (!size) {
                std::cerr << "wm-lzfse: cannot tell the decoded size; give -size\n";
                return 1;
            }
            output = wm::lzfseDecode(input, static_cast<std::size_t>(*size));
        }
    } catch (const wm::Error& e) {
        std::cerr << "wm-lzfse: " << e.what() << "\n";
        return 1;
    }

    if (outPath.empty()) {
        std::cout.write(reinterpret_cast<const char*>(output.data()), static_cast<std::streamsize>(output.size()));
        std::cout.flush();
        return std::cout ? 0 : 1;
    }
    std::ofstream out(outPath, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(output.data()), static_cast<std::streamsize>(output.size()));
    out.close();
    if (!out) {
        std::cerr << "wm-lzfse: cannot write " << outPath << "\n";
        return 1;
    }
    return 0;
}
