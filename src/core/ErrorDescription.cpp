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
    return add(label, std::string_view("\"" + std::string(value) + "\""));
}

}  // namespace wm
