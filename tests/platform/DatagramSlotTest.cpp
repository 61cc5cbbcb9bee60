#include "platform/DatagramSlot.h"

#include <chrono>
#include <cstring>
#include <dirent.h>
#include <future>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tarvok::platform {
namespace {

using namespace std::chrono_literals;

const std::string Address = "tarvok-test-slot";

std::size_t OpenDescriptors() {
    DIR* dir = ::opendir("/proc/self/fd");
    std::size_t count = 0;
    while (::readdir(dir) != nullptr) {
        ++count;
    }
    ::closedir(dir);
    return count;
}

TEST(DatagramSlot, CredentialsNameTheSendingProcess) {
    TDatagramSlot slot(Address, 64);
    ASSERT_TRUE(slot.Bound()) << slot.Failure();
    const pid_t child = ::fork();
    if (child == 0) {
        ::_exit(SendDatagram(Address, "SR", 1s) == TSendResult::Sent ? 0 : 1);
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

TEST(DatagramSlot, ReportsTheRealLengthOfWhatItCannotHold) {
    struct TRow {
        std::string Bytes;
        std::string Kept;
        bool Truncated;
    };
    const TRow rows[] = {
        {std::string(64, 'a'), std::string(64, 'a'), false},
        {std::string(65, 'b'), std::string(64, 'b'), true},
        {std::string(5000, 'c'), std::string(64, 'c'), true},
        {"", "", false},
        {std::string("\0\0", 2), std::string("\0\0", 2), false},
    };
    TDatagramSlot slot(Address, 64);
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Bytes.size());
        ASSERT_EQ(SendDatagram(Address, row.Bytes, 0ms), TSendResult::Sent);
        auto datagram = slot.TryReceive();
        ASSERT_TRUE(datagram.has_value());
        EXPECT_EQ(datagram->Bytes, row.Kept);
        EXPECT_EQ(datagram->Length, row.Bytes.size());
        EXPECT_EQ(datagram->Truncated(), row.Truncated);
    }
}

// A sender may attach descriptors; the receiver must not collect them until it runs out.
TEST(DatagramSlot, DescriptorsSentAlongAreClosedNotKept) {
    TDatagramSlot slot(Address, 64);
    int pipeEnds[2];
    ASSERT_EQ(::pipe(pipeEnds), 0);
    const std::size_t before = OpenDescriptors();

    const int sender = ::socket(AF_UNIX, SOCK_DGRAM, 0);
    sockaddr_un target{};
    target.sun_family = AF_UNIX;
    std::memcpy(target.sun_path + 1, Address.data(), Address.size());
    const auto length =
        static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + Address.size());
    char text[] = "TS";
    iovec vector{text, 2};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof pipeEnds)] = {};
    msghdr message{};
    message.msg_name = &target;
    message.msg_namelen = length;
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

TEST(DatagramSlot, AnAddressHasOneOwnerAtATime) {
    auto first = std::make_unique<TDatagramSlot>(Address, 64);
    ASSERT_TRUE(first->Bound());
    EXPECT_TRUE(AddressInUse(Address));

    TDatagramSlot second(Address, 64);
    EXPECT_FALSE(second.Bound());
    EXPECT_TRUE(second.InUse());
    EXPECT_EQ(second.Failure(), "Address already in use");
    EXPECT_FALSE(second.WaitForDatagram());
    EXPECT_FALSE(second.TryReceive().has_value());

    first.reset();
    EXPECT_FALSE(AddressInUse(Address));
    EXPECT_EQ(SendDatagram(Address, "SR", 0ms), TSendResult::NoReceiver);
    EXPECT_TRUE(TDatagramSlot(Address, 64).Bound());
}

// Cutting a long address would let two different names share one endpoint.
TEST(DatagramSlot, AddressesThatDoNotFitAreRefusedNotCut) {
    const std::string longest(MaxAddressLength, 'x');
    TDatagramSlot fits(longest, 64);
    ASSERT_TRUE(fits.Bound()) << fits.Failure();

    for (const std::string& address : {longest + "y", std::string()}) {
        SCOPED_TRACE(address.size());
        TDatagramSlot refused(address, 64);
        EXPECT_FALSE(refused.Bound());
        EXPECT_FALSE(refused.InUse());
        EXPECT_FALSE(refused.Failure().empty());
        EXPECT_EQ(SendDatagram(address, "SR", 0ms), TSendResult::Failed);
        EXPECT_FALSE(AddressInUse(address));
    }
    EXPECT_FALSE(fits.TryReceive().has_value());
}

TEST(DatagramSlot, AFullQueueRefusesWithoutPatienceAndTakesAgainOnceRead) {
    TDatagramSlot slot(Address, 64);
    int accepted = 0;
    TSendResult result = TSendResult::Sent;
    for (; accepted < 1000; ++accepted) {
        result = SendDatagram(Address, std::to_string(accepted), 0ms);
        if (result != TSendResult::Sent) {
            break;
        }
    }
    EXPECT_EQ(result, TSendResult::Full);
    EXPECT_GE(accepted, 10); // the system's queue, no less

    EXPECT_EQ(slot.TryReceive()->Bytes, "0");
    EXPECT_EQ(SendDatagram(Address, "next", 0ms), TSendResult::Sent);
    for (int i = 1; i < accepted; ++i) {
        EXPECT_EQ(slot.TryReceive()->Bytes, std::to_string(i));
    }
    EXPECT_EQ(slot.TryReceive()->Bytes, "next");
}

TEST(DatagramSlot, WaitingEndsWithADatagramOrWithStop) {
    TDatagramSlot slot(Address, 64);
    ASSERT_EQ(SendDatagram(Address, "SR", 0ms), TSendResult::Sent);
    EXPECT_TRUE(slot.WaitForDatagram());
    ASSERT_TRUE(slot.TryReceive().has_value());

    std::promise<void> started;
    auto waiter = std::async(std::launch::async, [&slot, &started] {
        started.set_value();
        return slot.WaitForDatagram();
    });
    started.get_future().wait();
    slot.Stop();
    // The deadline only keeps a fault from hanging the run.
    ASSERT_EQ(waiter.wait_for(10s), std::future_status::ready);
    EXPECT_FALSE(waiter.get());
    EXPECT_FALSE(slot.WaitForDatagram());
}

} // namespace
} // namespace tarvok::platform
