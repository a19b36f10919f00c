#pragma once
// The compression frame that every blob's plaintext is put in before sealing:
//     method (1 byte) | plaintext length (u64, little-endian) | body
// Method 0 stores the plaintext as the body; method 1 is an LZFSE stream that decodes to
// exactly the stated length. Plaintexts longer than 1 GiB are neither written nor read.
// The stated length is never taken on trust: before room is made for it, a stored body
// must be that long and an LZFSE stream's own block headers must declare that length.
#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "core/Bytes.h"
#include "core/Error.h"

namespace wm {

class BlobCompression {
public:
    enum class Method : std::uint8_t { stored = 0, lzfse = 1 };

    static constexpr std::size_t headerSize = 9;
    static constexpr std::uint64_t maximumLength = std::uint64_t{1} << 30;

    class Error : public wm::Error {
    public:
        enum class Kind { unknownMethod, couldNotDecompress, tooLarge };
        static Error unknownMethod(std::uint8_t method);
        static Error couldNotDecompress();
        // Sealing refuses a plaintext that no reader would accept.
        static Error tooLarge(std::uint64_t length);

        Kind kind;
        std::uint8_t method = 0;   // unknownMethod
        std::uint64_t length = 0;  // tooLarge

    private:
        Error(Kind k, const std::string& description) : wm::Error(description), kind(k) {}
    };

    // Whether the LZFSE codec is built in; without it sealing stores every blob.
    static bool compressionAvailable();

    // The frame of plaintext: compressed when that makes the body smaller, otherwise
    // stored. Throws tooLarge above maximumLength.
    static Bytes encode(ByteView plaintext);
    // The plaintext of a frame. Throws unknownMethod for a method other than 0 and 1,
    // couldNotDecompress for a frame shorter than its header, a stated length above
    // maximumLength, a stated length other than the body's own (a stored body's size, the
    // size an LZFSE stream's headers declare), or a body that does not give exactly it.
    static Bytes decode(ByteView frame);

    // Told the plaintext length a blob is about to take, before room is made for it: a
    // reader that shares memory with others may wait here, or throw to give the blob up.
    using BeforeAllocating = std::function<void(std::uint64_t length)>;

    // Pieces for a sealer that streams header and body separately (BlobCipher).
    struct Header {
        std::uint8_t method = 0;
        std::uint64_t length = 0;
    };
    static std::array<std::uint8_t, headerSize> encodeHeader(Method method, std::uint64_t length);
    static Header decodeHeader(ByteView header);  // exactly headerSize bytes; never throws
    // Puts the LZFSE body of plaintext in out and returns true when it is smaller than
    // the plaintext; returns false (store the plaintext) otherwise.
    static bool compressIfSmaller(ByteView plaintext, Bytes& out);
    // Checks header against body and decodes it into out (the checks of decode), telling
    // beforeAllocating (when given) the length once the checks that need no decoding pass.
    static void decodeBody(const Header& header, ByteView body, Bytes& out,
                           const BeforeAllocating& beforeAllocating = {});
    // Checks a plaintext length before sealing (tooLarge).
    static void checkSealable(std::uint64_t length);
};

}  // namespace wm
