#include "format/SignedFile.h"

namespace wm::SignedFile {

Error Error::tooSmall() { return Error(Kind::tooSmall, "SignedFile.Error.tooSmall"); }
Error Error::signatureInvalid() { return Error(Kind::signatureInvalid, "SignedFile.Error.signatureInvalid"); }
Error Error::payloadUnreadable() { return Error(Kind::payloadUnreadable, "SignedFile.Error.payloadUnreadable"); }

Bytes sealPayload(ByteView json, const RepositoryKeys& keys, const BlobCipher& cipher) {
    Bytes file = cipher.sealMetadata(json);
    const Bytes signature = keys.sign(file);
    file.insert(file.end(), signature.begin(), signature.end());
    return file;
}

Bytes openPayload(ByteView file, const RepositoryKeys& keys, const BlobCipher& cipher) {
    // At least one byte of sealed part must precede the signature.
    if (file.size() < signatureBytes + 1) throw Error::tooSmall();
    const ByteView sealed = file.first(file.size() - signatureBytes);
    const ByteView signature = file.last(signatureBytes);
    if (!keys.verify(sealed, signature)) throw Error::signatureInvalid();
    return cipher.openMetadata(sealed);
}

JSON parsePayload(ByteView plaintext) {
    try {
        return RepositoryJSON::decode(plaintext);
    } catch (const std::exception&) {
        throw Error::payloadUnreadable();
    }
}

}  // namespace wm::SignedFile
