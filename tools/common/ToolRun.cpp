#include "ToolRun.h"

#include <iostream>

#include "ToolFailure.h"
#include "core/AppVersion.h"

namespace wm::tools {

int runTool(const ToolDescription& tool, int argc, char** argv, const std::function<int(const ToolArguments&)>& body) {
    const std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + (argc > 0 ? argc : 0));
    for (const auto& argument : arguments) {
        if (argument == "--") break;
        if (argument == "--help" || argument == "-h") {
            std::cout << tool.usage << std::flush;
            return std::cout ? 0 : 1;
        }
        if (argument == "--version") {
            std::cout << tool.name << " " << appVersion << "\n" << std::flush;
            return std::cout ? 0 : 1;
        }
    }
    try {
        return body(ToolArguments(arguments, tool.options));
    } catch (const UsageError& e) {
        std::cerr << tool.name << ": " << e.what() << "\n" << tool.usage << std::flush;
        return 2;
    } catch (const std::exception& e) {
        std::cerr << tool.name << ": " << failureSentence(e) << "\n" << std::flush;
    } catch (...) {
        std::cerr << tool.name << ": " << failureSentence(std::runtime_error("")) << "\n" << std::flush;
    }
    return 1;
}

}  // namespace wm::tools
