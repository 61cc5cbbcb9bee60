// The system's text for an error number, as the platform's calls and exceptions report it.
//
//   ErrorText(ENOENT);   // "No such file or directory"
#pragma once

#include <string>

namespace tarvok::platform {

std::string ErrorText(int error);

} // namespace tarvok::platform
