#include "support/Unprivileged.h"

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include "core/SystemCall.h"

namespace wm::test {

ChildOutcome runUnprivileged(const std::function<int(const std::function<void(const std::string&)>&)>& body,
                             unsigned user) {
    ChildOutcome outcome;
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) return outcome;
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipeFds[0]);
        const auto report = [out = pipeFds[1]](const std::string& text) {
            const std::string line = text + "\n";  // a blocking pipe takes the whole line
            retryingOnInterrupt([&] { return ::write(out, line.data(), line.size()); });
        };
        if (::geteuid() == 0 && (::setgroups(0, nullptr) != 0 || ::setgid(user) != 0 || ::setuid(user) != 0)) {
            report("could not drop privileges");
            ::_exit(120);
        }
        try {
            ::_exit(body(report));
        } catch (const std::exception& e) {
            report(std::string("exception: ") + e.what());
        }
        ::_exit(122);
    }
    ::close(pipeFds[1]);
    char buffer[512];
    for (ssize_t n; (n = retryingOnInterrupt([&] { return ::read(pipeFds[0], buffer, sizeof buffer); })) > 0;)
        outcome.output.append(buffer, static_cast<std::size_t>(n));
    ::close(pipeFds[0]);
    int status = 0;
    if (child > 0 && retryingOnInterrupt([&] { return ::waitpid(child, &status, 0); }) == child && WIFEXITED(status)) {
        outcome.exited = true;
        outcome.status = WEXITSTATUS(status);
    }
    return outcome;
}

}  // namespace wm::test
