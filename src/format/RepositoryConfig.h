#pragma once
// The repository config file "wendlemarsh.repo": plain pretty-printed JSON, neither sealed
// nor signed, so it can be read before any key is known.
#include <cstdint>
#include <optional>
#include <string>

#include "core/Bytes.h"
#include "core/Date.h"
#include "core/Error.h"
#include "core/Identifiers.h"
#include "crypto/BlobCipher.h"
#include "format/RepositoryFormat.h"

namespace wm {

class Chunker;

struct RepositoryConfig {
    // The parameters of the content-defined chunker, as read: they are not checked here.
    struct Chunker {
        std::string algorithm = "FastCDC";
        std::int64_t minSize = RepositoryFormat::chunkMinBytes;
        std::int64_t avgSize = RepositoryFormat::chunkAvgBytes;
        std::int64_t maxSize = RepositoryFormat::chunkMaxBytes;
        std::int64_t normalization = 2;
        friend bool operator==(const Chunker&, const Chunker&) = default;
    };

    // Passphrase key-derivation settings; present only when the repository has a passphrase.
    struct KDF {
        std::string algorithm;  // "PBKDF2-HMAC-SHA256"
        Bytes salt;             // 16 bytes
        std::int64_t iterations = 0;
        friend bool operator==(const KDF&, const KDF&) = default;
    };

    class Error : public wm::Error {
    public:
        enum class Kind { unsupportedVersion, malformed, notARepository };
        static Error unsupportedVersion(std::int64_t found, RepositoryFormat::VersionRange supported);
        static Error malformed(std::string what);
        static Error notARepository();

        Kind kind;
        std::int64_t found = 0;                          // unsupportedVersion
        RepositoryFormat::VersionRange supported{0, 0};  // unsupportedVersion
        std::string message;                             // malformed

        friend bool operator==(const Error& a, const Error& b) {
            return a.kind == b.kind && a.found == b.found && a.supported == b.supported && a.message == b.message;
        }

    private:
        Error(Kind k, const std::string& description) : wm::Error(description), kind(k) {}
    };

    std::string magic;
    std::int64_t formatVersion = 0;
    Bytes repositoryID;
    Date createdAt;
    std::string createdBy;
    std::string cipher;
    std::string hash;
    std::string blobID;
    std::string signature;
    std::int64_t packTargetSize = 0;
    Chunker chunker;
    std::optional<KDF> kdf;

    // A new repository's config; createdAt is rounded to whole milliseconds, kdf absent.
    RepositoryConfig(const RepositoryID& repositoryID, std::string createdBy, Date createdAt,
                     std::int64_t formatVersion = RepositoryFormat::version);

    // Nothing unless repositoryID is 32 bytes (decode guarantees it).
    std::optional<RepositoryID> identity() const;
    // fixedNonce for format 1, nonceFromStoredBytes for every later version.
    BlobCipher::Sealing blobSealing() const;
    // A chunker with this config's parameters. The chunker block is not checked when the
    // config is read, so unusable numbers throw wm::Chunker::Error here.
    wm::Chunker makeChunker() const;

    // Pretty-printed, sorted-key JSON; the "kdf" key is left out when absent.
    Bytes encoded() const;
    // Parses and checks a config file. Throws RepositoryConfig::Error only.
    static RepositoryConfig decode(ByteView data);

    friend bool operator==(const RepositoryConfig&, const RepositoryConfig&) = default;

private:
    RepositoryConfig() = default;
};

// "WendleMarsh/<appVersion> (<hostPlatform>)": the createdBy text of a new repository.
std::string createdByText(std::string_view appVersion, std::string_view hostPlatform);

}  // namespace wm
