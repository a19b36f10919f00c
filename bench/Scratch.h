#pragma once
// A folder of its own below the system's temporary folder for one benchmark run, removed with
// everything in it when the run ends.
#include <stdlib.h>

#include <filesystem>
#include <string>

namespace wm::bench {

struct Scratch {
    std::filesystem::path path;
    Scratch() {
        std::string pattern = (std::filesystem::temp_directory_path() / "wm-bench-XXXXXX").string();
        path = ::mkdtemp(pattern.data());
    }
    ~Scratch() { std::filesystem::remove_all(path); }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
};

}  // namespace wm::bench
