// Known streams: every valid one decodes to its plaintext, every malformed one is
// rejected with the expected kind of error.
#include <string>
#include <vector>

#include "LZFSETestData.h"

namespace wm::lzfse {
namespace {

Bytes repeat(const std::string& unit, int times) {
    Bytes out;
    for (int i = 0; i < times; ++i) out.insert(out.end(), unit.begin(), unit.end());
    return out;
}

const std::string v6Hex =
    "62767832881300000c005000000400700170614b440f00009400000032d0800c"
    "8f008700c021000087000000001c3e028fc6a300c0a300000000000000000000"
    "00000000000000000000000000000000f03d7c0fdfc3f7f03d7c0fdfc3f7f095"
    "fc24000000000000000000000000000000000000000000000000000000000000"
    "000000000000000000000000000000000000000000baba88ee00000000000000"
    "00006bf83ff83f0062767824";

const std::string h3Hex =
    "627678320d000000040010000002007000010830000900508900000020800008"
    "3c023c02000000008f0000c0230000008f063c1a000000000000000000000000"
    "00000000000000000000003c3a000000000000000000000000000000c0a3f3e8"
    "3c3a000000000000000000000000000000000000000000000000000000000000"
    "0000000000000000000000000000000000000062767824";

Bytes v5Stream() {
    Bytes s = hex("6276786ee80300000f010000e0eb");
    for (int i = 0; i <= 0xFA; ++i) s.push_back(static_cast<std::uint8_t>(i));
    Bytes tail = hex("38fbf0fff0fff0b4e1f6060000000000000062767824");
    s.insert(s.end(), tail.begin(), tail.end());
    return s;
}

Bytes v5Plain() {
    Bytes p;
    for (int i = 0; i < 1000; ++i) p.push_back(static_cast<std::uint8_t>(i % 251));
    return p;
}

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
    const Bytes v6 = hex(v6Hex);
    b.insert(b.end(), v6.begin() + 148, v6.end());
    return b;
}

struct ValidVector {
    const char* name;
    Bytes stream;
    Bytes plain;
};

std::vector<ValidVector> validVectors() {
    return {
        {"V1 empty", hex("6276782d0000000062767824"), {}},
        {"V2 abc", hex("6276782d0300000061626362767824"), bytesOf("abc")},
        {"V3 hello", hex("6276786e1700000014000000e668656c6c6f203806f6e16f060000000000000062767824"),
         bytesOf("hello hello hello hello")},
        {"V4 repeated unit",
         hex("6276786ee80300001f000000e861626364656667683808f0fff0fff0fff096e3666768060000000000000062767824"),
         repeat("abcdefgh", 125)},
        {"V5 ramp", v5Stream(), v5Plain()},
        {"V6 bvx2", hex(v6Hex), repeat("0123456789", 500)},
        {"V6 as bvx1", v6AsV1(), repeat("0123456789", 500)},
        {"H1 uncompressed blocks",
         hex("6276782d0500000048656c6c6f6276782d000000006276782d150000002c20756e636f6d7072657373656420776f726c642162"
             "767824"),
         bytesOf("Hello, uncompressed world!")},
        {"H2 every LZVN instruction",
         hex("6276786ec90000004f000000e0184142434445464748494a4b4c4d4e4f505152"
             "535455565758595a5b5c5d5e5f606162636465666768e378797a900751520e4e"
             "5abc79006162633f3200f9f05416e47461696c060000000000000062767824"),
         hex("4142434445464748494a4b4c4d4e4f505152535455565758595a5b5c5d5e5f60"
             "616263646566676878797a5152676878797a5a526768786162635d5e5f606162"
             "63646566676878797a51526768785d5e5f60616263646566676878797a515267"
             "6878797a5a526768786162635d5e5f60616263646566676878797a5152676878"
             "5d5e5f60616263646566676878797a5152676878797a5a526768786162635d5e"
             "5f60616263646566676878797a51526768785d5e5f6061626364656667687879"
             "7a515267687461696c")},
        {"H3 small bvx2", hex(h3Hex), bytesOf("abcabcabcabc!")},
        {"end marker only", hex("62767824"), {}},
    };
}

TEST(LZFSEVectors, ValidStreamsDecodeToTheirPlaintext) {
    for (const ValidVector& v : validVectors()) {
        SCOPED_TRACE(v.name);
        EXPECT_EQ(lzfseDecode(v.stream, v.plain.size()), v.plain);
    }
}

TEST(LZFSEVectors, ValidStreamsWithTheWrongExpectedSizeAreRejected) {
    for (const ValidVector& v : validVectors()) {
        SCOPED_TRACE(v.name);
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
    const char* name;
    Bytes stream;
    std::size_t expectedSize;
    LZFSEError::Kind kind;
    const char* reason = nullptr;  // part of the description, for malformed streams
};

// A copy of b with width bytes at at replaced by value.
Bytes with(Bytes b, std::size_t at, std::uint64_t value, int width) {
    putLE(b, at, value, width);
    return b;
}

std::vector<InvalidVector> invalidVectors() {
    using K = LZFSEError::Kind;
    const Bytes v6 = hex(v6Hex);
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
    return {
        {"N1 match before any distance",
         hex("6276782d030000006162636276786e0300000009000000f3060000000000000062767824"), 6, K::malformed,
         "without a distance"},
        {"N2 byte after LZVN end", hex("6276786e030000000d000000e361626306000000000000000062767824"), 3, K::malformed,
         "after the LZVN end-of-stream"},
        {"N3 LZVN with no content", hex("6276786e0000000008000000060000000000000062767824"), 0, K::malformed,
         "no content"},
        {"N4 no end marker", hex("6276782d03000000616263"), 3, K::truncated},
        {"N5 distance beyond the output",
         hex("6276783207000000040010000001007000010830000900008500000000000000"
             "c0a30000000000f0280000000000c0a30300000000000000000000000000f0e8"
             "0000000000000000000000000000000000000000000000003c3a8fcea3030000"
             "0000000000000000000000000000000000000000000000000000000000000000"
             "00000000000000000000000000000062767824"),
         7, K::malformed, "before the start of the output"},
        {"N6 repeat distance in first triple",
         hex("6276783207000000040010000001007000010830000800708500000000000000"
             "c0a30000000000f028000000008f0e000000000000000000000000000000f0e8"
             "0000000000000000000000000000000000000000000000003c3a8fcea3030000"
             "0000000000000000000000000000000000000000000000000000000000000000"
             "000000000000000000000000000062767824"),
         7, K::malformed, "repeats a distance"},
        {"N7 unknown magic", hex("6276783300000000"), 0, K::unknownMagic},
        {"empty input", {}, 0, K::truncated},
        {"partial magic", hex("627678"), 0, K::truncated},
        {"byte after end marker", v6Trailing, 5000, K::malformed, "after the end-of-stream marker"},
        {"LZVN end instruction cut short", hex("6276786e0100000006000000e1410600000062767824"), 1, K::malformed,
         "truncated LZVN end-of-stream"},
        {"LZVN payload past input", hex("6276786e0100000040000000e14106000000000000006276"), 1, K::truncated},
        {"LZVN reserved opcode", hex("6276786e010000000b0000001ee141060000000000000062767824"), 1, K::malformed,
         "invalid LZVN opcode"},
        {"LZVN literals past payload", hex("6276786e0100000004000000e541424362767824"), 1, K::malformed,
         "literals run past"},
        {"LZVN explicit distance 0", hex("6276786e0b0000000c000000e1413800060000000000000062767824"), 11, K::malformed,
         "without a distance"},
        {"LZVN distance beyond the output", hex("6276786e040000000c000000e1410002060000000000000062767824"), 4,
         K::malformed, "before the start of the output"},
        {"LZVN previous distance before any", hex("6276786e050000000c000000e1414642060000000000000062767824"), 5,
         K::malformed, "without a distance"},
        {"LZVN longer than its size", hex("6276786e020000000c000000e3414243060000000000000062767824"), 2, K::malformed,
         "longer than its declared size"},
        {"LZVN shorter than its size", hex("6276786e040000000c000000e3414243060000000000000062767824"), 4, K::malformed,
         "shorter than its declared size"},
        {"raw block past input", hex("6276782d0a0000006162"), 10, K::truncated},
        {"raw block beyond expected size",
         hex("6276782d030000006162636276782d03000000616263"
             "62767824"),
         5, K::sizeMismatch},
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
}

TEST(LZFSEVectors, MalformedStreamsAreRejected) {
    for (const InvalidVector& v : invalidVectors()) {
        SCOPED_TRACE(v.name);
        try {
            lzfseDecode(v.stream, v.expectedSize);
            ADD_FAILURE() << "accepted";
        } catch (const LZFSEError& e) {
            EXPECT_EQ(e.kind, v.kind) << e.what();
            if (v.reason != nullptr) {
                EXPECT_NE(e.reason.find(v.reason), std::string::npos) << e.what();
            }
        }
    }
}

TEST(LZFSEVectors, ErrorsNameTheirCase) {
    try {
        lzfseDecode(hex("6276783300000000"), 0);
        FAIL();
    } catch (const LZFSEError& e) {
        EXPECT_STREQ(e.what(), "LZFSEError.unknownMagic(offset: 0, magic: 0x33787662)");
        EXPECT_EQ(e.magic, 0x33787662u);
    }
    try {
        lzfseDecode(hex("6276782d0300000061626362767824"), 4);
        FAIL();
    } catch (const LZFSEError& e) {
        EXPECT_STREQ(e.what(), "LZFSEError.sizeMismatch(expected: 4, actual: 3)");
    }
}

}  // namespace
}  // namespace wm::lzfse
