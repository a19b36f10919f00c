#pragma once
// The one format of every small, secret and tamper-evident record of a repository (head,
// snapshot records, holds, the retention setting, pruning marks, replica states):
//
//   nonce (12) | ciphertext of the record's compact JSON (n) | tag (16) | signature (64)
//
// sealed with the metadata key and signed (Ed25519, repository signing key) over all the
// bytes before the signature. A file is always n + 92 bytes. Nothing is decrypted before
// the signature has been checked.
//
// A record type R takes part by providing
//     JSON toJSON() const;               // may throw (e.g. a value JSON cannot carry)
//     static R fromJSON(const JSON&);    // throws on a missing key or a wrong type
#include <string>

#include "core/Bytes.h"
#include "core/Error.h"
#include "core/RepositoryJSON.h"
#include "crypto/BlobCipher.h"
#include "crypto/RepositoryKeys.h"

namespace wm::SignedFile {

inline constexpr std::size_t signatureBytes = 64;

class Error : public wm::Error {
public:
    enum class Kind { tooSmall, signatureInvalid, payloadUnreadable };
    static Error tooSmall();
    static Error signatureInvalid();
    static Error payloadUnreadable();
    Kind kind;
    friend bool operator==(const Error& a, const Error& b) { return a.kind == b.kind; }

private:
    Error(Kind k, const std::string& description) : wm::Error(description), kind(k) {}
};

// Seals and signs JSON text. Cipher and signing errors pass through.
Bytes sealPayload(ByteView json, const RepositoryKeys& keys, const BlobCipher& cipher);
// Checks the size and the signature, then opens the sealed part. Throws
// SignedFile::Error::tooSmall / signatureInvalid, or BlobCipherError.
Bytes openPayload(ByteView file, const RepositoryKeys& keys, const BlobCipher& cipher);
// The JSON of an opened payload; anything that does not parse gives payloadUnreadable.
JSON parsePayload(ByteView plaintext);

template <class Record>
Bytes seal(const Record& record, const RepositoryKeys& keys, const BlobCipher& cipher) {
    return sealPayload(RepositoryJSON::encodeBytes(record.toJSON(), false), keys, cipher);
}

template <class Record>
Record open(ByteView file, const RepositoryKeys& keys, const BlobCipher& cipher) {
    const Bytes plaintext = openPayload(file, keys, cipher);
    try {
        return Record::fromJSON(parsePayload(plaintext));
    } catch (const Error&) {
        throw;
    } catch (const std::exception&) {
        // A missing key, a wrong type, a date that does not parse: not this record.
        throw Error::payloadUnreadable();
    }
}

}  // namespace wm::SignedFile
