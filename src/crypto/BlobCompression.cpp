#include "crypto/BlobCompression.h"
#include "core/ErrorDescription.h"

#include <cstring>

#include "crypto/lzfse/DeclaredSize.h"
#include "crypto/lzfse/LZFSE.h"

namespace wm {

namespace {

constexpr bool lzfseBuiltIn = true;

}  // namespace

BlobCompression::Error BlobCompression::Error::unknownMethod(std::uint8_t method) {
    Error e(Kind::unknownMethod, ErrorDescription("BlobCompression.Error", "unknownMethod").add("", method));
    e.method = method;
    return e;
}

BlobCompression::Error BlobCompression::Error::couldNotDecompress() {
    return Error(Kind::couldNotDecompress, "BlobCompression.Error.couldNotDecompress");
}

BlobCompression::Error BlobCompression::Error::tooLarge(std::uint64_t length) {
    Error e(Kind::tooLarge, ErrorDescription("BlobCompression.Error", "tooLarge").add("", length));
    e.length = length;
    return e;
}

bool BlobCompression::compressionAvailable() { return lzfseBuiltIn; }

std::array<std::uint8_t, BlobCompression::headerSize> BlobCompression::encodeHeader(Method method,
                                                                                    std::uint64_t length) {
    std::array<std::uint8_t, headerSize> header{};
    header[0] = static_cast<std::uint8_t>(method);
    for (int i = 0; i < 8; ++i) header[1 + i] = static_cast<std::uint8_t>(length >> (8 * i));
    return header;
}

BlobCompression::Header BlobCompression::decodeHeader(ByteView header) {
    Header h;
    if (header.size() < headerSize) return h;
    h.method = header[0];
    for (int i = 0; i < 8; ++i) h.length |= std::uint64_t{header[1 + i]} << (8 * i);
    return h;
}

void BlobCompression::checkSealable(std::uint64_t length) {
    if (length > maximumLength) throw Error::tooLarge(length);
}

bool BlobCompression::compressIfSmaller(ByteView plaintext, Bytes& out) {
    if constexpr (lzfseBuiltIn) {
        if (plaintext.empty()) return false;
        out = lzfseEncode(plaintext);
        return out.size() < plaintext.size();
    } else {
        (void)plaintext;
        (void)out;
        return false;
    }
}

void BlobCompression::decodeBody(const Header& header, ByteView body, Bytes& out,
                                 const BeforeAllocating& beforeAllocating) {
    switch (header.method) {
    case static_cast<std::uint8_t>(Method::stored):
    case static_cast<std::uint8_t>(Method::lzfse): break;
    default: throw Error::unknownMethod(header.method);
    }
    if (header.length > maximumLength) throw Error::couldNotDecompress();
    if (header.method == static_cast<std::uint8_t>(Method::stored)) {
        if (body.size() != header.length) throw Error::couldNotDecompress();
        if (beforeAllocating) beforeAllocating(header.length);
        out.assign(body.begin(), body.end());
        return;
    }
    if constexpr (lzfseBuiltIn) {
        // A stream that decodes declares exactly the length it decodes to; one that states
        // another length is damaged, however much it states.
        if (lzfse::declaredSize(body) != header.length) throw Error::couldNotDecompress();
        if (beforeAllocating) beforeAllocating(header.length);
        try {
            out = lzfseDecode(body, static_cast<std::size_t>(header.length));
        } catch (const LZFSEError&) {
            throw Error::couldNotDecompress();
        }
        if (out.size() != header.length) throw Error::couldNotDecompress();
    } else {
        throw Error::couldNotDecompress();
    }
}

Bytes BlobCompression::encode(ByteView plaintext) {
    checkSealable(plaintext.size());
    Bytes compressed;
    bool useCompressed = compressIfSmaller(plaintext, compressed);
    ByteView body = useCompressed ? ByteView(compressed) : plaintext;
    auto header = encodeHeader(useCompressed ? Method::lzfse : Method::stored, plaintext.size());
    Bytes frame(headerSize + body.size());
    std::memcpy(frame.data(), header.data(), headerSize);
    if (!body.empty()) std::memcpy(frame.data() + headerSize, body.data(), body.size());
    return frame;
}

Bytes BlobCompression::decode(ByteView frame) {
    if (frame.size() < headerSize) throw Error::couldNotDecompress();
    Header header = decodeHeader(frame.first(headerSize));
    Bytes out;
    decodeBody(header, frame.subspan(headerSize), out);
    return out;
}

}  // namespace wm
