// The real service fed every malformed shape of message, then a flood of them: it survives,
// changes nothing it was not asked to, and still obeys the manager right after.
#include "platform/DatagramSlot.h"
#include "shared/MailSlot.h"
#include "shared/Protocol.h"
#include "tests/e2e/ServiceHarness.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <random>

namespace tarvok::e2e {
namespace {

using namespace std::chrono_literals;

// Sent as raw datagrams, so that shapes the senders of the programs never produce arrive too.
const std::vector<std::string>& MalformedShapes() {
    static const std::vector<std::string> shapes = {
        std::string(),                 // empty
        "T",                           // half a code
        "TR",                          // only a code: task 0, refused
        "tr 1",                        // lower case
        "Tr 1",                        // mixed case
        "TR -",                        // a sign only
        "TR +-",                       // signs only
        "TR --1",                      // two signs
        "TR 1-",                       // a sign after the digits
        "TR 99999999999999999999",     // beyond 32 bits
        "TS 7 99999999999999999999",   // second number beyond 32 bits
        "TS -2147483648 -2147483648",  // the extremes
        std::string("TR\0 1", 5),      // a NUL cuts the message to "TR"
        std::string("\0TR 1", 5),      // a NUL first: nothing
        std::string("TR 7\0\0\0", 7),  // trailing NULs
        "TR\t1",                       // a tab is no blank
        "TR 7 8 9 10 11",              // more numbers than there are
        "XX 1 2",                      // an unknown code
        "SS",                          // the service's own messages
        "TX 1",                        // the manager's own
        "TD -1",                       // an id no task has: TX 0, file unchanged
        "TN 2147483647",               // a new task that is not in the file
        "TF 1 1",                      // finishing a run that never started
        std::string(65, 'T'),          // one byte too long
        "TR 1" + std::string(61, ' '), // a valid start, too long all the same
        std::string(4096, 'x'),        // far too long
        "\xff\xfe\x80\x01 \x7f",       // binary
    };
    return shapes;
}

// Shapes that no receiver acts on: the flood is made of these and of noise.
bool Ignored(const std::string& shape) {
    const TMessage message = ParseMessage(shape.c_str()); // read as far as a NUL, as the slot does
    return shape.size() > MaxSlotMessage || !message.Code ||
           *message.Code == TMessageCode::ServiceStarted ||
           *message.Code == TMessageCode::TaskDeleted;
}

void SendRaw(std::string_view bytes, std::chrono::milliseconds patience) {
    platform::SendDatagram(SlotPath(ServiceSlotName), bytes, patience);
}

class MalformedMessages : public testing::Test {
protected:
    void SetUp() override {
        service_.WriteTasks(
            {MakeTask(1, "Probe", service_.MarkerScript("probe"), "", DailyAt(3, 33))});
        service_.Start();
        ASSERT_TRUE(service_.WaitForMessage("SS"));
    }

    // The legitimate request must still work: the task starts once, now.
    void ExpectObeysRun() {
        const auto asked = TSteadyClock::now();
        ASSERT_TRUE(service_.Send("TR 1"));
        ASSERT_TRUE(service_.WaitForLogLine("Task \"Probe\" [1] started."));
        const auto answered = TSteadyClock::now();
        EXPECT_TRUE(service_.WaitUntil([&] { return service_.Runs("probe") == 1; }));
        RecordProperty(
            "run_answered_after_ms",
            static_cast<int>(
                std::chrono::duration_cast<std::chrono::milliseconds>(answered - asked).count()));
    }

    TServiceHarness service_{testing::UnitTest::GetInstance()->current_test_info()->name()};
};

TEST_F(MalformedMessages, EveryShapeIsSurvivedAndChangesNothing) {
    const std::string tasksBefore = service_.ReadFile("tarvok.tsk");
    for (const std::string& shape : MalformedShapes()) {
        SendRaw(shape, 500ms);
    }
    // "TD -1" is answered; once its "TX 0" is here, every shape sent before it has been read.
    ASSERT_TRUE(service_.WaitForMessage("TX 0"));
    EXPECT_EQ(service_.ReadFile("tarvok.tsk"), tasksBefore);
    EXPECT_EQ(service_.Runs("probe"), 0);
    EXPECT_FALSE(service_.WaitForExit(0s)) << "the service ended";
    ExpectObeysRun();
}

// Requests that carry no valid task (such as a bare "TR") are still requests: each is obeyed and
// logged. The flood is of datagrams no receiver acts on.
TEST_F(MalformedMessages, FloodLeavesTheServiceAnsweringWithoutGrowing) {
    std::vector<std::string> shapes;
    std::copy_if(MalformedShapes().begin(), MalformedShapes().end(), std::back_inserter(shapes),
                 Ignored);
    ASSERT_GE(shapes.size(), 12u);
    const TResourceUse before = ResourceUseOf(service_.Pid());
    std::mt19937 random(8122026);
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<int> length(1, 80);
    std::size_t sent = 0;
    for (const auto end = TSteadyClock::now() + 10s; TSteadyClock::now() < end; ++sent) {
        if (sent % 2 == 0) {
            SendRaw(shapes[sent / 2 % shapes.size()], 0ms);
        } else {
            std::string noise(static_cast<std::size_t>(length(random)), '\0');
            for (char& c : noise) {
                c = static_cast<char>(byte(random));
            }
            noise[0] = static_cast<char>(0x80 | byte(random)); // never the start of a code
            SendRaw(noise, 0ms);
        }
    }
    RecordProperty("datagrams_sent", static_cast<int>(sent));
    ExpectObeysRun();
    const TResourceUse after = ResourceUseOf(service_.Pid());
    EXPECT_LT(after.ResidentKiB, before.ResidentKiB + 1024)
        << "resident memory grew from " << before.ResidentKiB << " KiB";
}

} // namespace
} // namespace tarvok::e2e
