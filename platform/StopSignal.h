// The requests to end that reach a desktop program from outside its windows: the session
// ending (SIGTERM), a terminal closing (SIGHUP) or Ctrl+C (SIGINT).
//
// The signals are turned into a descriptor that becomes readable, so the program's event loop
// can end it in the ordinary way, with its closing log lines, instead of the process dying.
//
//     QSocketNotifier notifier(platform::StopRequestDescriptor(), QSocketNotifier::Read);
#pragma once

namespace tarvok::platform {

// Installs the handlers on the first call; the same descriptor afterwards. It stays readable
// once a stop was asked for. -1 when it cannot be made (the signals then keep their defaults).
int StopRequestDescriptor();

} // namespace tarvok::platform
