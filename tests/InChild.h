// Runs a test's body in a forked process, for what the test itself must not do (become another
// account, say), and answers the child's exit code (128 + the signal for one a signal ended).
//
//   EXPECT_EQ(InChild([] { return ::setuid(65534) == 0 ? 0 : 1; }), 0);
#pragma once

#include <functional>
#include <sys/wait.h>
#include <unistd.h>

namespace tarvok::testing_support {

inline int InChild(const std::function<int()>& body) {
    const pid_t child = ::fork();
    if (child == 0) {
        ::_exit(body());
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace tarvok::testing_support
