#include "format/RepositoryConfig.h"
#include "core/ErrorDescription.h"

#include "core/RepositoryJSON.h"
#include "format/Chunker.h"

namespace wm {

namespace {

constexpr const char* kKDFAlgorithm = "PBKDF2-HMAC-SHA256";
constexpr std::int64_t kMaximumIterations = 10000000;

namespace J = RepositoryJSON;

RepositoryConfig::Chunker decodeChunker(const JSON& o) {
    RepositoryConfig::Chunker c;
    c.algorithm = J::text(J::member(o, "algorithm", "chunker"), "chunker.algorithm");
    c.avgSize = J::int64(J::member(o, "avgSize", "chunker"), "chunker.avgSize");
    c.maxSize = J::int64(J::member(o, "maxSize", "chunker"), "chunker.maxSize");
    c.minSize = J::int64(J::member(o, "minSize", "chunker"), "chunker.minSize");
    c.normalization = J::int64(J::member(o, "normalization", "chunker"), "chunker.normalization");
    return c;
}

RepositoryConfig::KDF decodeKDF(const JSON& o) {
    RepositoryConfig::KDF k;
    k.algorithm = J::text(J::member(o, "algorithm", "kdf"), "kdf.algorithm");
    k.iterations = J::int64(J::member(o, "iterations", "kdf"), "kdf.iterations");
    k.salt = J::toData(J::member(o, "salt", "kdf"), "kdf.salt");
    return k;
}

}  // namespace

RepositoryConfig::Error RepositoryConfig::Error::unsupportedVersion(std::int64_t found,
                                                                    RepositoryFormat::VersionRange supported) {
    Error e(Kind::unsupportedVersion,
            ErrorDescription("RepositoryConfig.Error", "unsupportedVersion")
                .add("found", found)
                .add("supported", std::to_string(supported.lowerBound) + "..." + std::to_string(supported.upperBound)));
    e.found = found;
    e.supported = supported;
    return e;
}

RepositoryConfig::Error RepositoryConfig::Error::malformed(std::string what) {
    Error e(Kind::malformed, ErrorDescription("RepositoryConfig.Error", "malformed").quoted("", what));
    e.message = std::move(what);
    return e;
}

RepositoryConfig::Error RepositoryConfig::Error::notARepository() {
    return Error(Kind::notARepository, "RepositoryConfig.Error.notARepository");
}

RepositoryConfig::RepositoryConfig(const RepositoryID& id, std::string createdBy_, Date createdAt_,
                                   std::int64_t formatVersion_)
    : magic(RepositoryFormat::magic),
      formatVersion(formatVersion_),
      repositoryID(id.data()),
      createdAt(createdAt_.repositoryPrecision()),
      createdBy(std::move(createdBy_)),
      cipher("ChaCha20-Poly1305"),
      hash("SHA-256"),
      blobID("HMAC-SHA256"),
      signature("Ed25519"),
      packTargetSize(RepositoryFormat::packTargetBytes) {}

std::optional<RepositoryID> RepositoryConfig::identity() const { return RepositoryID::fromBytes(repositoryID); }

BlobCipher::Sealing RepositoryConfig::blobSealing() const {
    return formatVersion == 1 ? BlobCipher::Sealing::fixedNonce : BlobCipher::Sealing::nonceFromStoredBytes;
}

wm::Chunker RepositoryConfig::makeChunker() const {
    return wm::Chunker(chunker.minSize, chunker.avgSize, chunker.maxSize, chunker.normalization);
}

Bytes RepositoryConfig::encoded() const {
    JSON o = JSON::object();
    o["magic"] = magic;
    o["formatVersion"] = formatVersion;
    o["repositoryID"] = J::data(repositoryID);
    o["createdAt"] = J::date(createdAt);
    o["createdBy"] = createdBy;
    o["cipher"] = cipher;
    o["hash"] = hash;
    o["blobID"] = blobID;
    o["signature"] = signature;
    o["packTargetSize"] = packTargetSize;
    o["chunker"] = JSON{{"algorithm", chunker.algorithm},
                        {"minSize", chunker.minSize},
                        {"avgSize", chunker.avgSize},
                        {"maxSize", chunker.maxSize},
                        {"normalization", chunker.normalization}};
    if (kdf) {
        o["kdf"] = JSON{{"algorithm", kdf->algorithm}, {"salt", J::data(kdf->salt)}, {"iterations", kdf->iterations}};
    }
    return J::encodeBytes(o, true);
}

RepositoryConfig RepositoryConfig::decode(ByteView data) {
    RepositoryConfig c;
    try {
        const JSON o = J::decode(data);
        c.blobID = J::text(J::member(o, "blobID"), "blobID");
        c.chunker = decodeChunker(J::member(o, "chunker"));
        c.cipher = J::text(J::member(o, "cipher"), "cipher");
        c.createdAt = J::toDate(J::member(o, "createdAt"), "createdAt");
        c.createdBy = J::text(J::member(o, "createdBy"), "createdBy");
        c.formatVersion = J::int64(J::member(o, "formatVersion"), "formatVersion");
        c.hash = J::text(J::member(o, "hash"), "hash");
        if (J::has(o, "kdf")) c.kdf = decodeKDF(o["kdf"]);
        c.magic = J::text(J::member(o, "magic"), "magic");
        c.packTargetSize = J::int64(J::member(o, "packTargetSize"), "packTargetSize");
        c.repositoryID = J::toData(J::member(o, "repositoryID"), "repositoryID");
        c.signature = J::text(J::member(o, "signature"), "signature");
    } catch (const std::exception&) {
        // Whatever the decoder's reason, the data is not a config file.
        throw Error::notARepository();
    }
    if (c.magic != RepositoryFormat::magic) throw Error::notARepository();
    if (!RepositoryFormat::supportedVersions.contains(c.formatVersion))
        throw Error::unsupportedVersion(c.formatVersion, RepositoryFormat::supportedVersions);
    if (c.repositoryID.size() != RepositoryID::size) throw Error::malformed("repositoryID is not 32 bytes");
    if (c.kdf && (c.kdf->algorithm != kKDFAlgorithm || c.kdf->salt.size() != 16 || c.kdf->iterations < 1 ||
                  c.kdf->iterations > kMaximumIterations))
        throw Error::malformed("kdf is not a passphrase setting Wendle Marsh writes");
    return c;
}

std::string createdByText(std::string_view appVersion, std::string_view hostPlatform) {
    return "WendleMarsh/" + std::string(appVersion) + " (" + std::string(hostPlatform) + ")";
}

}  // namespace wm
