#pragma once
// Runs a piece of a test in a forked child that has given up root, so that permission
// failures can be tested even when the tests run as root (as CI does). The child drops to
// the "nobody" user and group (65534) when it is root; otherwise it keeps its identity.
// The body's return value becomes the child's exit status; 0 means success.
#include <functional>
#include <string>

#include <gtest/gtest.h>

namespace wm::test {

struct ChildOutcome {
    bool exited = false;  // the child ended by exit, not by a signal
    int status = -1;      // its exit status when exited
    std::string output;   // what the body wrote to the message pipe (see below)
};

// The identity the child takes when the tests run as root.
constexpr unsigned unprivilegedUser = 65534;
constexpr unsigned unprivilegedGroup = 65534;

// In the body, report(text) sends text back to the parent (for failure messages). A child of
// root may be given another user, which is then its group too.
ChildOutcome runUnprivileged(const std::function<int(const std::function<void(const std::string&)>& report)>& body,
                             unsigned user = unprivilegedUser);

// Runs body unprivileged and expects it to end normally returning 0, its count of reported failures.
inline void expectUnprivileged(const std::function<int(const std::function<void(const std::string&)>& report)>& body) {
    const ChildOutcome outcome = runUnprivileged(body);
    ASSERT_TRUE(outcome.exited);
    EXPECT_EQ(outcome.status, 0) << outcome.output;
}

}  // namespace wm::test
