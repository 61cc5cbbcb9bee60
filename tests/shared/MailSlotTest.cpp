#include "shared/MailSlot.h"

#include <chrono>
#include <csignal>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace tarvok {
namespace {

using namespace std::chrono_literals;

// One byte at a time between a test and its child; waits end at a deadline so that a broken
// peer fails the test instead of hanging it.
class TPipe {
public:
    TPipe() { EXPECT_EQ(::pipe(ends_), 0); }
    ~TPipe() {
        ::close(ends_[0]);
        ::close(ends_[1]);
    }
    void Put(char value) { EXPECT_EQ(::write(ends_[1], &value, 1), 1); }
    // The next byte, or 0 when none came in time.
    char Take() {
        pollfd watched{ends_[0], POLLIN, 0};
        char value = 0;
        if (::poll(&watched, 1, 10'000) != 1 || ::read(ends_[0], &value, 1) != 1) {
            return 0;
        }
        return value;
    }

private:
    int ends_[2] = {-1, -1};
};

// A forked process whose exit code is its verdict; killed if the test ends before it does.
class TChild {
public:
    explicit TChild(const std::function<int()>& body) : pid_(::fork()) {
        if (pid_ == 0) {
            ::_exit(body());
        }
    }
    ~TChild() {
        if (pid_ > 0) {
            Kill();
        }
    }
    pid_t Pid() const { return pid_; }
    int Wait() {
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    void Kill() {
        ::kill(pid_, SIGKILL);
        Wait();
    }

private:
    pid_t pid_;
};

std::vector<std::string> ReadAll(TMailSlot& slot) {
    std::vector<std::string> messages;
    for (std::string message = slot.ReadMessage(); !message.empty(); message = slot.ReadMessage()) {
        messages.push_back(message);
    }
    return messages;
}

TEST(SlotPath, IsTheLowerCaseNameInTheSlotsOfTheProgramDirectory) {
    const std::string slots = SlotProgramDirectory() + "slots/";
    const std::pair<std::string, std::string> rows[] = {
        {"TarvokService", "tarvokservice"},
        {"TarvokClient", "tarvokclient"},
        {"AZ-az_09", "az-az_09"},
        {"\xC4R", "\xC4r"},
    };
    for (const auto& [name, file] : rows) {
        SCOPED_TRACE(name);
        EXPECT_EQ(SlotPath(name), slots + file);
        EXPECT_EQ(TMailSlot(name).Path(), slots + file);
    }
}

TEST(MailSlot, MessagesFromAnotherProcessAreReadInOrderThenNothing) {
    TMailSlot slot("TarvokClient");
    ASSERT_FALSE(slot.CreationFailed());
    TChild sender([] {
        return SendSlotMessage("TarvokClient", "SR") && SendSlotMessage("TarvokClient", "TS 1 2")
                   ? 0
                   : 1;
    });
    ASSERT_EQ(sender.Wait(), 0);
    EXPECT_EQ(slot.ReadMessage(), "SR");
    EXPECT_EQ(slot.ReadMessage(), "TS 1 2");
    EXPECT_EQ(slot.ReadMessage(), "");
    EXPECT_EQ(slot.ReadMessage(), "");
}

TEST(MailSlot, NamesMatchWhateverTheirLetterCase) {
    TMailSlot slot("TarvokClient");
    for (const char* name : {"TARVOKCLIENT", "tarvokclient", "tArVoKcLiEnT"}) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(SlotExists(name));
        EXPECT_TRUE(TMailSlot(name).CreationFailed());
        EXPECT_TRUE(SendSlotMessage(name, name));
        EXPECT_EQ(slot.ReadMessage(), name);
    }
}

TEST(MailSlot, SendingAnswersFalseAndWritesNothingWhenItCannotDeliver) {
    TMailSlot slot("TarvokClient");
    const std::pair<std::string, std::string> rows[] = {
        {"TarvokClient", ""},
        {"TarvokClient", std::string(MaxSlotMessage + 1, 'x')},
        {"NobodyOwnsThis", "SR"},
        {std::string(200, 'n'), "SR"},
    };
    for (const auto& [name, message] : rows) {
        SCOPED_TRACE(name + " <- " + message);
        EXPECT_FALSE(SendSlotMessage(name, message));
        EXPECT_EQ(slot.ReadMessage(), "");
    }
    EXPECT_FALSE(SlotExists("NobodyOwnsThis"));
    EXPECT_FALSE(SendSlotFmt("TarvokClient", "%s", ""));
    EXPECT_TRUE(SendSlotMessage("TarvokClient", std::string(MaxSlotMessage, 'x')));
}

TEST(MailSlot, FormattedMessagesCarryTextsAndNumbers) {
    TMailSlot slot("TarvokService");
    EXPECT_TRUE(SendSlotFmt("TarvokService", "%s %d %d", "TS", 7, -12));
    EXPECT_TRUE(SendSlotFmt("TarvokService", "%s %d", std::string("TX"), 0u));
    EXPECT_TRUE(SendSlotFmt("TarvokService", "%d%% of %s", 2147483647, std::string_view("it")));
    EXPECT_TRUE(SendSlotFmt("TarvokService", "CR"));
    EXPECT_EQ(ReadAll(slot),
              (std::vector<std::string>{"TS 7 -12", "TX 0", "2147483647% of it", "CR"}));
}

// Every row goes out as a raw datagram followed by a valid marker: the row yields its message
// or nothing, and the marker always arrives.
TEST(MailSlot, MalformedDatagramsAreDroppedAndReadingGoesOn) {
    struct TRow {
        const char* What;
        std::string Bytes;
        std::string Message; // empty: dropped
    };
    const TRow rows[] = {
        {"longest", std::string(MaxSlotMessage, 'y'), std::string(MaxSlotMessage, 'y')},
        {"one byte too long", std::string(MaxSlotMessage + 1, 'x'), ""},
        {"far too long", std::string(60000, 'x'), ""},
        {"empty", "", ""},
        {"zero first", std::string("\0SR", 3), ""},
        {"zero inside", std::string("TS 4\0junk", 9), "TS 4"},
        {"other bytes", "\xFF\x01\x7F", "\xFF\x01\x7F"},
    };
    TMailSlot slot("TarvokService");
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.What);
        ASSERT_EQ(platform::SendDatagram(slot.Path(), row.Bytes, 1s), platform::TSendResult::Sent);
        ASSERT_TRUE(SendSlotMessage("TarvokService", "MARK"));
        if (!row.Message.empty()) {
            EXPECT_EQ(slot.ReadMessage(), row.Message);
        }
        EXPECT_EQ(slot.ReadMessage(), "MARK");
        EXPECT_EQ(slot.ReadMessage(), "");
    }
}

TEST(MailSlot, AnOwnerThatDiesTakesItsSlotAlong) {
    TPipe ready;
    TChild owner([&ready] {
        TMailSlot slot("TarvokService");
        ready.Put(slot.CreationFailed() ? 'f' : 'r');
        ::pause();
        return 0;
    });
    ASSERT_EQ(ready.Take(), 'r');
    EXPECT_TRUE(SlotExists("TarvokService"));
    TMailSlot second("TarvokService");
    EXPECT_TRUE(second.CreationFailed());
    EXPECT_TRUE(SendSlotMessage("TarvokService", "CR"));
    EXPECT_EQ(second.ReadMessage(), "");

    owner.Kill();
    EXPECT_FALSE(SlotExists("TarvokService"));
    EXPECT_FALSE(SendSlotMessage("TarvokService", "CR"));
    EXPECT_FALSE(TMailSlot("TarvokService").CreationFailed());
}

// The service starts tasks while it owns its slot; they must not keep the slot alive.
TEST(MailSlot, ProgramsStartedByTheOwnerDoNotInheritTheSlot) {
    auto slot = std::make_unique<TMailSlot>("TarvokService");
    pid_t task = 0;
    char program[] = "/bin/sleep";
    char seconds[] = "60";
    char* arguments[] = {program, seconds, nullptr};
    ASSERT_EQ(::posix_spawn(&task, program, nullptr, nullptr, arguments, environ), 0);
    slot.reset();
    EXPECT_FALSE(SlotExists("TarvokService"));
    ::kill(task, SIGKILL);
    ::waitpid(task, nullptr, 0);
}

// The service starting many tasks at once sends one "LC" per log line to a manager that reads
// every 100 ms; the system itself queues only a handful.
TEST(MailSlot, ABurstFromAnotherProcessArrivesWholeAndInOrder) {
    constexpr int burst = 1000;
    TMailSlot slot("TarvokClient");
    TChild sender([] {
        for (int i = 0; i < burst; ++i) {
            if (!SendSlotFmt("TarvokClient", "%s %d", "LC", i)) {
                return 1;
            }
        }
        return 0;
    });
    std::vector<std::string> received;
    for (int pass = 0; pass < 300 && received.size() < burst; ++pass) {
        std::this_thread::sleep_for(100ms); // the manager's mail timer
        for (std::string& message : ReadAll(slot)) {
            received.push_back(std::move(message));
        }
    }
    EXPECT_EQ(sender.Wait(), 0) << "a send answered false";
    ASSERT_EQ(received.size(), std::size_t{burst});
    for (int i = 0; i < burst; ++i) {
        ASSERT_EQ(received[i], "LC " + std::to_string(i));
    }
}

TEST(MailSlot, AnUnreadSlotKeepsTheOldestMessagesUpToItsLimit) {
    constexpr int sent = 5000;
    TMailSlot slot("TarvokClient");
    TChild sender([] {
        for (int i = 0; i < sent; ++i) {
            if (!SendSlotFmt("TarvokClient", "%d", i)) {
                return 1;
            }
        }
        return 0;
    });
    ASSERT_EQ(sender.Wait(), 0);
    const std::vector<std::string> received = ReadAll(slot);
    ASSERT_GE(received.size(), SlotQueueLimit);
    for (std::size_t i = 0; i < SlotQueueLimit; ++i) {
        ASSERT_EQ(received[i], std::to_string(i));
    }
    // Reading makes room, so the few the system still held may follow.
    EXPECT_LT(received.size(), SlotQueueLimit + 32);
}

// A stopped owner's thread cannot make room: sends must give up rather than hang, say so, and
// get through again once the owner runs.
TEST(MailSlot, ASenderGivesUpOnAStoppedOwnerAndRecovers) {
    TPipe ready;
    TPipe expected;
    TPipe drained;
    TChild owner([&] {
        TMailSlot slot("TarvokClient");
        ready.Put('r');
        const int count = expected.Take();
        int got = 0;
        for (int pass = 0; pass < 1000 && got < count; ++pass) {
            got += static_cast<int>(ReadAll(slot).size());
            std::this_thread::sleep_for(10ms);
        }
        drained.Put(got == count ? 'd' : 'x');
        ::pause();
        return 0;
    });
    ASSERT_EQ(ready.Take(), 'r');
    ASSERT_EQ(::kill(owner.Pid(), SIGSTOP), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(owner.Pid(), &status, WUNTRACED), owner.Pid());

    std::vector<bool> results;
    for (int i = 0; i < 20; ++i) {
        results.push_back(SendSlotMessage("TarvokClient", "SR"));
    }
    const auto accepted = std::count(results.begin(), results.end(), true);
    EXPECT_GT(accepted, 0);
    EXPECT_LT(accepted, 20);
    EXPECT_TRUE(
        std::is_partitioned(results.begin(), results.end(), [](bool sent) { return sent; }));

    ASSERT_EQ(::kill(owner.Pid(), SIGCONT), 0);
    expected.Put(static_cast<char>(accepted));
    ASSERT_EQ(drained.Take(), 'd');
    EXPECT_TRUE(SendSlotMessage("TarvokClient", "SR"));
}

} // namespace
} // namespace tarvok
