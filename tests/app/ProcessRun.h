#pragma once
// Runs a program to its end and collects what it wrote, without a display and in the C
// locale (a mode that wrongly opened a window must not hang).
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

namespace wm::testing {

struct ProcessOutcome {
    int exitStatus = -1;  // -1 when it did not exit normally
    std::string out;
    std::string err;
};

// Each stream goes to a file, so nothing needs draining while the program runs. Entries of
// overrides ("NAME=value") replace the environment's own.
inline ProcessOutcome runProcess(const std::vector<std::string>& arguments,
                                 const std::vector<std::string>& overrides = {}) {
    static std::atomic<int> runs{0};
    const std::string stem = ::testing::TempDir() + "/wm-run-" + std::to_string(::getpid()) + "-" + std::to_string(runs++);
    auto quoted = [](const std::string& text) {
        std::string out = "'";
        for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
        return out + "'";
    };
    std::string command = "env QT_QPA_PLATFORM=offscreen LC_ALL=C";
    for (const auto& word : overrides) command += " " + quoted(word);
    for (const auto& word : arguments) command += " " + quoted(word);
    const int status = std::system((command + " >" + quoted(stem + ".out") + " 2>" + quoted(stem + ".err")).c_str());
    auto contentsOf = [](const std::string& path) {
        std::ostringstream text;
        text << std::ifstream(path).rdbuf();
        std::filesystem::remove(path);
        return text.str();
    };
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, contentsOf(stem + ".out"), contentsOf(stem + ".err")};
}

}  // namespace wm::testing
