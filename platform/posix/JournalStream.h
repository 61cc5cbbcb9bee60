// A stream into the system journal, as the journal's own stdout-stream protocol makes one: the
// descriptor a started program writes its output to. Internal to the POSIX implementation.
//
//   TFd out = OpenJournalStream("tarvok-task-3");   // invalid: no journal runs
#pragma once

#include "platform/posix/Descriptor.h"

#include <string>

namespace tarvok::platform {

// A connected stream whose lines the journal stores with the identifier as SYSLOG_IDENTIFIER,
// at priority info unless a line starts with its own "<n>" prefix. Invalid when no journal
// listens or it cannot take another stream at once: the caller never waits for the journal.
TFd OpenJournalStream(const std::string& identifier);

} // namespace tarvok::platform
