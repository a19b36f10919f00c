#pragma once
// Runs a program to its end and collects what it wrote, without a display and in the C
// locale (a mode that wrongly opened a window must not hang).
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace wm::testing {

struct ProcessOutcome {
    int exitStatus = -1;  // -1 when it did not exit normally
    std::string out;
    std::string err;
};

// Each stream goes to an unnamed file, so nothing needs draining while the program runs.
// Entries of overrides ("NAME=value") replace the environment's own.
inline ProcessOutcome runProcess(const std::vector<std::string>& arguments,
                                 const std::vector<std::string>& overrides = {}) {
    auto scratchFile = [] {
        std::string name = ::testing::TempDir() + "/wm-run-XXXXXX";
        const int fd = mkostemp(name.data(), O_CLOEXEC);
        if (fd < 0) throw std::runtime_error("no scratch file: " + std::string(std::strerror(errno)));
        unlink(name.c_str());
        return fd;
    };
    auto contentsOf = [](int fd) {
        std::string text;
        char buffer[4096];
        ssize_t n;
        for (off_t at = 0; (n = pread(fd, buffer, sizeof buffer, at)) > 0; at += n) text.append(buffer, size_t(n));
        close(fd);
        return text;
    };
    const int out = scratchFile();
    const int err = scratchFile();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out, 1);
    posix_spawn_file_actions_adddup2(&actions, err, 2);
    std::vector<char*> argv;
    for (const auto& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    // The environment by name: the test's own, then the defaults, then the overrides.
    std::map<std::string, std::string> settings;
    auto set = [&](const std::string& entry) { settings[entry.substr(0, entry.find('='))] = entry; };
    for (char** e = environ; *e; ++e) set(*e);
    for (const auto& entry : {"QT_QPA_PLATFORM=offscreen", "LC_ALL=C"}) set(entry);
    for (const auto& o : overrides) set(o);
    std::vector<char*> envp;
    for (auto& [name, entry] : settings) envp.push_back(entry.data());
    envp.push_back(nullptr);

    pid_t pid;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) throw std::runtime_error("could not start " + arguments[0] + ": " + std::strerror(spawned));
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, contentsOf(out), contentsOf(err)};
}

}  // namespace wm::testing
