// Starting detached programs and asking after a process known only by its id.
//
// A started program runs in a session of its own with its standard input on the null device and
// its output there too, or in the system journal when asked (OutputTag), inherits no open
// descriptor of ours, no blocked signal and no ignored one, and outlives us. Its end is collected
// in the background: the caller never reaps anything, and nothing that other code in the program
// starts (and reaps itself) is touched.
//
//     TProcessStart start;
//     start.Program = "/usr/bin/backup";
//     start.Arguments = {"--full", "/srv"};
//     start.Priority = TProcessPriority::Low;
//     std::uint32_t id = StartProcess(start);   // 0: it did not start
//     ...
//     if (QueryProcess(id).Kind == TProcessState::TKind::Running) ...
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tarvok::platform {

// High is nice -10, Realtime nice -20, Normal nice 0, Low nice 19 in the idle scheduling class.
// A priority the account may not take leaves the program at the caller's.
enum class TProcessPriority : std::uint8_t { Inherited, High, Realtime, Normal, Low };

struct TProcessStart {
    // The file that is run; also the program's first argument, as given. A relative path is
    // taken from the caller's working directory, not from WorkDir.
    std::string Program;
    // The arguments after the first one.
    std::vector<std::string> Arguments;
    // Empty: the caller's working directory.
    std::string WorkDir;
    TProcessPriority Priority = TProcessPriority::Inherited;
    // False removes DISPLAY and WAYLAND_DISPLAY from the program's environment, so it cannot
    // open windows.
    bool KeepDisplay = true;
    // Not empty: standard output and standard error go to the system journal, tagged with this
    // identifier (journalctl -t), where a journal runs; to the null device where none does.
    std::string OutputTag;
    // The end is kept until TakeProcessEnd collects it, however many other processes end
    // meanwhile; without it only the last 4096 ends are remembered.
    bool KeepEnd = false;
};

// Returns the new process's id, or 0 when it did not start: a file that cannot be executed
// (missing, no execute permission, not a program) or a working directory that cannot be
// entered fails here, never as a child that dies at once.
std::uint32_t StartProcess(const TProcessStart& start);

struct TProcessState {
    enum class TKind : std::uint8_t {
        Running, // a process with this id exists and is not a zombie, whoever started it
        Ended,   // ExitCode holds its exit status
        Unknown, // no such process, and nothing is known of one
    };
    TKind Kind = TKind::Unknown;
    // The value given to exit(), or 128 + the number of the signal that ended the process.
    std::uint32_t ExitCode = 0;
    // The number of the signal that ended it; 0 when it exited (or nothing is known), so that
    // exit(137) and SIGKILL are told apart.
    int Signal = 0;
};

// How a process started with KeepEnd ended.
struct TProcessEnd {
    // False: its end was not seen (someone else reaped it, or it is no process of ours).
    bool Known = false;
    bool Signalled = false;
    // The exit code, or the number of the signal that ended it.
    int Code = 0;
    // How long before the call it ended, as the reaper saw it end: the caller's clock may be
    // another than the system's.
    std::int64_t MsAgo = 0;
};

// Nothing while a process started with KeepEnd runs; once it has ended, its end, handed out
// once. A process started without KeepEnd, or unknown, answers an end that is not Known.
std::optional<TProcessEnd> TakeProcessEnd(std::uint32_t processId);

// Called, on a thread of the platform's, each time a process started with KeepEnd ends; none
// removes it. A program that waits for work wakes on it, instead of looking every moment.
void SetProcessEndHook(std::function<void()> hook);

// Takes over following a process that another program started and handed over by its id: from
// now on QueryProcess answers for this very process, whatever process gets the id after it. It
// must belong (by its real user) to `owner`, the account that handed it over, or to this
// program's own account; one that has already ended, or belongs to anyone else, counts as ended
// at once. True when the process is followed. A process this program started itself is
// followed already.
bool FollowProcess(std::uint32_t processId, std::uint32_t owner);

// A process this program started or took over is answered for by what it is, never by its id:
// once it has ended it stays ended, whatever process gets the id next (the last 4096 that ended
// are remembered, and the last 256 taken over). For any other id the system is asked, whoever
// started the process; a zombie's exit status is read when the system lets us.
TProcessState QueryProcess(std::uint32_t processId);

// The signal's name, "SIGKILL" for 9; empty for a number that names no signal.
std::string SignalName(int signal);

// The id of the running program's own process.
std::uint32_t CurrentProcessId();

// A process that runs a given program file, with the first argument of its command line ("" when
// it has none).
struct TProgramProcess {
    std::uint32_t ProcessId = 0;
    std::string FirstArgument;
};

// The processes that run the program file (an absolute path), also when the file was replaced
// since they started. A process of another account whose program file this one may not look at
// is not found.
std::vector<TProgramProcess> ProcessesOf(const std::string& programFile);

} // namespace tarvok::platform
