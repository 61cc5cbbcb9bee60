// Conversion of the line-oriented task files of versions 1.0.0.26 and 1.0.0.29.
//
// The old file holds a header line and then blocks of 12 lines per task (1.0.0.26 lacks the
// parameters line of each block). Lines end in CR LF; a bare LF or CR is read as a line end too.
// Keywords are matched without regard to letter case. Neither step ever leaves a partial
// result: each writes its whole output through platform::ReplaceFile (a fresh temporary file
// beside the target, renamed over it; no fixed temporary name), so a failure raises
// platform::TIoError and leaves the previous files as they were.
#pragma once

#include <string>

namespace tarvok {

// Brings a 1.0.0.26 file to the 1.0.0.29 form in place: after every line containing "COMMAND:"
// a line "\t\tParameters: " is added. A file with a line containing "PARAMETERS:" is already in
// the later form and is left byte for byte.
void AddParameterLines(const std::string& oldPath);

// Writes the tasks of a 1.0.0.29 file to the task file: ids 1, 2, 3... in file order, Normal
// priority, no schedule. A block cut short by the end of the file reads its missing lines as
// empty. A file without tasks leaves no task file (an existing one is deleted).
void ConvertLegacyFile(const std::string& oldPath, const std::string& taskPath);

} // namespace tarvok
