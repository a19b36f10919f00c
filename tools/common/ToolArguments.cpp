#include "ToolArguments.h"

#include <charconv>
#include <limits>

#include "ToolPhrasing.h"
#include "ToolRun.h"
#include "core/RepositoryJSON.h"

namespace wm::tools {

ToolArguments::ToolArguments(const std::vector<std::string>& arguments, const std::vector<ToolOption>& options) {
    auto find = [&](const std::string& name) -> const ToolOption* {
        for (const auto& option : options)
            if (option.name == name) return &option;
        return nullptr;
    };
    bool optionsEnded = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
            operands_.push_back(argument);
            continue;
        }
        if (argument == "--") {
            optionsEnded = true;
            continue;
        }
        const std::size_t equals = argument.find('=');
        const std::string name = argument.substr(0, equals);
        const ToolOption* option = find(name);
        if (!option) throw UsageError("unknown option " + name);
        if (!option->takesValue) {
            if (equals != std::string::npos) throw UsageError(name + " takes no value");
            values_[name] = "";
        } else if (equals != std::string::npos) {
            values_[name] = argument.substr(equals + 1);
        } else if (i + 1 < arguments.size()) {
            values_[name] = arguments[++i];
        } else {
            throw UsageError(name + " needs a value");
        }
    }
}

std::optional<std::string> ToolArguments::value(const std::string& name) const {
    const auto found = values_.find(name);
    if (found == values_.end()) return std::nullopt;
    return found->second;
}

std::optional<std::int64_t> ToolArguments::number(const std::string& name, std::int64_t lowest,
                                                  std::int64_t highest) const {
    const auto text = value(name);
    if (!text) return std::nullopt;
    return parseNumber(*text, name, lowest, highest);
}

std::optional<Date> ToolArguments::date(const std::string& name) const {
    const auto text = value(name);
    if (!text) return std::nullopt;
    if (auto date = RepositoryJSON::parseDate(*text)) return date;
    if (auto date = RepositoryJSON::parseWholeSecondDate(*text)) return date;
    throw UsageError(name + " needs an ISO 8601 date-time such as 2030-01-01T00:00:00Z, not " + inQuotes(*text));
}

std::int64_t parseNumber(const std::string& text, const std::string& what, std::int64_t lowest, std::int64_t highest) {
    std::int64_t value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end || value < lowest || value > highest) {
        const std::string range = highest == std::numeric_limits<std::int64_t>::max()
                                      ? "of at least " + std::to_string(lowest)
                                      : "from " + std::to_string(lowest) + " to " + std::to_string(highest);
        throw UsageError(what + " needs a whole number " + range + ", not " + inQuotes(text));
    }
    return value;
}

}  // namespace wm::tools
