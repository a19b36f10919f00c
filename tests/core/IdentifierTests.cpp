#include <gtest/gtest.h>

#include "core/Base64.h"
#include "core/Hex.h"
#include "core/Identifiers.h"
#include "support/DataTable.h"

namespace {

using namespace wm;

TEST(HexAndBase64, WrittenAndRead) {
    auto read = [](auto decode) {
        return [decode](const std::string& text) {
            const auto bytes = decode(text);
            return bytes ? stringOf(*bytes) : std::string("refused");
        };
    };
    test::expectAnswers("core/identifiers.tsv",
                        {{"hex", [](const std::string& s) { return Hex::encode(bytesOf(s)); }},
                         {"unhex", read(Hex::decode)},
                         {"base64", [](const std::string& s) { return Base64::encode(bytesOf(s)); }},
                         {"unbase64", read(Base64::decode)}});
}

TEST(Identifiers, UUIDTextForms) {
    const auto u = UUID::parse("e621e1f8-c36c-495a-93fc-0c247a3e6e5f");
    EXPECT_EQ(u->uuidString(), "E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
    EXPECT_EQ(UUID::parse(u->compactHex()), u);
    for (const char* bad : {"", "e621e1f8-c36c-495a-93fc-0c247a3e6e5", "e621e1f8c36c-495a-93fc-0c247a3e6e5ff",
                            "g621e1f8-c36c-495a-93fc-0c247a3e6e5f"})
        EXPECT_FALSE(UUID::parse(bad).has_value()) << bad;
    const UUID r = UUID::random();
    EXPECT_EQ(std::pair(r.bytes[6] >> 4, r.bytes[8] & 0xc0), std::pair(4, 0x80));
}

}  // namespace
