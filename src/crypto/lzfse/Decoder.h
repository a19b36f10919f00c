#pragma once
// Reads a whole LZFSE stream (any mix of uncompressed, LZVN and LZFSE v1/v2 blocks)
// into a caller-provided output buffer of fixed capacity.
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "core/Bytes.h"
#include "crypto/lzfse/FSE.h"
#include "crypto/lzfse/Format.h"

namespace wm::lzfse {

class Decoder {
public:
    Decoder(ByteView input, std::uint8_t* output, std::size_t capacity);
    ~Decoder();
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;

    // Decodes up to and including the end-of-stream marker; returns the bytes produced.
    // Throws LZFSEError on malformed input, including any byte after the marker.
    std::size_t run();

private:
    struct LZFSEHeader;
    struct Scratch;

    void decodeUncompressed();
    void decodeLZVN();
    void decodeLZFSE(bool v2);
    void readV1Header(LZFSEHeader& h);
    void readV2Header(LZFSEHeader& h);
    void decodeLiterals(const LZFSEHeader& h, const std::uint8_t* payload);
    void executeTriples(const LZFSEHeader& h, const std::uint8_t* payload);

    [[noreturn]] void fail(const char* reason) const;
    [[noreturn]] void failTruncated() const;
    [[noreturn]] void failOverflow(std::uint64_t wanted) const;
    std::size_t remainingInput() const { return input_.size() - in_; }

    ByteView input_;
    std::uint8_t* out_;
    std::size_t capacity_;
    std::size_t in_ = 0;                // offset of the block being read
    std::size_t pos_ = 0;               // output position in the whole stream
    std::unique_ptr<Scratch> scratch_;  // literal buffer and decoding tables, made on first use
};

}  // namespace wm::lzfse
