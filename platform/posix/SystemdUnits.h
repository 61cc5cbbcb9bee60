// The systemd manager's unit methods, reached over its bus. Internal to the POSIX layer.
#pragma once

#include <string>

namespace tarvok::platform::systemd {

// Removes the links that enabling the unit made; 0 or an error number.
int DisableUnit(const std::string& unit);

// Sends the signal to the unit's main process alone, as `systemctl kill --kill-who=main` does.
// Empty on success, else the reason in the manager's words.
std::string KillMainProcess(const std::string& unit, int signal);

} // namespace tarvok::platform::systemd
