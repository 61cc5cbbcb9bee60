// A slot keeps the messages of the senders its policy accepts and counts the others.
#include "shared/MailSlot.h"
#include "tests/InChild.h"

#include <atomic>
#include <functional>
#include <grp.h>
#include <gtest/gtest.h>
#include <mutex>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace tarvok {
namespace {

using platform::TSenderCredentials;
using testing_support::InChild;

constexpr std::uint32_t Nobody = 65534;

std::vector<std::string> ReadAll(TMailSlot& slot) {
    std::vector<std::string> messages;
    for (std::string message = slot.ReadMessage(); !message.empty(); message = slot.ReadMessage()) {
        messages.push_back(message);
    }
    return messages;
}

int SendAs(std::uint32_t uid, const std::vector<std::string>& messages) {
    if (uid != ::getuid() &&
        (::setgroups(0, nullptr) != 0 || ::setgid(uid) != 0 || ::setuid(uid) != 0)) {
        return 2;
    }
    for (const std::string& message : messages) {
        if (!SendSlotMessage("TarvokService", message)) {
            return 1;
        }
    }
    return 0;
}

TEST(SenderPolicy, KeepsAcceptedSendersInOrderAndCountsTheRest) {
    const std::int32_t self = ::getpid();
    std::mutex mutex;
    std::vector<TSenderCredentials> seen;
    TMailSlot slot("TarvokService", [&](const TSenderCredentials& sender) {
        std::lock_guard lock(mutex);
        seen.push_back(sender);
        return sender.Pid != self;
    });
    ASSERT_FALSE(slot.CreationFailed());

    ASSERT_TRUE(SendSlotMessage("TarvokService", "TR 1"));
    ASSERT_EQ(InChild([] { return SendAs(::getuid(), {"TN 1", "TM 2"}); }), 0);
    ASSERT_TRUE(SendSlotMessage("TarvokService", "LT"));
    ASSERT_TRUE(SendSlotMessage("TarvokService", "TD 1"));
    ASSERT_EQ(InChild([] { return SendAs(::getuid(), {"CR"}); }), 0);

    EXPECT_EQ(ReadAll(slot), (std::vector<std::string>{"TN 1", "TM 2", "CR"}));
    EXPECT_EQ(slot.TakeRefused(), 3u);
    EXPECT_EQ(slot.TakeRefused(), 0u) << "the count starts again after it was taken";
    std::lock_guard lock(mutex);
    ASSERT_EQ(seen.size(), 6u);
    EXPECT_EQ(seen.front().Pid, self) << "the policy was not given the kernel's word";
    EXPECT_EQ(seen.front().Uid, ::getuid());
    EXPECT_EQ(seen.front().Gid, ::getgid());
}

TEST(SenderPolicy, WithoutPolicyNobodyIsHeardWhateverTheySend) {
    TMailSlot slot("TarvokStarting", TSenderPolicy());
    for (const std::string& bytes :
         {std::string("CR"), std::string(MaxSlotMessage + 1, 'x'), std::string("\0TR 1", 5)}) {
        ASSERT_EQ(platform::SendDatagram(slot.Path(), bytes, std::chrono::seconds(1)),
                  platform::TSendResult::Sent);
    }
    EXPECT_EQ(slot.ReadMessage(), "");
    EXPECT_EQ(slot.TakeRefused(), 3u);
}

TEST(SenderPolicy, RefusedMessagesTakeNoPlaceInTheQueue) {
    std::atomic<bool> refuse{true};
    TMailSlot slot("TarvokService", [&](const TSenderCredentials&) { return !refuse.load(); });
    for (std::size_t i = 0; i < SlotQueueLimit + 10; ++i) {
        ASSERT_TRUE(SendSlotMessage("TarvokService", "TR 1"));
    }
    EXPECT_EQ(ReadAll(slot), std::vector<std::string>{});
    refuse = false;
    ASSERT_TRUE(SendSlotMessage("TarvokService", "CD"));
    EXPECT_EQ(ReadAll(slot), std::vector<std::string>{"CD"});
    EXPECT_EQ(slot.TakeRefused(), SlotQueueLimit + 10);
}

TEST(SenderPolicy, UnwantedMessagesTakeNoPlaceInTheQueueAndAreNotCounted) {
    TMailSlot slot(
        "TarvokService", [](const TSenderCredentials&) { return true; },
        [](std::string_view message) { return message.starts_with("TR"); });
    for (std::size_t i = 0; i < SlotQueueLimit + 10; ++i) {
        ASSERT_TRUE(SendSlotMessage("TarvokService", "xx junk"));
    }
    ASSERT_TRUE(SendSlotMessage("TarvokService", "TR 1"));
    EXPECT_EQ(ReadAll(slot), std::vector<std::string>{"TR 1"});
    EXPECT_EQ(slot.TakeRefused(), 0u);
}

// What its owner must look at, kept and refused messages, is told as it arrives; unwanted ones are
// nothing to the owner.
TEST(SenderPolicy, TheOwnerIsToldOfKeptAndRefusedMessagesOnly) {
    std::atomic<bool> accept{true};
    TMailSlot slot(
        "TarvokService", [&](const TSenderCredentials&) { return accept.load(); },
        [](std::string_view message) { return message.starts_with("TR"); });
    std::atomic<int> told{0};
    slot.SetArrivalHook([&] { ++told; });
    auto toldAtLeast = [&](int count) {
        for (int waited = 0; told < count && waited < 10'000; ++waited) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return told >= count;
    };

    ASSERT_TRUE(SendSlotMessage("TarvokService", "xx junk"));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(told, 0);
    ASSERT_TRUE(SendSlotMessage("TarvokService", "TR 1"));
    ASSERT_TRUE(toldAtLeast(1));
    EXPECT_EQ(ReadAll(slot), std::vector<std::string>{"TR 1"});

    accept = false;
    const int before = told;
    ASSERT_TRUE(SendSlotMessage("TarvokService", "TR 2"));
    ASSERT_TRUE(toldAtLeast(before + 1));
    EXPECT_EQ(slot.TakeRefused(), 1u);
    slot.SetArrivalHook(nullptr);
}

// The default: administrators of the slots' program directory. The system keeps everyone else
// out of the slots; should the slots be opened to them by mistake, the slot still drops them.
TEST(SenderPolicy, ByDefaultOnlyAdministratorsOfTheProgramDirectoryAreHeard) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "sending as another account needs root";
    }
    TMailSlot slot("TarvokService");
    EXPECT_EQ(InChild([] { return SendAs(Nobody, {"TR 1"}); }), 1) << "a stranger reached a slot";
    const std::string directory = SlotProgramDirectory();
    for (const auto& [path, mode] :
         {std::pair{directory, 0755}, {directory + "slots", 0777}, {slot.Path(), 0666}}) {
        ASSERT_EQ(::chmod(path.c_str(), static_cast<mode_t>(mode)), 0) << path;
    }
    ASSERT_EQ(InChild([] { return SendAs(Nobody, {"TR 1", "LT"}); }), 0);
    ASSERT_EQ(InChild([] { return SendAs(0, {"CD"}); }), 0);
    EXPECT_EQ(ReadAll(slot), std::vector<std::string>{"CD"});
    EXPECT_EQ(slot.TakeRefused(), 2u);
}

} // namespace
} // namespace tarvok
