// The main of test programs whose processes talk through abstract unix sockets. Before any test
// runs it moves the process into a network namespace of its own, where such addresses live: the
// tests can then never meet a Tarvok running on the machine, nor a test running beside them.
// Without root a user namespace comes first, mapping the caller's own ids.
//
// It refuses to run the tests unisolated: a test that sent to a real service's slot could make
// it reload or run tasks.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <string>
#include <unistd.h>

namespace {

bool WriteProcFile(const char* path, const std::string& text) {
    const int fd = ::open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    return ::close(fd) == 0 && written;
}

// Empty on success, else the reason. Must run while the process has a single thread.
std::string EnterOwnNetworkNamespace() {
    if (::unshare(CLONE_NEWNET) == 0) {
        return {};
    }
    if (errno != EPERM) {
        return std::strerror(errno);
    }
    const uid_t uid = ::getuid();
    const gid_t gid = ::getgid();
    if (::unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0) {
        return std::strerror(errno);
    }
    if (!WriteProcFile("/proc/self/setgroups", "deny") ||
        !WriteProcFile("/proc/self/uid_map",
                       std::to_string(uid) + " " + std::to_string(uid) + " 1") ||
        !WriteProcFile("/proc/self/gid_map",
                       std::to_string(gid) + " " + std::to_string(gid) + " 1")) {
        return std::string("mapping ids: ") + std::strerror(errno);
    }
    return {};
}

} // namespace

int main(int argc, char** argv) {
    const std::string failure = EnterOwnNetworkNamespace();
    if (!failure.empty()) {
        std::fprintf(stderr, "cannot isolate the tests in a network namespace of their own: %s\n",
                     failure.c_str());
        return 1;
    }
    testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}
