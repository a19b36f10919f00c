#include "core/ErrorDescription.h"

namespace wm {

ErrorDescription::ErrorDescription(std::string_view type, std::string_view caseName) {
    text_.reserve(type.size() + caseName.size() + 32);
    text_.append(type).append(".").append(caseName);
}

ErrorDescription& ErrorDescription::add(std::string_view label, std::string_view value) {
    text_.append(hasValues_ ? ", " : "(");
    hasValues_ = true;
    if (!label.empty()) text_.append(label).append(": ");
    text_.append(value);
    return *this;
}

ErrorDescription& ErrorDescription::add(std::string_view label, std::optional<std::int64_t> value) {
    return add(label, value ? std::string_view(std::to_string(*value)) : std::string_view("nil"));
}

ErrorDescription& ErrorDescription::quoted(std::string_view label, std::string_view value) {
    return add(label, std::string_view(quotedText(value)));
}

std::string quotedText(std::string_view value) {
    std::string out = "\"";
    for (unsigned char c : value) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20 || c == 0x7f) {
                static const char* digits = "0123456789abcdef";
                out += "\\u{";
                if (c >= 0x10) out += digits[c >> 4];
                out += digits[c & 0xf];
                out += "}";
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + "\"";
}

}  // namespace wm
