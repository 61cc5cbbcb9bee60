#include "platform/StopSignal.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <initializer_list>
#include <unistd.h>

namespace tarvok::platform {

namespace {

int pipeEnds[2] = {-1, -1};

// Only what is safe in a signal handler: one write, errno kept. A full pipe already says it.
void OnStopSignal(int) {
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(pipeEnds[1], &byte, 1);
    errno = saved;
}

int MakeStopPipe() {
    if (::pipe2(pipeEnds, O_CLOEXEC | O_NONBLOCK) != 0) {
        return -1;
    }
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        ::sigaction(signal, &action, nullptr);
    }
    return pipeEnds[0];
}

} // namespace

int StopRequestDescriptor() {
    static const int descriptor = MakeStopPipe();
    return descriptor;
}

} // namespace tarvok::platform
