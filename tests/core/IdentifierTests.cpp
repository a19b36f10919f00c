#include <gtest/gtest.h>

#include "core/Base64.h"
#include "core/Hex.h"
#include "core/Identifiers.h"

namespace {

using namespace wm;

TEST(Hex, EncodeAndDecode) {
    EXPECT_EQ(Hex::encode(Bytes{0x00, 0xab, 0xff}), "00abff");
    EXPECT_EQ(Hex::decode("00ABff"), (Bytes{0x00, 0xab, 0xff}));
    EXPECT_EQ(Hex::decode(""), Bytes{});
    for (const char* bad : {"0", "abc", "zz", "0g", " 0", "0x00"}) EXPECT_FALSE(Hex::decode(bad).has_value()) << bad;
}

TEST(Base64, EncodeAndDecode) {
    const std::pair<const char*, const char*> cases[] = {{"", ""},        {"f", "Zg=="},        {"fo", "Zm8="},
                                                         {"foo", "Zm9v"}, {"foob", "Zm9vYg=="}, {"\xff\xfe", "//4="}};
    for (const auto& [plain, text] : cases) {
        EXPECT_EQ(Base64::encode(bytesOf(plain)), text);
        EXPECT_EQ(Base64::decode(text), bytesOf(plain));
    }
    for (const char* bad : {"Zg", "Zg=", "Z===", "Zm9v\n", "Zm-v", "====", "Zg==Zg=="})
        EXPECT_FALSE(Base64::decode(bad).has_value()) << bad;
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
