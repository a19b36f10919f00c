#pragma once
// Reads a whole LZFSE stream (any mix of uncompressed, LZVN and LZFSE v1/v2 blocks)
// into a caller-provided output vector of at most `limit` bytes. The vector grows one block
// at a time, by what the block declares, so what a stream makes room for stays in
// proportion to what its blocks can produce; a caller that knows the size sizes it so.
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
    // Bytes the output may hold beyond its end while a block is decoded; an output of limit
    // plus this many bytes is never grown.
    static constexpr std::size_t slack = 32;

    Decoder(ByteView input, Bytes& output, std::size_t limit);
    ~Decoder();
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;

    // Decodes up to and including the end-of-stream marker; returns the bytes produced,
    // which the output then holds exactly. Throws LZFSEError on malformed input, including
    // any byte after the marker, and sizeMismatch for output beyond the limit.
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
    void executeTriples(const LZFSEHeader& h, const std::uint8_t* payload, std::size_t room);

    [[noreturn]] void fail(const char* reason) const;
    [[noreturn]] void failTruncated() const;
    [[noreturn]] void failOverflow(std::uint64_t wanted) const;
    // Makes room at the output position for a block that declares rawSize bytes and can
    // give at most bound; returns the room made, the smaller of the two. A block is never
    // let write past it, so a header that claims more than its payload can give costs no
    // more than what the payload can give before the block fails.
    std::size_t makeRoom(std::uint32_t rawSize, std::uint64_t bound);
    std::size_t remainingInput() const { return input_.size() - in_; }

    ByteView input_;
    Bytes& output_;
    std::size_t limit_;
    std::uint8_t* out_ = nullptr;       // output_.data(), after the last growth
    std::size_t capacity_ = 0;          // output_.size(), after the last growth
    std::size_t in_ = 0;                // offset of the block being read
    std::size_t pos_ = 0;               // output position in the whole stream
    std::unique_ptr<Scratch> scratch_;  // literal buffer and decoding tables, made on first use
};

}  // namespace wm::lzfse
