// Pack directories and pack files from hostile bytes. The input is split into a blob region
// and a directory body; the body is sealed with fixed keys and the pack assembled around it,
// so the reader's own checks (directory records, blob ranges) are what gets exercised.
#include <cstdint>
#include <cstdlib>

#include "FuzzCipher.h"
#include "crypto/BlobCipher.h"
#include "crypto/PackHashing.h"
#include "crypto/RepositoryKeys.h"
#include "format/ByteWriter.h"
#include "format/PackReader.h"
#include "format/RepositoryFormat.h"

namespace {

const wm::BlobCipher& cipher() { return wm::fuzz::fixedCipher(); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace wm;
    if (size < 2) return 0;
    const std::size_t split = std::min<std::size_t>(data[0] | (data[1] << 8), size - 2);
    const ByteView blobs(data + 2, split);
    const ByteView body(data + 2 + split, size - 2 - split);

    // The directory decoder on its own.
    try {
        for (const auto& e : PackFile::decodeDirectory(body, 8 + blobs.size()))
            if (e.offset < 8 || e.offset + e.length > 8 + blobs.size()) std::abort();
    } catch (const PackFile::Error&) {
    }

    // A whole pack around it.
    Bytes pack{'W', 'M', 'P', 'K', 1, 0, 0, 0};
    pack.insert(pack.end(), blobs.begin(), blobs.end());
    const Bytes sealed = cipher().sealMetadata(body);
    pack.insert(pack.end(), sealed.begin(), sealed.end());
    ByteWriter w(pack);
    w.uint32(static_cast<std::uint32_t>(sealed.size()));
    w.bytes(RepositoryFormat::PackFile::endMagic);
    w.uint8(0);
    try {
        const PackReader reader(pack, hashPackID(pack), cipher());
        for (const auto& e : reader.entries()) {
            try {
                (void)reader.blob(e.id);
            } catch (const BlobCipherError&) {
            } catch (const std::exception&) {
                // Compression framing errors of blobs that happen to authenticate.
            }
        }
    } catch (const PackFile::Error&) {
    }
    // The raw input as a pack file named by its own hash.
    try {
        const Bytes raw(data, data + size);
        const PackReader reader(raw, hashPackID(raw), cipher());
    } catch (const PackFile::Error&) {
    } catch (const BlobCipherError&) {
    }
    return 0;
}
