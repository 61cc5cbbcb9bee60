// One hostile act against a Tarvok program directory or its service, run by the attack tests as
// an account that may not control Tarvok. Its exit code says what the system let it do:
//   0  done: the act went through (for "send": the service's slot took the message)
//   3  refused by the system
//   2  not understood
//
//   intruder whoami UID            done when running as UID with no supplementary group
//   intruder send MESSAGE [COUNT]  sends MESSAGE to the service COUNT times (default 1)
//   intruder write PATH FROM       writes the bytes of FROM into PATH, creating it if need be
//   intruder replace PATH FROM     writes FROM beside PATH and renames it over PATH
//   intruder remove PATH
//   intruder link TARGET PATH      plants a symbolic link at PATH
#include "shared/MailSlot.h"
#include "shared/Protocol.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>

namespace {

constexpr int Done = 0;
constexpr int NotUnderstood = 2;
constexpr int Refused = 3;

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

int Send(const char* message, const char* count) {
    const long times = count != nullptr ? std::strtol(count, nullptr, 10) : 1;
    for (long i = 0; i < times && i < 100000; ++i) {
        if (!tarvok::SendSlotMessage(tarvok::ServiceSlotName, message)) {
            return Refused;
        }
    }
    return Done;
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
    if (act == "send" && (argc == 3 || argc == 4)) {
        return Send(argv[2], argc == 4 ? argv[3] : nullptr);
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
    std::fprintf(stderr, "usage: intruder whoami|send|write|replace|remove|link ...\n");
    return NotUnderstood;
}
