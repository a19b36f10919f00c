// Fuzz target for the LZFSE codec. The first 3 bytes choose the expected decoded size
// (below 256 KiB); the rest is decoded as a stream, which must either yield exactly that
// many bytes or throw LZFSEError. The same rest is also compressed and must come back
// unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "crypto/lzfse/LZFSE.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    const std::size_t expected = (data[0] | data[1] << 8 | data[2] << 16) & 0x3FFFF;
    const wm::ByteView stream(data + 3, size - 3);
    try {
        const wm::Bytes out = wm::lzfseDecode(stream, expected);
        if (out.size() != expected) std::abort();
    } catch (const wm::LZFSEError&) {
    }
    const wm::Bytes packed = wm::lzfseEncode(stream);
    if (wm::lzfseDecode(packed, stream.size()) != wm::Bytes(stream.begin(), stream.end())) std::abort();
    return 0;
}
