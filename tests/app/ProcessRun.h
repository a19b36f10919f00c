#pragma once
// Runs a program to its end and collects what it wrote.
#include <string>
#include <utility>
#include <vector>

namespace wm::testing {

struct ProcessOutcome {
    int exitStatus = -1;  // -1 when it did not exit normally
    std::string out;
    std::string err;
};

// environment entries ("NAME=value") are added to the test's own environment.
ProcessOutcome runProcess(const std::vector<std::string>& arguments,
                          const std::vector<std::string>& environment = {});

}  // namespace wm::testing
