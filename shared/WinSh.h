// The process primitives both programs start and follow their tasks with.
//
// LaunchProcess runs the task's command file itself as the program, with the parameters split
// into further arguments the way a POSIX shell splits words, and forgets it: the process is
// followed by its id alone and nothing is left for the caller to reap.
//
//     std::uint32_t id = LaunchProcess("/usr/local/bin/report", "--to 'Sales team'", "", 2,
//     SwHide);
//     ...
//     bool running = GetProcessExitCode(id) == StillActive;
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvok {

// The exit code that means "still running"; no process can end with it.
inline constexpr std::uint32_t StillActive = 259;

// Window states: hidden takes the display variables from the program's environment; every
// other state keeps them.
inline constexpr std::uint16_t SwHide = 0;
inline constexpr std::uint16_t SwShow = 5;

// Splits parameters into arguments: blanks (space, tab, line feed) separate words; '...' keeps
// everything literally; "..." keeps everything but a backslash before $ ` " \ or a line feed; an
// unquoted backslash keeps the next character (and removes a line feed), a last lone one is
// kept. Nothing else is special: "$HOME", "*", ">", ";" and "#" reach the program as typed.
//     R"(-o "my file" it\'s '')"  ->  {"-o", "my file", "it's", ""}
// An unterminated quote gives nothing: where the author meant the argument to end is unknown,
// and a guess could hand the program something else than what was written.
std::optional<std::vector<std::string>> SplitParameters(std::string_view parameters);

// Starts the command file (a relative one is taken from the caller's working directory) with
// the split parameters, in the working directory (the caller's when empty), with priority code
// 0 High, 1 Realtime, 2 Normal or 3 Low (any other code: the caller's own), in a session of its
// own with its standard input on /dev/null and its output where the options say. Returns the
// process id, or 0 when nothing started: an unterminated quote, a working directory that cannot
// be entered, a file that cannot be executed.
struct TLaunchOptions {
    // Not empty: output and errors go to the system journal under this tag where one runs
    // (RunOutputTag); /dev/null otherwise.
    std::string OutputTag;
    // The end is kept for platform::TakeProcessEnd, for the run's record.
    bool KeepEnd = false;
};
std::uint32_t LaunchProcess(const std::string& command, const std::string& parameters,
                            const std::string& workDir, std::uint8_t priority,
                            std::uint16_t showWindow, const TLaunchOptions& options = {});

// StillActive while a process with this id runs (and is not a zombie), whoever started it;
// otherwise its exit code when known (128 + the signal for one a signal ended), else 0.
// (platform::QueryProcess tells a signal from an exit code.)
std::uint32_t GetProcessExitCode(std::uint32_t processId);

} // namespace tarvok
