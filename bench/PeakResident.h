#pragma once
// The peak resident memory of a built program run in a child process, and the making of what
// it reads in another, so that what the benchmark itself grew to is not counted.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace wm::bench {

// Runs the program with its arguments and returns its peak resident memory in bytes; its
// own output goes to /dev/null and `status` receives its wait status. Its address space is
// capped at 4 GiB, so a run whose memory runs away ends there rather than taking the machine
// with it.
inline std::uint64_t peakResident(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                                  int& status) {
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    const pid_t child = ::fork();
    if (child < 0) throw std::runtime_error("fork failed");
    if (child == 0) {
        const rlimit cap{rlim_t{4} << 30, rlim_t{4} << 30};
        ::setrlimit(RLIMIT_AS, &cap);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::dup2(null, 2);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    rusage usage{};
    if (::wait4(child, &status, 0, &usage) != child) throw std::runtime_error("wait4 failed");
    return static_cast<std::uint64_t>(usage.ru_maxrss) * 1024;
}

// Runs `work` in a child process and waits for it; false when it throws or the child does not
// end normally. A program started later by fork and exec would count the memory this process
// grew to as its own peak: what a benchmark makes for such a program is made here.
inline bool inChild(const std::function<void()>& work) {
    const pid_t child = ::fork();
    if (child < 0) throw std::runtime_error("fork failed");
    if (child == 0) {
        try {
            work();
            ::_exit(0);
        } catch (...) {
            ::_exit(1);
        }
    }
    int status = 0;
    return ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace wm::bench
