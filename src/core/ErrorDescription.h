#pragma once
// The printable description of one case of an error, in the form every error of this
// project shares: "Type.case" for a case without values, otherwise
// "Type.case(label: value, value, label: \"text\")". Labels are optional per value.
//
//   ErrorDescription("ByteCursor.Error", "truncated").add("needed", 4).add("remaining", 2)
//       -> "ByteCursor.Error.truncated(needed: 4, remaining: 2)"
#include <concepts>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace wm {

class ErrorDescription {
public:
    ErrorDescription(std::string_view type, std::string_view caseName);

    // A value written as it is; an empty label writes the value alone.
    ErrorDescription& add(std::string_view label, std::string_view value);
    template <std::integral Number>
    requires(!std::same_as<Number, bool>) ErrorDescription& add(std::string_view label, Number value) {
        return add(label, std::string_view(std::to_string(value)));
    }
    // An absent number is written "nil".
    ErrorDescription& add(std::string_view label, std::optional<std::int64_t> value);
    // A text written in double quotes (quotedText).
    ErrorDescription& quoted(std::string_view label, std::string_view value);

    // The finished description.
    std::string text() const { return hasValues_ ? text_ + ")" : text_; }
    operator std::string() const { return text(); }  // NOLINT(google-explicit-constructor)

private:
    std::string text_;
    bool hasValues_ = false;
};

// A text in double quotes as every error description writes it: a double quote, a backslash,
// a line break, a carriage return and a tab are escaped with a backslash, any other control
// character as \u{hex}, so that no value can end the quotes or break the line.
std::string quotedText(std::string_view value);

}  // namespace wm
