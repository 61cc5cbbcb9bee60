#include "platform/DatagramSlot.h"

#include "tests/OpenDescriptors.h"

#include <chrono>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tarvok::platform {
namespace {

using namespace std::chrono_literals;

const std::string Address = "tarvok-test-slot";

using testing_support::OpenDescriptors;

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

} // namespace
} // namespace tarvok::platform
