// Whole programs started the way the whole-program tests start them: found on PATH, standard
// input from /dev/null, output in files, and an environment of the test's choosing (the C locale
// and a plain PATH, plus what the test adds) rather than whatever the test itself runs with.
//
//   const pid_t pid = SpawnProgram({"TarvokSvc", "INSTALL"}, {"TZ=UTC"}, {.Out = dir + "stdout"});
//   EXPECT_EQ(WaitForProgram(pid), 0);
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace tarvok::testing_support {

// Where a started program's output goes.
struct TProgramOutput {
    std::string Out = "/dev/null"; // standard output
    std::string Err;               // standard error; empty: with the standard output
    bool Append = false;           // keep what the files hold and add to it
};

// Starts args[0] with the arguments; 0 when it could not be started.
pid_t SpawnProgram(const std::vector<std::string>& args,
                   const std::vector<std::string>& environment = {},
                   const TProgramOutput& output = {});

// The exit code of a wait status, or 128 + the number of the signal that ended the program.
int ExitCodeOf(int status);

// Waits until the program has ended; its exit code as ExitCodeOf gives it.
int WaitForProgram(pid_t pid);

} // namespace tarvok::testing_support
