// Known streams from tests/data/crypto: every valid one decodes to its plaintext and only at
// its size, which its headers declare; every malformed one is rejected with the expected kind
// of error and reason.
#include <map>
#include <string>

#include "LZFSETestData.h"
#include "crypto/lzfse/DeclaredSize.h"
#include "support/DataTable.h"
#include "support/Thrown.h"

namespace wm::lzfse {
namespace {

TEST(LZFSEVectors, ValidStreamsDecodeToTheirPlaintextAndOnlyAtTheirSize) {
    for (const auto& row : test::dataTable("crypto/lzfse-valid.tsv", 3)) {
        SCOPED_TRACE(row[0]);
        // The plaintext is hex, or "X*N" for the bytes of X repeated N times.
        const auto star = row.at(2).find('*');
        const Bytes stream = hex(row.at(1)), unit = hex(row[2].substr(0, star));
        Bytes plain;
        for (int i = 0, n = star == std::string::npos ? 1 : std::stoi(row[2].substr(star + 1)); i < n; ++i)
            plain.insert(plain.end(), unit.begin(), unit.end());
        EXPECT_EQ(lzfseDecode(stream, plain.size()), plain);
        EXPECT_EQ(declaredSize(stream), plain.size());
        for (std::size_t wrong : {plain.size() + 1, plain.size() > 0 ? plain.size() - 1 : 5})
            EXPECT_EQ(test::thrown<LZFSEError>([&] { lzfseDecode(stream, wrong); }).kind,
                      LZFSEError::Kind::sizeMismatch);
    }
}

TEST(LZFSEVectors, MalformedStreamsAreRejected) {
    using K = LZFSEError::Kind;
    const std::map<std::string, K> kinds = {{"malformed", K::malformed},
                                            {"truncated", K::truncated},
                                            {"unknownMagic", K::unknownMagic},
                                            {"sizeMismatch", K::sizeMismatch}};
    for (const auto& row : test::dataTable("crypto/lzfse-invalid.tsv", 5)) {
        SCOPED_TRACE(row[0]);
        const auto e = test::thrown<LZFSEError>([&] { lzfseDecode(hex(row.at(1)), std::stoul(row.at(2))); });
        EXPECT_EQ(e.kind, kinds.at(row.at(3))) << e.what();
        EXPECT_NE(e.reason.find(row.at(4)), std::string::npos) << e.what();
    }
}

}  // namespace
}  // namespace wm::lzfse
