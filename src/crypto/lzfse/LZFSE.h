#pragma once
// The LZFSE compressor used for blob contents.
//
// lzfseEncode writes a complete stream (blocks followed by the end-of-stream marker);
// the same input always gives the same bytes. lzfseDecode reads one complete stream and
// returns exactly expectedSize bytes, or throws LZFSEError: it treats its input as
// hostile and never reads or writes outside its buffers. It makes room for expectedSize
// at once only when the stream's headers declare that size (lzfse::declaredSize);
// otherwise its output grows block by block, each block by no more than its payload can
// give, and never beyond expectedSize.
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/Bytes.h"
#include "core/Error.h"

namespace wm {

class LZFSEError : public wm::Error {
public:
    enum class Kind {
        truncated,     // the input ends inside a block or before the end-of-stream marker
        unknownMagic,  // a block starts with bytes that name no block kind
        malformed,     // a header field, table, instruction or distance is invalid
        sizeMismatch,  // the stream decodes to a different length than expected
    };
    static LZFSEError truncated(std::uint64_t offset);
    static LZFSEError unknownMagic(std::uint64_t offset, std::uint32_t magic);
    static LZFSEError malformed(std::uint64_t offset, std::string reason);
    static LZFSEError sizeMismatch(std::uint64_t expected, std::uint64_t actual);

    Kind kind;
    std::uint64_t offset = 0;    // input offset of the block at fault (all but sizeMismatch)
    std::uint32_t magic = 0;     // unknownMagic
    std::string reason;          // malformed
    std::uint64_t expected = 0;  // sizeMismatch
    std::uint64_t actual = 0;    // sizeMismatch: bytes decoded, or at least this many

private:
    LZFSEError(Kind k, const std::string& description) : wm::Error(description), kind(k) {}
};

Bytes lzfseEncode(ByteView input);
Bytes lzfseDecode(ByteView input, std::size_t expectedSize);

}  // namespace wm
