#include "support/Unprivileged.h"

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace wm::test {

ChildOutcome runUnprivileged(const std::function<int(const std::function<void(const std::string&)>&)>& body) {
    ChildOutcome outcome;
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) return outcome;
    std::fflush(nullptr);
    pid_t child = ::fork();
    if (child < 0) {
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        return outcome;
    }
    if (child == 0) {
        ::close(pipeFds[0]);
        const int out = pipeFds[1];
        auto report = [out](const std::string& text) {
            std::string line = text + "\n";
            const char* p = line.data();
            std::size_t left = line.size();
            while (left > 0) {
                ssize_t n = ::write(out, p, left);
                if (n <= 0) break;
                p += n;
                left -= static_cast<std::size_t>(n);
            }
        };
        if (::geteuid() == 0) {
            if (::setgroups(0, nullptr) != 0 || ::setgid(unprivilegedGroup) != 0 || ::setuid(unprivilegedUser) != 0) {
                report("could not drop privileges");
                ::_exit(120);
            }
        }
        int status = 121;
        try {
            status = body(report);
        } catch (const std::exception& e) {
            report(std::string("exception: ") + e.what());
            status = 122;
        } catch (...) {
            report("unknown exception");
            status = 123;
        }
        ::close(out);
        ::_exit(status);
    }
    ::close(pipeFds[1]);
    char buffer[512];
    while (true) {
        ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        outcome.output.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(pipeFds[0]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) {
        outcome.exited = true;
        outcome.status = WEXITSTATUS(status);
    }
    return outcome;
}

}  // namespace wm::test
