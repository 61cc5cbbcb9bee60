// Sending as the programs do it, many times over: the socket a thread keeps for its sends must
// behave as a fresh one would for every message.
#include "platform/DatagramSlot.h"
#include "tests/OpenDescriptors.h"
#include "tests/TempDir.h"

#include <chrono>
#include <gtest/gtest.h>
#include <optional>
#include <sys/wait.h>
#include <unistd.h>

namespace tarvok::platform {
namespace {

using namespace std::chrono_literals;
using testing_support::OpenDescriptors;

class DatagramSend : public testing_support::TempDirTest {
protected:
    std::string Address() const { return Path("slots/tarvokclient"); }
};

TEST_F(DatagramSend, AReceiverThatWentAndCameBackIsFoundAgain) {
    std::optional<TDatagramSlot> first;
    first.emplace(Address(), 64);
    ASSERT_TRUE(first->Bound()) << first->Failure();
    ASSERT_EQ(SendDatagram(Address(), "SR", 0ms), TSendResult::Sent);
    const std::size_t descriptors = OpenDescriptors();
    for (int i = 0; i < 50; ++i) {
        ASSERT_EQ(SendDatagram(Address(), "LC", 0ms), TSendResult::Sent);
        ASSERT_TRUE(first->TryReceive().has_value());
    }
    EXPECT_EQ(OpenDescriptors(), descriptors) << "sends keep descriptors";

    first.reset();
    EXPECT_EQ(SendDatagram(Address(), "LC", 0ms), TSendResult::NoReceiver);

    TDatagramSlot second(Address(), 64);
    ASSERT_TRUE(second.Bound()) << second.Failure();
    EXPECT_EQ(SendDatagram(Address(), "SS", 0ms), TSendResult::Sent);
    auto datagram = second.TryReceive();
    ASSERT_TRUE(datagram.has_value());
    EXPECT_EQ(datagram->Bytes, "SS");
}

TEST_F(DatagramSend, AFullQueueRefusesUntilTheReceiverMakesRoom) {
    TDatagramSlot slot(Address(), 64);
    ASSERT_TRUE(slot.Bound()) << slot.Failure();
    int sent = 0;
    TSendResult result = TSendResult::Sent;
    for (; sent < 1000 && result == TSendResult::Sent; ++sent) {
        result = SendDatagram(Address(), "LC", 0ms);
    }
    ASSERT_EQ(result, TSendResult::Full) << "the queue never filled";
    EXPECT_GT(sent, 1);
    EXPECT_EQ(SendDatagram(Address(), "LC", 20ms), TSendResult::Full);

    ASSERT_TRUE(slot.TryReceive().has_value());
    EXPECT_EQ(SendDatagram(Address(), "TS", 0ms), TSendResult::Sent);
}

// The socket a thread keeps is shared with a child it forks; the child's messages must still
// carry the child's own credentials.
TEST_F(DatagramSend, AForkedChildSendsAsItself) {
    TDatagramSlot slot(Address(), 64);
    ASSERT_TRUE(slot.Bound()) << slot.Failure();
    ASSERT_EQ(SendDatagram(Address(), "SR", 0ms), TSendResult::Sent);
    const pid_t child = ::fork();
    if (child == 0) {
        ::_exit(SendDatagram(Address(), "TS", 1s) == TSendResult::Sent ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_EQ(status, 0);

    for (const pid_t sender : {::getpid(), child}) {
        auto datagram = slot.TryReceive();
        ASSERT_TRUE(datagram.has_value());
        ASSERT_TRUE(datagram->Sender.has_value());
        EXPECT_EQ(datagram->Sender->Pid, sender);
    }
}

} // namespace
} // namespace tarvok::platform
