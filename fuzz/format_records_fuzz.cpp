// Signed record files and their JSON payloads from hostile bytes, and the config file.
// Opening a signed file fails with SignedFile::Error or BlobCipherError; a payload that
// opens but is not the record fails with payloadUnreadable; nothing else escapes.
#include <cstdint>
#include <cstdlib>

#include "FuzzCipher.h"
#include "crypto/BlobCipher.h"
#include "crypto/RepositoryKeys.h"
#include "format/HeadRecord.h"
#include "format/RepositoryConfig.h"
#include "format/SignedFile.h"
#include "format/SnapshotRecord.h"

namespace {

struct Keys {
    const wm::RepositoryKeys& keys = wm::fuzz::fixedKeys();
    const wm::BlobCipher& cipher = wm::fuzz::fixedCipher();
};

const Keys& keys() {
    static const Keys k;
    return k;
}

template <class R>
void openBoth(wm::ByteView file) {
    try {
        const R record = wm::SignedFile::open<R>(file, keys().keys, keys().cipher);
        // A record that opened seals and opens again to itself.
        const wm::Bytes again = wm::SignedFile::seal(record, keys().keys, keys().cipher);
        if (!(wm::SignedFile::open<R>(again, keys().keys, keys().cipher) == record)) std::abort();
    } catch (const wm::SignedFile::Error&) {
    } catch (const wm::BlobCipherError&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace wm;
    const ByteView input(data, size);
    // As a file: size and signature checks.
    openBoth<HeadRecord>(input);
    // As a payload, correctly sealed and signed: the JSON decoding of each record.
    const Bytes file = SignedFile::sealPayload(input, keys().keys, keys().cipher);
    openBoth<HeadRecord>(file);
    openBoth<SnapshotRecord>(file);
    // As a config file.
    try {
        const RepositoryConfig config = RepositoryConfig::decode(input);
        if (!(RepositoryConfig::decode(config.encoded()) == config)) std::abort();
    } catch (const RepositoryConfig::Error&) {
    }
    return 0;
}
