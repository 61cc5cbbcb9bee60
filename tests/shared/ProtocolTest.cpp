#include "shared/Protocol.h"

#include <cctype>
#include <gtest/gtest.h>
#include <limits>
#include <random>
#include <set>

namespace tarvok {
namespace {

using enum TMessageCode;

TEST(Protocol, CodeTableMapsEveryCodeBothWays) {
    const auto table = MessageCodeTable();
    ASSERT_EQ(table.size(), static_cast<std::size_t>(TaskFailed) + 1);
    std::set<TMessageCode> codes;
    std::set<std::string_view> texts;
    for (const auto& [code, text] : table) {
        SCOPED_TRACE(text);
        codes.insert(code);
        texts.insert(text);
        ASSERT_EQ(text.size(), 2u);
        EXPECT_TRUE(std::isupper(static_cast<unsigned char>(text[0])) &&
                    std::isupper(static_cast<unsigned char>(text[1])));
        EXPECT_EQ(MessageCodeText(code), text);
        EXPECT_EQ(MessageCodeFromText(text), code);
        EXPECT_EQ(MessageCodeFromText(std::string{char(std::tolower(text[0])), text[1]}),
                  std::nullopt);
    }
    EXPECT_EQ(codes.size(), table.size());
    EXPECT_EQ(texts.size(), table.size());
}

TEST(Protocol, TheServiceActsOnWhatTheManagerSendsOnly) {
    std::string requests;
    for (const auto& [code, text] : MessageCodeTable()) {
        if (IsServiceRequest(code)) {
            requests += std::string(text) + " ";
        }
    }
    EXPECT_EQ(requests, "CR CD LT TN TM TD TR TS TF RQ ");
}

TEST(Protocol, ShapesAreExactAndRoundTrip) {
    constexpr auto minId = std::numeric_limits<std::int32_t>::min();
    constexpr auto maxPid = std::numeric_limits<std::uint32_t>::max();
    struct Row {
        std::string built, text;
        TMessage message;
    };
    const Row rows[] = {
        {FormatMessage(ClientConnected), "CR", {ClientConnected}},
        {FormatMessage(TaskAdded, 7), "TN 7", {TaskAdded, 7}},
        {FormatMessage(TaskStarted, 7, 4711), "TS 7 4711", {TaskStarted, 7, 4711}},
        {FormatMessage(TaskFinished, 3, 4194304), "TF 3 4194304", {TaskFinished, 3, 4194304}},
        // A failure by signal 9 travels as minus nine.
        {FormatMessage(TaskFailed, 3, static_cast<std::uint32_t>(-9)),
         "TE 3 -9",
         {TaskFailed, 3, static_cast<std::uint32_t>(-9)}},
        // Ids beyond the signed range travel as the signed decimal and come back unchanged.
        {FormatMessage(TaskStarted, minId, maxPid),
         "TS -2147483648 -1",
         {TaskStarted, minId, maxPid}},
        {FormatMessage(TaskStarted, 1, 0x80000000u),
         "TS 1 -2147483648",
         {TaskStarted, 1, 0x80000000u}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.text);
        EXPECT_EQ(r.built, r.text);
        EXPECT_LT(r.built.size(), 30u);
        EXPECT_EQ(ParseMessage(r.built), r.message);
    }
    for (const auto& [code, text] : MessageCodeTable()) {
        SCOPED_TRACE(text);
        EXPECT_EQ(ParseMessage(FormatMessage(code)), (TMessage{code}));
        EXPECT_EQ(ParseMessage(FormatMessage(code, -5)), (TMessage{code, -5}));
        EXPECT_EQ(ParseMessage(FormatMessage(code, 9, 12)), (TMessage{code, 9, 12}));
    }
}

TEST(Protocol, ParsingForeignTextNeverFailsAndReadsZeroForWhatIsMissing) {
    const std::pair<std::string, TMessage> rows[] = {
        {"TS 5", {TaskStarted, 5, 0}},
        {"ts 5 6", {std::nullopt, 5, 6}},
        {"", {}},
        {"T", {}},
        {"TSX 1", {std::nullopt, 1}},
        {"TS\t5", {}},
        {"  SR ", {ServiceRunning}},
        {"TX 3 4 5", {TaskDeleted, 3, 4}},
        {"TS x 5", {TaskStarted}},
        {"TS 5 --1", {TaskStarted, 5}},
        {"TS 99999999999 5", {TaskStarted}},
    };
    for (const auto& [text, message] : rows) {
        SCOPED_TRACE(text);
        EXPECT_EQ(ParseMessage(text), message);
    }
}

// Bytes from a hostile or broken sender: a code is recognised only when the text starts with it.
TEST(Protocol, RandomBytesParseSafely) {
    std::mt19937 random(4169);
    for (int round = 0; round < 20000; ++round) {
        std::string text(random() % 65, ' ');
        for (char& c : text) {
            c = static_cast<char>(1 + random() % 255);
        }
        if (round % 2 == 0 && text.size() >= 2) {
            text.replace(0, 2, MessageCodeTable()[random() % MessageCodeTable().size()].second);
        }
        const TMessage message = ParseMessage(text);
        if (message.Code) {
            const auto start = text.find_first_not_of(' ');
            const std::string_view code = MessageCodeText(*message.Code);
            ASSERT_EQ(text.compare(start, 2, code), 0) << text;
            ASSERT_TRUE(start + 2 == text.size() || text[start + 2] == ' ') << text;
        }
    }
}

} // namespace
} // namespace tarvok
