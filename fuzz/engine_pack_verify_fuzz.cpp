// The streaming pack check against hostile bytes, judged against the whole-file reader: for
// every input both must accept the same directory or refuse with the same error. The input
// is split into a blob region and a directory body; the body is sealed with fixed keys and a
// pack assembled around it, so the checks after the digest and the seal are reached too.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "FuzzCipher.h"
#include "crypto/BlobCipher.h"
#include "crypto/PackHashing.h"
#include "crypto/RepositoryKeys.h"
#include "format/ByteWriter.h"
#include "format/PackReader.h"
#include "format/PackVerification.h"
#include "format/RepositoryFormat.h"

namespace {

const wm::BlobCipher& cipher() { return wm::fuzz::fixedCipher(); }

template <class Check>
std::string outcome(Check&& check) {
    try {
        return "ok " + std::to_string(check().size());
    } catch (const wm::PackFile::Error& e) {
        return std::string("pack ") + e.what();
    } catch (const wm::BlobCipherError& e) {
        return std::string("cipher ") + e.what();
    }
}

void compare(const wm::Bytes& file, const wm::PackID& expecting, std::size_t piece, std::size_t tail) {
    wm::PackVerifier verifier(cipher(), piece, tail);
    const std::string streamed = outcome([&] { return verifier.check(file, expecting); });
    const std::string whole = outcome([&] { return wm::PackReader(file, expecting, cipher()).entries(); });
    if (streamed != whole || verifier.bytesRead() != file.size()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace wm;
    if (size < 3) return 0;
    const std::size_t piece = 1 + data[0] % 64;
    const std::size_t split = std::min<std::size_t>(data[1] | (data[2] << 8), size - 3);
    const ByteView blobs(data + 3, split);
    const ByteView body(data + 3 + split, size - 3 - split);

    Bytes pack{'W', 'M', 'P', 'K', 1, 0, 0, 0};
    pack.insert(pack.end(), blobs.begin(), blobs.end());
    const Bytes sealed = cipher().sealMetadata(body);
    pack.insert(pack.end(), sealed.begin(), sealed.end());
    ByteWriter w(pack);
    w.uint32(static_cast<std::uint32_t>(sealed.size()));
    w.bytes(RepositoryFormat::PackFile::endMagic);
    w.uint8(0);
    compare(pack, hashPackID(pack), piece, 12 + data[0] % 200);

    // The raw input as a pack file named by its own hash, and by another name.
    const Bytes raw(data, data + size);
    compare(raw, hashPackID(raw), piece, 16);
    compare(raw, hashPackID(pack), piece, 4096);
    return 0;
}
