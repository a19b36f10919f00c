#pragma once
// The built tools run as processes of their own, and the folders they leave read in place;
// waiting for what another process or thread does.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "storage/LocalFolderDestination.h"

extern char** environ;

namespace wm::test {

struct Answer {
    int status = -1;  // -1 when a signal ended the tool
    int signal = 0;
    std::string out, err;
};

// The tool started in `folder` with nothing on standard input, its standard output and error
// kept in files there; finishTool waits for it and reads them.
struct Started {
    pid_t pid = 0;
    std::filesystem::path folder;
};

// This process's environment with each "NAME=value" of `changes` in place of NAME's own.
inline std::vector<std::string> environmentWith(const std::vector<std::string>& changes) {
    std::vector<std::string> environment = changes;
    const auto changed = [&](const std::string& entry) {
        for (const auto& c : changes)
            if (entry.compare(0, c.find('=') + 1, c, 0, c.find('=') + 1) == 0) return true;
        return false;
    };
    for (char** e = environ; *e != nullptr; ++e)
        if (!changed(*e)) environment.emplace_back(*e);
    return environment;
}

// The changes that preload `library` into a tool. A tool built with AddressSanitizer refuses a
// library loaded before the sanitizer's runtime unless told not to check the order.
inline std::vector<std::string> preloading(const std::string& library) {
    const char* preloaded = std::getenv("LD_PRELOAD");
    const char* asan = std::getenv("ASAN_OPTIONS");
    return {"LD_PRELOAD=" + library + (preloaded ? std::string(":") + preloaded : ""),
            "ASAN_OPTIONS=" + (asan && *asan ? std::string(asan) + ":" : "") + "verify_asan_link_order=0"};
}

inline Started startTool(const std::string& tool, const std::vector<std::string>& arguments,
                         const std::filesystem::path& folder, const std::vector<std::string>& environment) {
    std::vector<char*> argv{const_cast<char*>(tool.c_str())};
    for (const auto& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (const auto& e : environment) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    const std::string out = (folder / ".out").string(), err = (folder / ".err").string();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    Started started{0, folder};
    if (posix_spawn(&started.pid, tool.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0) started.pid = 0;
    posix_spawn_file_actions_destroy(&actions);
    return started;
}

inline Started startTool(const std::string& tool, const std::vector<std::string>& arguments,
                         const std::filesystem::path& folder) {
    return startTool(tool, arguments, folder, environmentWith({}));
}

// A tool that has not ended after `seconds` (one that waits on something that never comes)
// is killed, and its status is -1.
inline Answer finishTool(const Started& started, int seconds = 0) {
    Answer answer;
    if (started.pid != 0) {
        int status = 0;
        if (seconds > 0) {
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
            while (::waitpid(started.pid, &status, WNOHANG) == 0) {
                if (std::chrono::steady_clock::now() < deadline) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(20));
                    continue;
                }
                ::kill(started.pid, SIGKILL);
                ::waitpid(started.pid, &status, 0);
                break;
            }
        } else {
            ::waitpid(started.pid, &status, 0);
        }
        answer.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        answer.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    }
    answer.out = std::string(std::istreambuf_iterator<char>(std::ifstream(started.folder / ".out").rdbuf()), {});
    answer.err = std::string(std::istreambuf_iterator<char>(std::ifstream(started.folder / ".err").rdbuf()), {});
    return answer;
}

// Waits until the condition holds, at most a minute (what another process or thread does).
template <class Condition>
bool eventually(Condition condition) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// The tool run to its end.
inline Answer runTool(const std::string& tool, const std::vector<std::string>& arguments,
                      const std::filesystem::path& folder) {
    return finishTool(startTool(tool, arguments, folder));
}

// A folder read where it is: nothing on disk is touched before a lock is held (preparing
// would make its folders).
inline std::shared_ptr<LocalFolderDestination> localFolder(const std::filesystem::path& path) {
    return std::make_shared<LocalFolderDestination>(DestinationID::random(), DestinationKind::localFolder(), path,
                                                    std::nullopt, LocalFolderDestination::Preparation::readingOnly());
}

}  // namespace wm::test
