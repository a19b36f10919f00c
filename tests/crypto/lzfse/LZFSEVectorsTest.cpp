// Known streams: every valid one decodes to its plaintext, every malformed one is
// rejected with the expected kind of error. The streams written out in full live in
// tests/data/crypto; the ones here are made from V6 by changing one field.
#include <map>
#include <string>
#include <vector>

#include "LZFSETestData.h"
#include "support/DataTable.h"

namespace wm::lzfse {
namespace {

// Hex, or "X*N" for the bytes of X repeated N times.
Bytes hexRepeated(const std::string& text) {
    const auto star = text.find('*');
    const Bytes unit = hex(text.substr(0, star));
    Bytes out;
    for (int i = 0, n = star == std::string::npos ? 1 : std::stoi(text.substr(star + 1)); i < n; ++i)
        out.insert(out.end(), unit.begin(), unit.end());
    return out;
}

struct ValidVector {
    std::string name;
    Bytes stream;
    Bytes plain;
};

const std::vector<ValidVector>& validVectors() {
    static const std::vector<ValidVector> vectors = [] {
        std::vector<ValidVector> out;
        for (const auto& row : test::dataTable(test::dataFile("crypto/lzfse-valid.tsv"), 3, '\t'))
            out.push_back({row.at(0), hex(row.at(1)), hexRepeated(row.at(2))});
        return out;
    }();
    return vectors;
}

Bytes v6Stream() { return validVectors().at(5).stream; }

// V6 with its header rewritten in the uncompressed v1 form: the fixed fields, the frequency
// tables (L, M and D entries, then literals by byte value), then V6's payloads and end.
Bytes v6AsV1() {
    Bytes b = hex("6276783188130000140000000c00000004000000050000000f00000000000000"
                  "01005c00b6001101f9ffffff32003400c800");
    b.resize(772);
    const std::pair<std::size_t, std::uint16_t> frequencies[] = {
        {50, 32},  {54, 16},  {70, 16},  {90, 16},  {126, 16},           {128, 32},
        {130, 128}, {132, 64}, {144, 64}, {258 + 2 * '8', 173}, {258 + 2 * '9', 171}};
    for (const auto& [at, frequency] : frequencies) putLE(b, at, frequency, 2);
    for (std::size_t c = '0'; c <= '7'; ++c) putLE(b, 258 + 2 * c, 85, 2);
    const Bytes v6 = v6Stream();
    b.insert(b.end(), v6.begin() + 148, v6.end());
    return b;
}

TEST(LZFSEVectors, ValidStreamsDecodeToTheirPlaintextAndOnlyAtTheirSize) {
    std::vector<ValidVector> vectors = validVectors();
    vectors.push_back({"V6 as bvx1", v6AsV1(), validVectors().at(5).plain});
    for (const ValidVector& v : vectors) {
        SCOPED_TRACE(v.name);
        EXPECT_EQ(lzfseDecode(v.stream, v.plain.size()), v.plain);
        for (std::size_t wrong : {v.plain.size() + 1, v.plain.size() > 0 ? v.plain.size() - 1 : 5}) {
            try {
                lzfseDecode(v.stream, wrong);
                ADD_FAILURE() << "accepted size " << wrong;
            } catch (const LZFSEError& e) {
                EXPECT_EQ(e.kind, LZFSEError::Kind::sizeMismatch) << e.what();
            }
        }
    }
}

struct InvalidVector {
    std::string name;
    Bytes stream;
    std::size_t expectedSize;
    LZFSEError::Kind kind;
    std::string reason;  // part of the description, for malformed streams
};

// A copy of b with width bytes at at replaced by value.
Bytes with(Bytes b, std::size_t at, std::uint64_t value, int width) {
    putLE(b, at, value, width);
    return b;
}

std::vector<InvalidVector> invalidVectors() {
    using K = LZFSEError::Kind;
    const Bytes v6 = v6Stream();
    const Bytes v1 = v6AsV1();
    auto word = [&](std::size_t at) {
        std::uint64_t v = 0;
        for (std::size_t i = 8; i-- > 0;) v = v << 8 | v6[at + i];
        return v;
    };
    const std::uint64_t p0 = word(8), p1 = word(16), p2 = word(24);
    auto v6Field = [&](std::size_t at, std::uint64_t value) { return with(v6, at, value, 8); };
    Bytes v6Trailing = v6;
    v6Trailing.push_back(0);
    std::vector<InvalidVector> vectors = {
        {"byte after end marker", v6Trailing, 5000, K::malformed, "after the end-of-stream marker"},
        {"v2 header cut short", Bytes(v6.begin(), v6.begin() + 100), 5000, K::truncated},
        {"v2 payload past input", Bytes(v6.begin(), v6.end() - 10), 5000, K::truncated},
        {"v2 literal count not a multiple of 4", v6Field(8, p0 + 1), 5000, K::malformed, "multiple of 4"},
        {"v2 too many literals", v6Field(8, (p0 & ~0xFFFFFull) | 40004), 5000, K::malformed, "too many literals"},
        {"v2 too many matches", v6Field(8, (p0 & ~(0xFFFFFull << 40)) | (10001ull << 40)), 5000, K::malformed,
         "too many matches"},
        {"v2 L state out of range", v6Field(24, p2 | (64ull << 32)), 5000, K::malformed, "state out of range"},
        {"v2 M state out of range", v6Field(24, (p2 & ~(0x3FFull << 42)) | (64ull << 42)), 5000, K::malformed,
         "state out of range"},
        {"v2 D state out of range", v6Field(24, p2 | (0x300ull << 52)), 5000, K::malformed, "state out of range"},
        {"v2 header size below 32", v6Field(24, (p2 & ~0xFFFFFFFFull) | 31), 5000, K::malformed,
         "below its fixed part"},
        {"v2 header size beyond input", v6Field(24, (p2 & ~0xFFFFFFFFull) | 4000), 5000, K::truncated},
        {"v2 header with a spare byte", v6Field(24, p2 + 1), 5000, K::malformed, "longer than its frequency tables"},
        {"v2 frequency table past header", v6Field(24, p2 - 1), 5000, K::malformed, "runs past the header"},
        {"v2 tables omitted with matches", v6Field(24, (p2 & ~0xFFFFFFFFull) | 32), 5000, K::malformed, "incomplete"},
        {"v2 declared size too small", with(v6, 4, 0x87, 1), 5000, K::malformed, "longer than its declared size"},
        {"v2 declared size too large", with(v6, 4, 0x89, 1), 5001, K::malformed, "shorter than its declared size"},
        {"v2 declared size beyond expected", with(v6, 5, 0x14, 1), 5000, K::sizeMismatch},
        {"v2 literal padding bits set", v6Field(8, (p0 & ~(7ull << 60)) | (6ull << 60)), 5000, K::malformed,
         "literal payload padding"},
        {"v2 match padding bits set", with(v6, 167, 0x02, 1), 5000, K::malformed, "match payload padding"},
        {"v2 literal stream exhausted", v6Field(8, (p0 & ~(0xFFFFFull << 20)) | (1ull << 20)), 5000, K::malformed,
         "literal payload exhausted"},
        {"v2 match stream too short", v6Field(16, (p1 & ~(0xFFFFFull << 40)) | (2ull << 40)), 5000, K::malformed,
         "match payload exhausted"},
        {"v2 triples use more literals than coded", v6Field(8, (p0 & ~0xFFFFFull) | 8), 5000, K::malformed,
         "more literals"},
        {"v1 bit adjustment -8", with(v1, 40, std::uint32_t(-8), 4), 5000, K::malformed, "bit adjustment"},
        {"v1 L frequencies sum to 65", with(v1, 50, 33, 2), 5000, K::malformed, "more than its state count"},
        // Below the state count, some states would belong to no symbol.
        {"v1 L frequencies sum to 63", with(v1, 50, 31, 2), 5000, K::malformed, "incomplete"},
        {"v1 D state out of range", with(v1, 48, 256, 2), 5000, K::malformed, "state out of range"},
    };
    const std::map<std::string, K> kinds = {{"malformed", K::malformed}, {"truncated", K::truncated},
                                            {"unknownMagic", K::unknownMagic}, {"sizeMismatch", K::sizeMismatch}};
    for (const auto& row : test::dataTable(test::dataFile("crypto/lzfse-invalid.tsv"), 5, '\t'))
        vectors.push_back({row.at(0), hex(row.at(1)), std::stoul(row.at(2)), kinds.at(row.at(3)), row.at(4)});
    return vectors;
}

TEST(LZFSEVectors, MalformedStreamsAreRejected) {
    for (const InvalidVector& v : invalidVectors()) {
        SCOPED_TRACE(v.name);
        try {
            lzfseDecode(v.stream, v.expectedSize);
            ADD_FAILURE() << "accepted";
        } catch (const LZFSEError& e) {
            EXPECT_EQ(e.kind, v.kind) << e.what();
            EXPECT_NE(e.reason.find(v.reason), std::string::npos) << e.what();
        }
    }
}

}  // namespace
}  // namespace wm::lzfse
