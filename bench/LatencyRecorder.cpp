// The job that the start-latency benchmark has both schedulers start: it records the moment it
// began and ends.
//
//   latency_recorder /tmp/run/tarvok.starts   # appends "1733620860012345678\n"
//
// The moment is CLOCK_REALTIME in nanoseconds, read before anything else. The line is appended
// with O_APPEND in one write, so a thousand recorders started in the same second never mix
// their lines. Built static where it can be: the less the loader does, the closer "began" is to
// the scheduler's start of it.
#include <cstdint>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

namespace {

// "<digits>\n" in the buffer's end; returns where the text starts.
char* DecimalLine(std::uint64_t value, char* end) {
    char* at = end;
    *--at = '\n';
    do {
        *--at = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    return at;
}

} // namespace

int main(int argc, char** argv) {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    if (argc != 2) {
        return 2;
    }
    const std::uint64_t ns = static_cast<std::uint64_t>(now.tv_sec) * 1'000'000'000 +
                             static_cast<std::uint64_t>(now.tv_nsec);
    char buffer[32];
    char* end = buffer + sizeof buffer;
    const char* line = DecimalLine(ns, end);
    const int fd = ::open(argv[1], O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        return 1;
    }
    const auto length = static_cast<ssize_t>(end - line);
    const bool whole = ::write(fd, line, static_cast<std::size_t>(length)) == length;
    return ::close(fd) == 0 && whole ? 0 : 1;
}
