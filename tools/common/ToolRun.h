#pragma once
// How every development tool starts and ends: --help and --version answered, a usage error
// printed with the usage (exit status 2), any failure printed as one sentence (exit status 1).
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "ToolArguments.h"

namespace wm::tools {

// A command line the tool cannot run; printed with the usage.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A failure the tool has already worded; printed as it is.
class ToolRefusal : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct ToolDescription {
    std::string name;                 // "wm-maintain"
    std::string usage;                // "usage: ..." lines, each ending in a line break
    std::vector<ToolOption> options;  // besides --help and --version
};

// --help (or -h) anywhere before "--" prints the usage on standard output, --version the
// name and the project version; both exit 0. Otherwise the arguments are parsed and `body`
// runs; a UsageError prints "<name>: <what>" and the usage on standard error and gives 2,
// any other exception "<name>: " and its failureSentence (ToolFailure.h) and gives 1.
int runTool(const ToolDescription& tool, int argc, char** argv, const std::function<int(const ToolArguments&)>& body);

}  // namespace wm::tools
