// Moves the calling process into a network namespace of its own, where abstract unix socket
// addresses live, so that programs it talks to through them can never meet a Tarvok running on
// the machine, nor another test or benchmark running beside it. Without root a user namespace
// comes first, mapping the caller's own ids.
//
// Must be called while the process has a single thread. Empty on success, else the reason.
#pragma once

#include <string>

namespace tarvok::testing_support {

std::string EnterOwnNetworkNamespace();

} // namespace tarvok::testing_support
