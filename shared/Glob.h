// The files the programs keep beside themselves, in the directory that holds the program file.
// Both programs installed in one directory therefore share the task file and the log.
//
//   ProgramPathsFor("/opt/tarvok/tarvok").TaskPath; // "/opt/tarvok/tarvok.tsk"
#pragma once

#include <string>

namespace tarvok {

struct TProgramPaths {
    std::string ProgramDir;       // with its trailing '/'
    std::string TaskPath;         // tarvok.tsk
    std::string LogPath;          // tarvok.log
    std::string RunsPath;         // tarvok.runs, the run history
    std::string LegacyPath;       // tarvok.crn, the task file of earlier versions
    std::string LegacyBackupPath; // tarvok.cro, kept after converting it
    std::string LegacyTempPath;   // tarvok.tmp, used while converting it
    std::string HelpPath;         // tarvok.hlp
    std::string ContentsPath;     // tarvok.cnt, the help's contents
};

// The paths beside a program file. A bare file name (no '/') gives an empty directory, so the
// paths are the bare file names, relative to the current directory.
TProgramPaths ProgramPathsFor(const std::string& programFile);

// The paths beside the running program, computed on first use and kept for the whole run.
// Raises platform::TIoError when the program's own file cannot be found.
const TProgramPaths& ProgramPaths();

} // namespace tarvok
