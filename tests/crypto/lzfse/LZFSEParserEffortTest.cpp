// The parser searches less deeply in stretches that look like binary data, and never in
// text: text must come out exactly as the full search makes it.
#include <tuple>
#include <vector>

#include "LZFSETestData.h"
#include "crypto/lzfse/Format.h"
#include "crypto/lzfse/Parser.h"

namespace wm::lzfse {
namespace {

using Sequence = std::tuple<std::size_t, std::size_t, std::size_t, std::uint32_t>;

class Recorder final : public SequenceSink {
public:
    void sequence(std::size_t literalStart, std::size_t literalLength, std::size_t matchLength,
                  std::uint32_t distance) override {
        sequences.emplace_back(literalStart, literalLength, matchLength, distance);
    }
    void finish(std::size_t literalStart, std::size_t literalLength) override {
        sequences.emplace_back(literalStart, literalLength, 0, 0);
    }
    std::vector<Sequence> sequences;
};

std::vector<Sequence> parsed(ByteView input, int binaryChain) {
    Recorder recorder;
    parse(input, ParserSettings{maxLZFSEDistance, 16, 128, true, binaryChain}, recorder);
    return recorder.sequences;
}

// Machine-code-like bytes: short records with zero bytes, small numbers and repeats.
Bytes binaryOf(std::size_t n, std::uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes b;
    while (b.size() < n) {
        const std::uint8_t record[] = {0x48, 0x8B, static_cast<std::uint8_t>(rng() % 8 * 8), 0x00,
                                       static_cast<std::uint8_t>(rng()), 0x00, 0x00, 0x00,
                                       static_cast<std::uint8_t>(0xE8 + rng() % 2), static_cast<std::uint8_t>(rng())};
        b.insert(b.end(), record, record + 3 + rng() % 8);
    }
    b.resize(n);
    return b;
}

TEST(LZFSEParserEffort, BinaryDataIsToldFromText) {
    struct Case {
        const char* name;
        Bytes bytes;
        bool binary;
    };
    // Every 8th byte is looked at: a NUL every 256 bytes is exactly 1 in 32 of those.
    Bytes oneIn32(25600, 'a');
    for (std::size_t i = 0; i < oneIn32.size(); i += 32 * binarySampleStep) oneIn32[i] = 0x00;
    Bytes justOver = oneIn32;
    justOver[binarySampleStep] = 0x1F;
    Bytes between(25600, 'a');
    for (std::size_t i = 1; i < between.size(); i += 2) between[i] = 0x00;
    const Case cases[] = {
        {"empty", {}, false},
        {"text", textBytes(70000, 1), false},
        {"every text control", Bytes{'\t', '\n', 0x0B, 0x0C, '\r', ' ', 'a'}, false},
        {"UTF-8 and high bytes", Bytes{0xC3, 0xA9, 0xE2, 0x80, 0x94, 0xFF, 0x80}, false},
        {"one control byte in 32", oneIn32, false},
        {"just over one in 32", justOver, true},
        {"control bytes between the samples", between, false},
        {"a DEL", Bytes{0x7F}, true},
        {"machine code", binaryOf(70000, 2), true},
    };
    for (const auto& c : cases) EXPECT_EQ(looksBinary(c.bytes), c.binary) << c.name;
}

TEST(LZFSEParserEffort, TextGetsTheFullSearch) {
    const Bytes text = textBytes(3 * binaryStretch + 1234, 3);
    ASSERT_FALSE(looksBinary(text));
    EXPECT_EQ(parsed(text, 1), parsed(text, 16));
}

TEST(LZFSEParserEffort, OnlyBinaryStretchesSearchLess) {
    // text | binary | the same text again, each a whole stretch.
    const Bytes text = textBytes(binaryStretch, 4);
    const Bytes binary = binaryOf(binaryStretch, 5);
    Bytes input = text;
    input.insert(input.end(), binary.begin(), binary.end());
    input.insert(input.end(), text.begin(), text.end());

    const auto reduced = parsed(input, 1);
    const auto full = parsed(input, 16);
    auto within = [](const std::vector<Sequence>& all, std::size_t from, std::size_t to) {
        std::vector<Sequence> out;
        for (const auto& s : all)
            if (std::get<0>(s) >= from && std::get<0>(s) < to) out.push_back(s);
        return out;
    };
    EXPECT_EQ(within(reduced, 0, binaryStretch), within(full, 0, binaryStretch));
    EXPECT_NE(within(reduced, binaryStretch, 2 * binaryStretch), within(full, binaryStretch, 2 * binaryStretch));
    for (const Bytes& data : {input, binaryOf(3 * binaryStretch + 77, 6)}) {
        const Bytes stream = lzfseEncode(data);
        EXPECT_LT(stream.size(), data.size() / 2);
        EXPECT_EQ(lzfseDecode(stream, data.size()), data);
    }
}

}  // namespace
}  // namespace wm::lzfse
