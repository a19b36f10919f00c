#include <gtest/gtest.h>

#include <map>

#include "core/Base64.h"
#include "core/RepositoryJSON.h"
#include "format/Chunker.h"
#include "format/Fixtures.h"
#include "format/HostPlatform.h"
#include "format/RepositoryConfig.h"
#include "support/DataTable.h"

namespace wm {
namespace {

using Kind = RepositoryConfig::Error::Kind;

JSON validJSON() {
    RepositoryConfig c(test::blobFilled<RepositoryID>(7), "WendleMarsh/0.1.3 (6.1.0)",
                       Date::fromMicroseconds(1700000000123000));
    return RepositoryJSON::decode(c.encoded());
}

RepositoryConfig::Error decodeError(ByteView bytes) {
    return test::thrown<RepositoryConfig::Error>([&] { RepositoryConfig::decode(bytes); });
}

TEST(RepositoryConfig, NewConfigRoundTripsWithSortedKeysAndTheSealingOfItsVersion) {
    RepositoryConfig c(test::blobFilled<RepositoryID>(1), "WendleMarsh/0.1.3 (6.1.0)",
                       Date::fromMicroseconds(1700000000123456));
    EXPECT_EQ(c.identity(), test::blobFilled<RepositoryID>(1));
    EXPECT_EQ(c.blobSealing(), BlobCipher::Sealing::nonceFromStoredBytes);
    // Every value a reader meets, and no kdf; on disk pretty-printed with sorted keys.
    EXPECT_EQ(stringOf(c.encoded()), test::dataText("format/repository-config.json"));
    EXPECT_EQ(RepositoryConfig::decode(c.encoded()), c);

    c.kdf = RepositoryConfig::KDF{"PBKDF2-HMAC-SHA256", Bytes(16, 3), 600000};
    EXPECT_EQ(RepositoryConfig::decode(c.encoded()), c);
    EXPECT_EQ(RepositoryConfig(test::blobFilled<RepositoryID>(1), "x", Date{}, 1).blobSealing(),
              BlobCipher::Sealing::fixedNonce);
}

TEST(RepositoryConfig, DecodingClassifiesEveryFault) {
    const std::map<std::string, Kind> kinds = {{"notARepository", Kind::notARepository},
                                               {"unsupportedVersion", Kind::unsupportedVersion},
                                               {"malformed", Kind::malformed}};
    for (const auto& row : test::dataTable("format/config-faults.tsv", 4)) {
        JSON j = validJSON();
        j.merge_patch(JSON::parse(row[1]));
        const auto e = decodeError(RepositoryJSON::encodeBytes(j, true));
        EXPECT_EQ(e.kind, kinds.at(row[2])) << row[0];
        EXPECT_EQ(e.message, row[3]) << row[0];
        if (e.kind == Kind::unsupportedVersion) {
            EXPECT_EQ(e.found, j["formatVersion"].get<std::int64_t>());
            EXPECT_EQ(e.supported, (RepositoryFormat::VersionRange{1, 2}));
        }
    }
    for (const char* junk : {"", "null", "[]", "{", "\"text\"", "\xFF\xFE"})
        EXPECT_EQ(decodeError(viewOf(junk)).kind, Kind::notARepository) << junk;
}

TEST(RepositoryConfig, AcceptedEdges) {
    JSON j = validJSON();
    j["kdf"] = nullptr;  // null reads as absent
    j["somethingNew"] = 1;
    auto c = RepositoryConfig::decode(RepositoryJSON::encodeBytes(j, false));
    EXPECT_FALSE(c.kdf);
    EXPECT_EQ(stringOf(c.encoded()).find("kdf"), std::string::npos);

    j["kdf"] = {{"algorithm", "PBKDF2-HMAC-SHA256"}, {"salt", Base64::encode(Bytes(16, 1))}, {"iterations", 10000000}};
    j["formatVersion"] = 1;
    c = RepositoryConfig::decode(RepositoryJSON::encodeBytes(j, false));
    EXPECT_EQ(std::pair(c.kdf->iterations, c.formatVersion), std::pair(std::int64_t{10000000}, std::int64_t{1}));
    EXPECT_EQ(c.makeChunker().avgSize(), 1048576);
    j["chunker"]["minSize"] = 0;  // read as it is, refused when used
    EXPECT_THROW(RepositoryConfig::decode(RepositoryJSON::encodeBytes(j, false)).makeChunker(), Chunker::Error);
}

TEST(HostPlatform, VersionTextFromTheRelease) {
    const std::pair<const char*, const char*> rows[] = {
        {"6.1.0-18-amd64", "6.1.0"},
        {"5.15.90.1-microsoft-standard-WSL2", "5.15.90"},
        {"6.8", "6.8.0"},
        {"4", "4.0.0"},
        {"", "0.0.0"},
        {"abc", "0.0.0"},
    };
    for (const auto& [release, text] : rows) EXPECT_EQ(platformVersionText(release), text) << release;
    const std::string host = hostPlatform();
    EXPECT_EQ(std::count(host.begin(), host.end(), '.'), 2);
    EXPECT_EQ(createdByText("0.1.3", "14.5.0"), "WendleMarsh/0.1.3 (14.5.0)");
}

}  // namespace
}  // namespace wm
