// The text scanner under any format, and the service's handling of whatever arrives in its slot.
//
// Input: text. Its lines (up to MaxMessages) are messages, parsed and then handled by a scheduler
// thread of the service over a fixed task file in a scratch program directory, with a fake
// channel and a fake process control that never starts a process. Scan meets the same bytes:
// when they hold a NUL, the text before it is a format and the text after it the input;
// otherwise the whole text is the input of the formats the programs use.
#include "fuzz/FuzzSupport.h"
#include "platform/Files.h"
#include "service/SvcThd.h"
#include "shared/Protocol.h"
#include "shared/scanf.h"
#include "tests/FakeProcesses.h"
#include "tests/service/FakeChannel.h"

#include <algorithm>
#include <array>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace tarvok {
namespace {

using fuzzing::Require;

constexpr std::size_t MaxTargets = 8;
constexpr std::size_t MaxMessages = 32;
constexpr std::int32_t PresetInt = 77;
constexpr long double PresetFloat = 77.5L;
constexpr std::string_view PresetText = "?";

// Targets preset so that one the scan did not reach shows; 'd', 'f', 's' or '0' (a null target)
// per place.
class TTargets {
public:
    explicit TTargets(std::string_view kinds) {
        for (std::size_t i = 0; i < kinds.size() && i < MaxTargets; ++i) {
            ints_[i] = PresetInt;
            floats_[i] = PresetFloat;
            texts_[i] = PresetText;
            list_.push_back(kinds[i] == 'd'   ? TScanTarget{&ints_[i]}
                            : kinds[i] == 'f' ? TScanTarget{&floats_[i]}
                            : kinds[i] == 's' ? TScanTarget{&texts_[i]}
                                              : TScanTarget{static_cast<std::string*>(nullptr)});
        }
    }

    const std::vector<TScanTarget>& List() const { return list_; }

    void Check(std::size_t filled) const {
        Require(filled <= list_.size(), "more targets filled than given");
        for (std::size_t i = 0; i < list_.size(); ++i) {
            const bool reached = i < filled;
            if (std::holds_alternative<std::int32_t*>(list_[i])) {
                Require(reached || ints_[i] == PresetInt, "a number target past the scan changed");
            } else if (std::holds_alternative<long double*>(list_[i])) {
                Require(reached || floats_[i] == PresetFloat,
                        "a float target past the scan changed");
            } else if (std::get<std::string*>(list_[i]) == nullptr) {
                Require(!reached, "a null target counted as filled");
            } else if (reached) {
                Require(!texts_[i].empty() && texts_[i].size() <= ScanTextMax &&
                            texts_[i].find(' ') == std::string::npos,
                        "a text field is empty, too long or holds a blank");
            } else {
                Require(texts_[i] == PresetText, "a text target past the scan changed");
            }
        }
    }

private:
    std::array<std::int32_t, MaxTargets> ints_{};
    std::array<long double, MaxTargets> floats_{};
    std::array<std::string, MaxTargets> texts_{};
    std::vector<TScanTarget> list_;
};

// The kinds a format asks for, in order; a directive other than d or f gets a text target.
std::string KindsOf(std::string_view format) {
    std::string kinds;
    for (std::size_t at = format.find('%'); at != std::string_view::npos && at + 1 < format.size();
         at = format.find('%', at + 2)) {
        kinds += format[at + 1] == 'd' || format[at + 1] == 'f' ? format[at + 1] : 's';
    }
    return kinds;
}

void FuzzScan(std::string_view text) {
    const std::size_t nul = text.find('\0');
    const std::string_view input = nul == std::string_view::npos ? text : text.substr(nul + 1);
    std::vector<std::string_view> formats = {"%s %d %d", "[%d", "%d,%d,%d", "%f %s"};
    if (nul != std::string_view::npos) {
        formats.push_back(text.substr(0, nul));
    }
    for (const std::string_view format : formats) {
        for (const std::string& kinds : {KindsOf(format), std::string("sdd"), std::string("d0f")}) {
            TTargets targets(kinds);
            targets.Check(Scan(input, format, targets.List()));
        }
    }
}

// A message that parses is rebuilt, shape and all, by FormatMessage from what was read.
bool Reformats(const std::string& message) {
    const TMessage m = ParseMessage(message);
    return m.Code &&
           (message == FormatMessage(*m.Code) || message == FormatMessage(*m.Code, m.TaskId) ||
            message == FormatMessage(*m.Code, m.TaskId, m.ProcessId));
}

void CheckParse(std::string_view line) {
    const TMessage m = ParseMessage(line);
    if (!m.Code) {
        return;
    }
    const std::string again = FormatMessage(*m.Code, m.TaskId, m.ProcessId);
    Require(again.size() < 30, "a message of 30 bytes or more");
    Require(ParseMessage(again) == m, "a message does not survive formatting and parsing");
}

TDateTime At(int hour, int minute, int second) {
    return EncodeDate(2026, 12, 8) + EncodeTime(hour, minute, second);
}

TTaskDef Task(std::int32_t id, const std::string& name, const std::string& command, bool blocking) {
    TTaskDef task = TTaskDef::New();
    task.Id = id;
    task.Name = name;
    task.Command = command;
    task.WorkDir = "/work";
    task.Enabled = true;
    task.Blocking = blocking;
    task.Schedule.DailyEvery = 1;
    task.Schedule.OnceAt = EncodeTime(10, 16);
    task.Schedule.NoEnd = true;
    task.Schedule.StartDate = EncodeDate(2026, 1, 1);
    return task;
}

// Blocking and plain tasks, one that cannot start, a repeated id and the id no task should
// have, all due at 10:16.
void WriteTaskFile(const std::string& path) {
    TTaskList list;
    for (TTaskDef task : {Task(1, "Backup", "/bin/job", true), Task(2, "Mail", "/bin/job", false),
                          Task(2, "Twin", "/bin/job", true), Task(3, "Gone", "/missing", true),
                          Task(0, "Damaged", "/bin/job", false)}) {
        list.AddTask(task, false);
    }
    list.SaveToFile(path);
}

std::vector<TTaskDefBytes> Encoded(const TTaskList& list) {
    std::vector<TTaskDefBytes> records(list.Count());
    for (std::size_t i = 0; i < list.Count(); ++i) {
        EncodeTask(list.GetTask(i), records[i]);
    }
    return records;
}

// The service's list and its file agree after every message: the file changes only through the
// service here.
void CheckListMatchesFile(const TTarvokThread& thread, const std::string& taskPath) {
    TTaskList onDisk;
    if (platform::FileExists(taskPath)) {
        onDisk.LoadFromFile(taskPath);
    }
    Require(Encoded(onDisk) == Encoded(thread.Tasks()), "the service's tasks and file differ");
}

void CheckSent(const std::vector<std::string>& sent, std::size_t from) {
    for (std::size_t i = from; i < sent.size(); ++i) {
        Require(Reformats(sent[i]), "the service sent a message FormatMessage cannot build");
    }
}

std::vector<std::string_view> Lines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty() && lines.size() < MaxMessages) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        lines.push_back(text.substr(0, end));
        text.remove_prefix(std::min(end + 1, text.size()));
    }
    return lines;
}

void FuzzService(std::string_view text) {
    fuzzing::ClearScratchDir();
    const TProgramPaths paths = ProgramPathsFor(fuzzing::ScratchDir() + "TarvokSvc");
    WriteTaskFile(paths.TaskPath);

    testing_support::TFakeProcesses processes;
    TFixedClock clock(At(10, 15, 40));
    std::deque<std::string> unread; // messages go straight to HandleMessage
    std::vector<std::string> sent;
    TTarvokThread thread(TTarvokThread::TSetup{
        paths, clock, processes, std::make_unique<testing_support::TFakeChannel>(unread, sent)});
    for (const std::string_view line : Lines(text)) {
        CheckParse(line);
        const std::size_t before = sent.size();
        thread.HandleMessage(std::string(line), 1000);
        CheckSent(sent, before);
        CheckListMatchesFile(thread, paths.TaskPath);
    }
    // The minute the tasks are due, after whatever the messages did to the list and the table.
    clock.Set(At(10, 16, 0));
    const std::size_t before = sent.size();
    thread.Tick();
    CheckSent(sent, before);
}

} // namespace
} // namespace tarvok

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text = tarvok::fuzzing::AsText(data, size);
    tarvok::FuzzScan(text);
    tarvok::FuzzService(text);
    return 0;
}
