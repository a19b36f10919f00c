#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>

#include "core/ErrorDescription.h"

namespace {

using wm::ErrorDescription;

// The shape every error shares: no parentheses without values, ", " between values,
// labels only where given, quotes only where asked, numbers of any width unchanged.
TEST(ErrorDescription, WritesTheSharedShape) {
    const std::pair<std::string, std::string> rows[] = {
        {ErrorDescription("T.Error", "none"), "T.Error.none"},
        {ErrorDescription("T", "one").add("", "x"), "T.one(x)"},
        {ErrorDescription("T", "two").add("a", -4).add("b", std::uint8_t{200}), "T.two(a: -4, b: 200)"},
        {ErrorDescription("T", "big").add("n", std::numeric_limits<std::uint64_t>::max()),
         "T.big(n: 18446744073709551615)"},
        {ErrorDescription("T", "q").quoted("field", "a b").quoted("", ""), "T.q(field: \"a b\", \"\")"},
        // No value ends the quotes or breaks the line.
        {ErrorDescription("T", "e").quoted("", "say \"hi\"\\\n\t\x01\x7f\x1b"),
         R"(T.e("say \"hi\"\\\n\t\u{1}\u{7f}\u{1b}"))"},
        {ErrorDescription("T", "opt").add("x", std::optional<std::int64_t>{}).add("y", std::optional<std::int64_t>{7}),
         "T.opt(x: nil, y: 7)"},
    };
    for (const auto& [built, expected] : rows) EXPECT_EQ(built, expected);
}

}  // namespace
