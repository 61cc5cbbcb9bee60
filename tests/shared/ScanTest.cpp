#include "shared/scanf.h"

#include <gtest/gtest.h>
#include <random>
#include <sstream>
#include <vector>

namespace tarvok {
namespace {

// Targets of the given kinds ('d', 'f', 's'), preset so that an untouched one shows: 77 or "?".
struct TTargets {
    explicit TTargets(std::string_view kinds) : Ints(kinds.size(), 77), Floats(kinds.size(), 77) {
        Texts.assign(kinds.size(), "?");
        for (std::size_t i = 0; i < kinds.size(); ++i) {
            List.push_back(kinds[i] == 'd'   ? TScanTarget{&Ints[i]}
                           : kinds[i] == 'f' ? TScanTarget{&Floats[i]}
                                             : TScanTarget{&Texts[i]});
        }
    }
    std::string Show(std::size_t i) const {
        std::ostringstream out;
        std::visit([&](auto* place) { out << *place; }, List[i]);
        return out.str();
    }
    std::vector<std::int32_t> Ints;
    std::vector<long double> Floats;
    std::vector<std::string> Texts;
    std::vector<TScanTarget> List;
};

TEST(Scan, FillsTargetsInOrderAndStopsAtTheFirstFieldItCannotRead) {
    const std::string longText(300, 'a');
    struct Row {
        std::string input, format, kinds;
        std::size_t filled;
        std::vector<std::string> values;
    };
    const Row rows[] = {
        {"TX 5", "%s %d %d", "sdd", 2, {"TX", "5", "77"}},
        {"TS 3 4711", "%s %d %d", "sdd", 3, {"TS", "3", "4711"}},
        {"", "%s %d %d", "sdd", 0, {"?", "77", "77"}},
        {"  a   b", "%s%s", "ss", 2, {"a", "b"}},
        {longText + " 5", "%s %d", "sd", 2, {longText.substr(0, 255), "5"}},
        // Literals: the input moves past the first occurrence.
        {"Backup [3]", "[%d", "d", 1, {"3"}},
        {"Copy [old] [3]", "[%d", "d", 0, {"77"}},
        {"No id", "[%d", "d", 0, {"77"}},
        {"5,6,7", "%d,%d,%d", "ddd", 3, {"5", "6", "7"}},
        {"50% 7", "% %d", "d", 1, {"7"}}, // a "%" before a non-letter is a literal
        // Fields end where their characters end.
        {"12abc", "%d %s", "ds", 2, {"12", "abc"}},
        // Signs and range of integers.
        {" -12 +007", "%d %d", "dd", 2, {"-12", "7"}},
        {"2147483647 -2147483648", "%d %d", "dd", 2, {"2147483647", "-2147483648"}},
        {"1 2147483648", "%d %d", "dd", 1, {"1", "77"}},
        {"-2147483649", "%d", "d", 0, {"77"}},
        {"99999999999999999999999", "%d", "d", 0, {"77"}},
        {"-", "%d", "d", 0, {"77"}},
        {"1 --5 2", "%d %d %d", "ddd", 1, {"1", "77", "77"}},
        {"5-", "%d", "d", 0, {"77"}},
        // Floats.
        {"1.5 -2.5e3 +.25", "%f %f %f", "fff", 3, {"1.5", "-2500", "0.25"}},
        {"-0.5E-1 4", "%f %d", "fd", 2, {"-0.05", "4"}},
        {"1e", "%f", "f", 0, {"77"}},
        {"+-", "%f", "f", 0, {"77"}},
        {"1.2.3", "%f", "f", 0, {"77"}},
        {"1e99999", "%f", "f", 0, {"77"}},
        // The format ends the scan.
        {"TS 1 2", "%s", "sdd", 1, {"TS", "77", "77"}},
        {"TS 1", "%s %x %d", "sdd", 1, {"TS", "77", "77"}},
        {"5 6", "%d%", "dd", 1, {"5", "77"}},
        // A target of the wrong kind.
        {"5", "%d", "s", 0, {"?"}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << '"' << r.input << "\" with \"" << r.format << '"');
        TTargets targets(r.kinds);
        EXPECT_EQ(Scan(r.input, r.format, targets.List), r.filled);
        for (std::size_t i = 0; i < r.values.size(); ++i) {
            EXPECT_EQ(targets.Show(i), r.values[i]) << "target " << i;
        }
    }
}

TEST(Scan, NullTargetEndsTheScan) {
    std::int32_t first = 0;
    EXPECT_EQ(Scan("5 6", "%d %d", {&first, static_cast<std::int32_t*>(nullptr)}), 1u);
    EXPECT_EQ(first, 5);
}

// Random formats over random inputs: whatever comes in, only the reported targets change and a
// text never holds a blank or more than 255 characters.
TEST(Scan, RandomInputsKeepTheContract) {
    std::mt19937 random(20260312);
    const std::string formatChars = "%%%dfsx [],.";
    std::string inputChars = " []+-.0123456789Eeaz%\t\xff";
    inputChars += '\0';
    const auto pick = [&](const std::string& from, std::size_t maxLength) {
        std::string text(random() % (maxLength + 1), ' ');
        for (char& c : text) {
            c = from[random() % from.size()];
        }
        return text;
    };
    for (int round = 0; round < 20000; ++round) {
        const std::string format = pick(formatChars, 10);
        const std::string input = pick(inputChars, 300);
        const std::string kinds = pick("dfs", 4);
        TTargets targets(kinds);
        const std::size_t filled = Scan(input, format, targets.List);
        ASSERT_LE(filled, kinds.size());
        for (std::size_t i = 0; i < kinds.size(); ++i) {
            SCOPED_TRACE(testing::Message()
                         << "input \"" << input << "\" format \"" << format << "\" target " << i);
            if (i >= filled) {
                ASSERT_EQ(targets.Show(i), kinds[i] == 's' ? "?" : "77");
            } else if (kinds[i] == 's') {
                ASSERT_LE(targets.Texts[i].size(), ScanTextMax);
                ASSERT_EQ(targets.Texts[i].find(' '), std::string::npos);
            }
        }
    }
}

} // namespace
} // namespace tarvok
