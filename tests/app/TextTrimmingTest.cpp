#include "core/TextTrimming.h"

#include <gtest/gtest.h>


namespace wm {
namespace {

// The fields trim horizontal space only; a secret file loses its line breaks too. Broken
// bytes are never trimmed.
TEST(TextTrimmingTest, FieldsTrimSpaceAndSecretFilesLineBreaksToo) {
    const std::tuple<std::string, std::string, std::string> cases[] = {  // text, horizontal, full
        {" \tsecret\t ", "secret", "secret"},     {"\u00A0secret\u3000", "secret", "secret"},
        {"\u2003a b\u202F", "a b", "a b"},         {"secret\r\n", "secret\r\n", "secret"},
        {"\n\t secret words \u2028\u0085\n", "\n\t secret words \u2028\u0085\n", "secret words"},
        {"\u00A0\v\fsecret", "\v\fsecret", "secret"}, {"\xFF secret \xFF", "\xFF secret \xFF", "\xFF secret \xFF"},
    };
    for (const auto& [in, horizontal, full] : cases) {
        EXPECT_EQ(TextTrimming::horizontal(in), horizontal) << in;
        EXPECT_EQ(TextTrimming::whitespaceAndNewlines(in), full) << in;
    }
}

}  // namespace
}  // namespace wm
