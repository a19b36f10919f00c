#pragma once
// The command line of a development tool, read the way Linux tools read theirs: options
// before, between or after the operands, "--opt value" and "--opt=value" alike, "--" ends
// the options. --help and --version are answered by runTool (ToolRun.h).
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/Date.h"

namespace wm::tools {

struct ToolOption {
    std::string name;  // as typed: "--keep-last", "-i"
    bool takesValue = false;
};

class ToolArguments {
public:
    // Throws UsageError for an option not in `options`, a value missing or given to a flag.
    ToolArguments(const std::vector<std::string>& arguments, const std::vector<ToolOption>& options);

    const std::vector<std::string>& operands() const { return operands_; }
    bool has(const std::string& name) const { return values_.count(name) != 0; }
    // The value of the option's last occurrence.
    std::optional<std::string> value(const std::string& name) const;
    // The value as a whole decimal number from lowest to highest; anything else throws
    // UsageError naming the option and the range.
    std::optional<std::int64_t> number(const std::string& name, std::int64_t lowest, std::int64_t highest) const;
    // The value as an ISO 8601 date-time with a "Z" or "+hh:mm" offset, whole or fractional
    // seconds; anything else throws UsageError.
    std::optional<Date> date(const std::string& name) const;

private:
    std::vector<std::string> operands_;
    std::map<std::string, std::string> values_;
};

// The whole text as a decimal number from lowest to highest; anything else throws
// UsageError naming `what`.
std::int64_t parseNumber(const std::string& text, const std::string& what, std::int64_t lowest, std::int64_t highest);

}  // namespace wm::tools
