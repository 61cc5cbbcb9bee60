// One hostile act against a Tarvok program directory or its service, run by the attack tests as
// an account that may not control Tarvok. Its exit code says what the system let it do:
//   0  done: the act went through (for "send": the service's slot took the message)
//   3  refused by the system
//   2  not understood
//
//   intruder whoami UID            done when running as UID with no supplementary group
//   intruder send DIR MESSAGE [COUNT]
//                                  sends MESSAGE to the service of program directory DIR COUNT
//                                  times (default 1)
//   intruder squat DIR NAME        tries again and again to take the slot NAME of DIR, until
//                                  SIGTERM (or a minute); prints "tried" after the first try and,
//                                  at the end, "held N" with the messages it read while it held
//                                  the slot. Done when it ever held it.
//   intruder take PID              waits until no process has PID, then starts processes until
//                                  one gets it and leaves that one running (a minute at most);
//                                  prints how many it started
//   intruder write PATH FROM       writes the bytes of FROM into PATH, creating it if need be
//   intruder replace PATH FROM     writes FROM beside PATH and renames it over PATH
//   intruder remove PATH
//   intruder link TARGET PATH      plants a symbolic link at PATH
//   intruder rename FROM TO
//   intruder mkdir PATH
#include "shared/MailSlot.h"
#include "shared/Protocol.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr int Done = 0;
constexpr int NotUnderstood = 2;
constexpr int Refused = 3;
constexpr auto Patience = std::chrono::minutes(1);

int Verdict(bool done) {
    if (!done) {
        std::fprintf(stderr, "refused: %s\n", std::strerror(errno));
    }
    return done ? Done : Refused;
}

std::string Content(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool WriteInto(const std::string& path, const std::string& bytes, int flags) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | flags, 0666);
    if (fd < 0) {
        return false;
    }
    const bool written =
        ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    return ::close(fd) == 0 && written;
}

int WhoAmI(const char* uid) {
    const auto expected = static_cast<uid_t>(std::strtoul(uid, nullptr, 10));
    return ::getuid() == expected && ::geteuid() == expected && ::getgroups(0, nullptr) == 0
               ? Done
               : Refused;
}

int Send(const char* directory, const char* message, const char* count) {
    tarvok::UseSlotsOf(directory);
    const long times = count != nullptr ? std::strtol(count, nullptr, 10) : 1;
    for (long i = 0; i < times && i < 100000; ++i) {
        if (!tarvok::SendSlotMessage(tarvok::ServiceSlotName, message)) {
            return Refused;
        }
    }
    return Done;
}

bool Terminated() {
    sigset_t term;
    ::sigemptyset(&term);
    ::sigaddset(&term, SIGTERM);
    const timespec noWait{};
    return ::sigtimedwait(&term, nullptr, &noWait) == SIGTERM;
}

// The slot is tried as a program of the directory would make it, only taking every sender's
// messages.
int Squat(const char* directory, const char* name) {
    sigset_t term;
    ::sigemptyset(&term);
    ::sigaddset(&term, SIGTERM);
    ::pthread_sigmask(SIG_BLOCK, &term, nullptr);
    tarvok::UseSlotsOf(directory);
    const auto deadline = std::chrono::steady_clock::now() + Patience;
    std::optional<tarvok::TMailSlot> slot;
    for (bool first = true; !Terminated() && std::chrono::steady_clock::now() < deadline;
         first = false) {
        if (!slot) {
            slot.emplace(name, [](const tarvok::platform::TSenderCredentials&) { return true; });
            if (slot->CreationFailed()) {
                slot.reset();
            }
        }
        if (first) {
            std::printf("tried\n");
            std::fflush(stdout);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(slot ? 10000 : 200));
    }
    if (!slot) {
        return Refused;
    }
    int read = 0;
    while (!slot->ReadMessage().empty()) {
        ++read;
    }
    std::printf("held %d\n", read);
    return Done;
}

bool ProcessExists(pid_t pid) {
    return ::access(("/proc/" + std::to_string(pid)).c_str(), F_OK) == 0;
}

// Cycles the pid space by starting processes that end at once; the one that gets the id stays.
int Take(const char* id) {
    const auto wanted = static_cast<pid_t>(std::strtol(id, nullptr, 10));
    const auto deadline = std::chrono::steady_clock::now() + Patience;
    while (ProcessExists(wanted)) {
        if (std::chrono::steady_clock::now() > deadline) {
            return Refused;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    for (long started = 1; std::chrono::steady_clock::now() < deadline; ++started) {
        const pid_t child = ::fork();
        if (child < 0) {
            return Verdict(false);
        }
        if (child == 0) {
            if (::getpid() == wanted) {
                for (;;) {
                    ::pause();
                }
            }
            ::_exit(0);
        }
        if (child == wanted) {
            std::printf("took %d after %ld processes\n", static_cast<int>(wanted), started);
            return Done;
        }
        ::waitpid(child, nullptr, 0);
    }
    return Refused;
}

int Replace(const std::string& path, const std::string& bytes) {
    const std::string beside = path + ".intruder";
    if (!WriteInto(beside, bytes, O_CREAT | O_EXCL | O_NOFOLLOW)) {
        return Verdict(false);
    }
    const bool renamed = ::rename(beside.c_str(), path.c_str()) == 0;
    const int error = errno;
    ::unlink(beside.c_str());
    errno = error;
    return Verdict(renamed);
}

} // namespace

int main(int argc, char** argv) {
    const std::string act = argc > 1 ? argv[1] : "";
    if (act == "whoami" && argc == 3) {
        return WhoAmI(argv[2]);
    }
    if (act == "send" && (argc == 4 || argc == 5)) {
        return Send(argv[2], argv[3], argc == 5 ? argv[4] : nullptr);
    }
    if (act == "squat" && argc == 4) {
        return Squat(argv[2], argv[3]);
    }
    if (act == "take" && argc == 3) {
        return Take(argv[2]);
    }
    if (act == "write" && argc == 4) {
        return Verdict(WriteInto(argv[2], Content(argv[3]), O_CREAT | O_TRUNC));
    }
    if (act == "replace" && argc == 4) {
        return Replace(argv[2], Content(argv[3]));
    }
    if (act == "remove" && argc == 3) {
        return Verdict(::unlink(argv[2]) == 0);
    }
    if (act == "link" && argc == 4) {
        return Verdict(::symlink(argv[2], argv[3]) == 0);
    }
    if (act == "rename" && argc == 4) {
        return Verdict(::rename(argv[2], argv[3]) == 0);
    }
    if (act == "mkdir" && argc == 3) {
        return Verdict(::mkdir(argv[2], 0755) == 0);
    }
    std::fprintf(stderr, "usage: intruder whoami|send|squat|take|write|replace|remove|link|"
                         "rename|mkdir ...\n");
    return NotUnderstood;
}
