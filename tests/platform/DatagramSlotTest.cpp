#include "platform/DatagramSlot.h"

#include "tests/InChild.h"
#include "tests/OpenDescriptors.h"
#include "tests/TempDir.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <grp.h>
#include <gtest/gtest.h>
#include <mutex>
#include <optional>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace tarvok::platform {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing_support::InChild;
using testing_support::OpenDescriptors;

constexpr uid_t Stranger = 65534;

// A program directory of the test's own; its slots are in "slots/".
class DatagramSlotTest : public testing_support::TempDirTest {
protected:
    void TearDown() override {
        SetSlotCreationHooks({});
        TempDirTest::TearDown();
    }
    std::string Address(const std::string& name = "tarvokclient") const {
        return Path("slots/" + name);
    }
};

sockaddr_un SocketAddress(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    return address;
}

// A socket file whose socket is gone: what a program killed outright leaves behind.
void LeaveStaleSocket(const std::string& path) {
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM, 0);
    const sockaddr_un address = SocketAddress(path);
    ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ::close(fd);
}

TEST_F(DatagramSlotTest, CredentialsNameTheSendingProcess) {
    TDatagramSlot slot(Address(), 64);
    ASSERT_TRUE(slot.Bound()) << slot.Failure();
    const pid_t child = ::fork();
    if (child == 0) {
        ::_exit(SendDatagram(Address(), "SR", 1s) == TSendResult::Sent ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_EQ(status, 0);

    auto datagram = slot.TryReceive();
    ASSERT_TRUE(datagram.has_value());
    EXPECT_EQ(datagram->Bytes, "SR");
    ASSERT_TRUE(datagram->Sender.has_value());
    EXPECT_EQ(datagram->Sender->Pid, child);
    EXPECT_EQ(datagram->Sender->Uid, ::getuid());
    EXPECT_EQ(datagram->Sender->Gid, ::getgid());
    EXPECT_FALSE(slot.TryReceive().has_value());
}

// A sender may attach descriptors; the receiver must not collect them until it runs out.
TEST_F(DatagramSlotTest, DescriptorsSentAlongAreClosedNotKept) {
    TDatagramSlot slot(Address(), 64);
    int pipeEnds[2];
    ASSERT_EQ(::pipe(pipeEnds), 0);
    const std::size_t before = OpenDescriptors();

    const int sender = ::socket(AF_UNIX, SOCK_DGRAM, 0);
    sockaddr_un target = SocketAddress(Address());
    char text[] = "TS";
    iovec vector{text, 2};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof pipeEnds)] = {};
    msghdr message{};
    message.msg_name = &target;
    message.msg_namelen = sizeof target;
    message.msg_iov = &vector;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    cmsghdr* header = CMSG_FIRSTHDR(&message);
    header->cmsg_level = SOL_SOCKET;
    header->cmsg_type = SCM_RIGHTS;
    header->cmsg_len = CMSG_LEN(sizeof pipeEnds);
    std::memcpy(CMSG_DATA(header), pipeEnds, sizeof pipeEnds);
    for (int i = 0; i < 5; ++i) {
        ASSERT_EQ(::sendmsg(sender, &message, 0), 2);
        auto datagram = slot.TryReceive();
        ASSERT_TRUE(datagram.has_value());
        EXPECT_EQ(datagram->Bytes, "TS");
    }
    ::close(sender);
    EXPECT_EQ(OpenDescriptors(), before);
    ::close(pipeEnds[0]);
    ::close(pipeEnds[1]);
}

// A directory deeper than a socket address holds is reached through a descriptor of it; only a
// name too long even for that is refused, never cut.
TEST_F(DatagramSlotTest, LongPathsAreReachedAndTooLongNamesRefused) {
    std::string deep = Path("");
    while (deep.size() < 300) {
        deep += "/a-directory-with-a-long-name";
    }
    fs::create_directories(deep);
    const std::string address = deep + "/slots/tarvokservice";
    {
        TDatagramSlot slot(address, 64);
        ASSERT_TRUE(slot.Bound()) << slot.Failure();
        EXPECT_TRUE(AddressInUse(address));
        ASSERT_EQ(SendDatagram(address, "CR", 1s), TSendResult::Sent);
        auto datagram = slot.TryReceive();
        ASSERT_TRUE(datagram.has_value());
        EXPECT_EQ(datagram->Bytes, "CR");
        EXPECT_TRUE(TDatagramSlot(address, 64).InUse());
    }
    EXPECT_FALSE(fs::exists(address)) << "closing leaves its file";
    EXPECT_EQ(SendDatagram(address, "CR", 0ms), TSendResult::NoReceiver);

    for (const std::string& refused :
         {Address(std::string(120, 'n')), std::string("slot"), std::string()}) {
        SCOPED_TRACE(refused);
        TDatagramSlot slot(refused, 64);
        EXPECT_FALSE(slot.Bound());
        EXPECT_FALSE(slot.InUse());
        EXPECT_FALSE(slot.Failure().empty());
        EXPECT_NE(SendDatagram(refused, "SR", 0ms), TSendResult::Sent);
        EXPECT_FALSE(AddressInUse(refused));
    }
}

// Only a socket file with nobody behind it is taken over; the file goes with its slot, but never
// a file that someone else put at the name since.
TEST_F(DatagramSlotTest, LeftOverSocketsAreReplacedAndNothingElse) {
    std::optional<TDatagramSlot> holder;
    struct TRow {
        const char* What;
        std::function<void(const std::string&)> Plant;
        bool Taken;
    };
    const TRow rows[] = {
        {"left-over socket", LeaveStaleSocket, true},
        {"live slot", [&](const std::string& path) { holder.emplace(path, 64); }, false},
        {"directory", [](const std::string& path) { fs::create_directory(path); }, false},
        {"plain file", [](const std::string& path) { Write(path, "x"); }, false},
    };
    fs::create_directory(Path("slots"));
    int n = 0;
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.What);
        const std::string address = Address("name" + std::to_string(n++));
        row.Plant(address);
        TDatagramSlot slot(address, 64);
        EXPECT_EQ(slot.Bound(), row.Taken) << slot.Failure();
        EXPECT_EQ(slot.InUse(), !row.Taken);
        EXPECT_EQ(AddressInUse(address), row.What == std::string("live slot") || row.Taken);
    }
    holder.reset();

    std::optional<TDatagramSlot> slot(std::in_place, Address(), 64);
    ASSERT_TRUE(slot->Bound());
    EXPECT_EQ(fs::status(Address()).permissions(), fs::perms(SlotFileMode));
    fs::remove(Address());
    Write(Address(), "another's");
    slot.reset();
    EXPECT_EQ(Read(Address()), "another's") << "closing removed a file that was not its own";
}

// Who finds the name's file left over decides with the directory locked: a second maker waits,
// then finds the first one's live slot, so the two never both get the name.
TEST_F(DatagramSlotTest, TwoMakersNeverBothGetAName) {
    fs::create_directory(Path("slots"));
    LeaveStaleSocket(Address());
    std::mutex mutex;
    std::condition_variable changed;
    bool secondWaits = false;
    int staleFound = 0;
    std::optional<TDatagramSlot> second;
    std::thread secondMaker;
    SetSlotCreationHooks({.LockBusy =
                              [&] {
                                  std::lock_guard lock(mutex);
                                  secondWaits = true;
                                  changed.notify_all();
                              },
                          .FoundStale =
                              [&] {
                                  std::unique_lock lock(mutex);
                                  if (++staleFound > 1) {
                                      return;
                                  }
                                  // The first maker holds the lock here: the second starts now.
                                  secondMaker = std::thread([&] { second.emplace(Address(), 64); });
                                  changed.wait_for(lock, 10s, [&] { return secondWaits; });
                              }});
    TDatagramSlot first(Address(), 64);
    secondMaker.join();
    EXPECT_TRUE(secondWaits) << "the second maker never waited for the lock";
    EXPECT_EQ(staleFound, 1);
    EXPECT_TRUE(first.Bound()) << first.Failure();
    ASSERT_TRUE(second.has_value());
    EXPECT_FALSE(second->Bound());
    EXPECT_TRUE(second->InUse());
    ASSERT_EQ(SendDatagram(Address(), "SS", 1s), TSendResult::Sent);
    EXPECT_TRUE(first.TryReceive().has_value()) << "the name leads to another socket";
}

TEST_F(DatagramSlotTest, SlotDirectoryIsTheAdministratorsAlone) {
    const std::string slots = Path("slots");
    const passwd* daemon = ::geteuid() == 0 ? ::getpwnam("daemon") : nullptr;
    if (daemon != nullptr) {
        // The directory's group makes daemon an administrator who is not root.
        ASSERT_EQ(::chown(dir_.c_str(), 0, daemon->pw_gid), 0);
        ASSERT_EQ(::chmod(dir_.c_str(), 02775), 0);
    }
    const auto expectSlots = [&](uid_t owner) {
        struct stat info {};
        struct stat above {};
        ASSERT_EQ(::stat(slots.c_str(), &info), 0);
        ASSERT_EQ(::stat(dir_.c_str(), &above), 0);
        EXPECT_EQ(info.st_mode & 07777, SlotDirectoryMode);
        EXPECT_EQ(info.st_gid, above.st_gid);
        EXPECT_EQ(info.st_uid, owner);
    };
    if (daemon != nullptr) {
        // A manager that starts before the service ever ran makes the directory its user's.
        EXPECT_EQ(InChild([&] {
                      if (::setgroups(0, nullptr) != 0 || ::setgid(daemon->pw_gid) != 0 ||
                          ::setuid(daemon->pw_uid) != 0) {
                          return 9;
                      }
                      return TDatagramSlot(Address(), 64).Bound() ? 0 : 1;
                  }),
                  0);
        expectSlots(daemon->pw_uid);
    }
    {
        // Root makes it root's, whoever made it; another makes it where it is missing.
        TDatagramSlot slot(Address(), 64);
        ASSERT_TRUE(slot.Bound()) << slot.Failure();
        expectSlots(::geteuid());
    }
    if (::geteuid() != 0) {
        GTEST_SKIP() << "the rest needs root: a stranger's account and a stranger's directory";
    }
    // A stranger cannot reach the slots, nor make one.
    TDatagramSlot slot(Address(), 64);
    EXPECT_EQ(InChild([&] {
                  if (::setgroups(0, nullptr) != 0 || ::setgid(Stranger) != 0 ||
                      ::setuid(Stranger) != 0) {
                      return 9;
                  }
                  const bool reached = SendDatagram(Address(), "TR 1", 0ms) == TSendResult::Sent ||
                                       AddressInUse(Address());
                  const TDatagramSlot own(Address("tarvokservice"), 64);
                  return reached ? 1 : own.Bound() || own.InUse() ? 2 : 0;
              }),
              0);
    EXPECT_FALSE(slot.TryReceive().has_value());

    // A directory the stranger made (the program directory was open once), with a socket of
    // the stranger's squatting a name: root makes it its own and the stranger's socket goes.
    const std::string name = Address("tarvokservice");
    const std::string kept = Address("administrators");
    Write(kept, "root's");
    ASSERT_EQ(::chown(slots.c_str(), Stranger, Stranger), 0);
    ASSERT_EQ(::chmod(slots.c_str(), 0777), 0);
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t squatter = ::fork();
    if (squatter == 0) {
        bool bound = ::setgid(Stranger) == 0 && ::setuid(Stranger) == 0;
        const int fd = ::socket(AF_UNIX, SOCK_DGRAM, 0);
        const sockaddr_un address = SocketAddress(name);
        bound =
            bound && ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
        [[maybe_unused]] ssize_t written = ::write(ready[1], bound ? "b" : "n", 1);
        ::pause();
        ::_exit(0);
    }
    char verdict = 0;
    ASSERT_EQ(::read(ready[0], &verdict, 1), 1);
    ::close(ready[0]);
    ::close(ready[1]);
    ASSERT_EQ(verdict, 'b') << "the squatter could not bind";
    {
        TDatagramSlot taken(name, 64);
        EXPECT_TRUE(taken.Bound()) << taken.Failure();
        struct stat info {};
        ASSERT_EQ(::stat(slots.c_str(), &info), 0);
        EXPECT_EQ(info.st_uid, 0u);
        EXPECT_EQ(info.st_mode & 07777, SlotDirectoryMode);
        EXPECT_EQ(Read(kept), "root's");
    }
    ::kill(squatter, SIGKILL);
    ::waitpid(squatter, nullptr, 0);
}

} // namespace
} // namespace tarvok::platform
