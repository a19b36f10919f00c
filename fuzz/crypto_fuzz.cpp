// libFuzzer target for the crypto module's decoders of outside bytes. The first byte
// chooses the decoder; the rest is its input.
//   key files (JSON), typed recovery keys, sealed blobs and metadata, compression frames
#include <cstddef>
#include <cstdint>

#include "crypto/BlobCipher.h"
#include "crypto/BlobCompression.h"
#include "crypto/KeyFile.h"
#include "crypto/Passphrase.h"
#include "crypto/RecoveryKey.h"

namespace {

const wm::RepositoryKeys& keys() {
    static const wm::RepositoryKeys k = [] {
        wm::SymmetricKey master;
        for (std::size_t i = 0; i < master.bytes.size(); ++i) master.bytes[i] = static_cast<std::uint8_t>(i);
        return wm::RepositoryKeys(master, *wm::RepositoryID::fromBytes(wm::Bytes(32, 0xa5)));
    }();
    return k;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::uint8_t selector = data[0];
    wm::ByteView input(data + 1, size - 1);
    try {
        switch (selector % 5) {
        case 0: {
            wm::KeyFile file = wm::KeyFile::decode(input);
            try {
                if (file.method == wm::KeyFile::Method::passphrase)
                    file.unwrap("fuzzing passphrase", wm::Bytes(16, 1), 1);
                else
                    file.unwrap(wm::RecoveryKey{}, keys().repositoryID);
            } catch (const wm::KeyFile::Error&) {
            }
            break;
        }
        case 1: {
            wm::RecoveryKey key = wm::RecoveryKey::parse(wm::stringOf(input));
            if (!(wm::RecoveryKey::parse(key.text()) == key)) __builtin_trap();
            break;
        }
        case 2:
        case 3: {
            wm::BlobCipher cipher(keys(), selector % 5 == 2 ? wm::BlobCipher::Sealing::nonceFromStoredBytes
                                                            : wm::BlobCipher::Sealing::fixedNonce);
            wm::BlobID id;
            cipher.open(input, id, wm::BlobType::data);
            cipher.openMetadata(input);
            break;
        }
        case 4: {
            wm::Bytes out = wm::BlobCompression::decode(input);
            if (out.size() != wm::BlobCompression::decodeHeader(input).length) __builtin_trap();
            break;
        }
        }
    } catch (const wm::KeyFile::Error&) {
    } catch (const wm::RecoveryKeyError&) {
    } catch (const wm::BlobCipherError&) {
    } catch (const wm::BlobCompression::Error&) {
    } catch (const wm::Passphrase::Failure&) {
    }
    return 0;
}
