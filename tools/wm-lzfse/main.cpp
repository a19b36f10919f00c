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
#include <new>
#include <optional>
#include <string>

#include "crypto/lzfse/DeclaredSize.h"
#include "crypto/lzfse/LZFSE.h"

namespace {

int usage() {
    std::cerr << "usage: wm-lzfse -encode|-decode [-i input] [-o output] [-size bytes]\n";
    return 2;
}

// A byte count written in decimal digits only.
std::optional<std::uint64_t> parseSize(const std::string& text) {
    if (text.empty() || text.size() > 19 || text.find_first_not_of("0123456789") != std::string::npos) {
        return std::nullopt;
    }
    return std::stoull(text);
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
            if (arg == "-i")
                inPath = value;
            else if (arg == "-o")
                outPath = value;
            else if (!(size = parseSize(value)))
                return usage();
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
            if (!size) size = wm::lzfse::declaredSize(input);
            if (!size) {
                std::cerr << "wm-lzfse: cannot tell the decoded size; give -size\n";
                return 1;
            }
            output = wm::lzfseDecode(input, static_cast<std::size_t>(*size));
        }
    } catch (const wm::Error& e) {
        std::cerr << "wm-lzfse: " << e.what() << "\n";
        return 1;
    } catch (const std::bad_alloc&) {
        std::cerr << "wm-lzfse: not enough memory\n";
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
