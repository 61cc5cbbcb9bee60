// The task-file reader and everything that then reads a loaded record: the due test at the
// record's own dates and at moments no clock shows, the schedule description, and the date texts
// of the record's moments. Input: the bytes of a task file.
#include "fuzz/FuzzSupport.h"
#include "platform/Files.h"
#include "shared/ScheDef.h"
#include "shared/TaskDef.h"
#include "shared/Time.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace tarvok {
namespace {

using fuzzing::Require;

constexpr double Infinity = std::numeric_limits<double>::infinity();
const TDateTime OneSecond = EncodeTime(0, 0, 1);

// Where a schedule's fields meet the calendar: its dates and times combined as the editor
// combines them, a month on, the first and last days of the calendar, and values that decode to
// nothing.
std::vector<TDateTime> MomentsFor(const TScheDef& s) {
    return {s.StartDate,
            s.StartDate + s.OnceAt,
            s.StartDate + 31 + s.OnceAt,
            s.StartDate + s.BetweenStart,
            s.StartDate + 7 + s.BetweenEnd,
            s.EndDate + s.OnceAt,
            EncodeDate(2026, 12, 31) + EncodeTime(23, 59),
            -693593.0,
            2958465.0 + EncodeTime(23, 59),
            -1.5,
            std::numeric_limits<double>::quiet_NaN(),
            Infinity,
            -Infinity,
            1e300};
}

void CheckDueAt(const TScheDef& s, TDateTime moment) {
    const bool due = IsDue(s, moment);
    if (!due) {
        return;
    }
    const auto parts = DecodeDateTime(moment);
    Require(parts.has_value(), "a moment that does not decode was due");
    Require(parts->Second == 0, "a moment past the first second of its minute was due");
    const TDateTime day = EncodeDate(parts->Year, parts->Month, parts->Day);
    Require(day >= s.StartDate, "a day before the start date was due");
    Require(s.NoEnd || day <= s.EndDate, "a day after the end date was due");
}

void CheckDueTest(const TScheDef& s) {
    for (const TDateTime moment : MomentsFor(s)) {
        CheckDueAt(s, moment);
        // Not always a second later: below zero the fraction counts the other way.
        CheckDueAt(s, moment + OneSecond);
    }
}

// The date part's width by order, for four-digit years.
constexpr std::array<std::size_t, 4> DateWidth = {10, 11, 11, 0};

void CheckDateTexts(TDateTime moment, char dateSeparator, char timeSeparator) {
    const bool decodes = DecodeDateTime(moment).has_value();
    for (std::uint8_t order = 0; order < DateWidth.size(); ++order) {
        const auto dateOrder = static_cast<TDateOrder>(order); // the last one is no order
        const std::string date =
            DateTimeText(dateOrder, dateSeparator, timeSeparator, moment, " ", false);
        const std::string both =
            DateTimeText(dateOrder, dateSeparator, timeSeparator, moment, " - ", true);
        Require(date.size() == (decodes ? DateWidth[order] : 0), "a date text of the wrong width");
        Require(both.size() == (decodes ? DateWidth[order] + 3 + 8 : 0),
                "a date and time text of the wrong width");
        Require(both.compare(0, date.size(), date) == 0, "the time changed the date part");
    }
}

void CheckDescription(const TTaskDef& task) {
    std::vector<std::string> lines = {"left over"};
    DescribeSchedule(task.Schedule, lines);
    // An unknown trigger code has an empty line, but the line is there: the tree and the
    // dialogs show the lines by position.
    Require(lines.size() == 3, "the description is not three lines");
    // Any text may come in as the time format; the record's name is as good as any.
    DescribeSchedule(task.Schedule, lines, task.Name);
    Require(lines.size() == 3, "a time format changed the number of description lines");
}

// Stored texts and flags come back in one canonical form: encoding what was decoded and decoding
// that again changes nothing.
void CheckRecordRoundTrip(const TTaskDef& task) {
    for (const std::string* text : {&task.Name, &task.Command, &task.Parameters, &task.WorkDir}) {
        Require(text->size() <= TaskTextMax, "a decoded text is longer than its field");
    }
    TTaskDefBytes once{};
    TTaskDefBytes twice{};
    EncodeTask(task, once);
    EncodeTask(DecodeTask(once), twice);
    Require(once == twice, "a record does not survive encoding and decoding");
}

} // namespace
} // namespace tarvok

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tarvok;
    const std::string path = fuzzing::ScratchDir() + "tarvok.tsk";
    fuzzing::WriteScratchFile(path, fuzzing::AsText(data, size));

    TTaskList list;
    bool torn = false;
    try {
        list.LoadFromFile(path);
    } catch (const platform::TIoError&) {
        torn = true;
    }
    fuzzing::Require(torn == (size % TaskDefSize != 0),
                     "a torn file read as whole, or the reverse");
    fuzzing::Require(list.Count() == size / TaskDefSize, "complete records were lost or invented");

    for (std::size_t i = 0; i < list.Count(); ++i) {
        const TTaskDef task = list.GetTask(i);
        CheckRecordRoundTrip(task);
        CheckDueTest(task.Schedule);
        CheckDescription(task);
        const char dateSeparator = task.Command.empty() ? '-' : task.Command.front();
        const char timeSeparator = task.WorkDir.empty() ? ':' : task.WorkDir.front();
        const TScheDef& s = task.Schedule;
        for (const TDateTime moment :
             {s.StartDate, s.EndDate, s.OnceAt, s.BetweenStart, s.BetweenEnd}) {
            CheckDateTexts(moment, dateSeparator, timeSeparator);
        }
    }
    return 0;
}
