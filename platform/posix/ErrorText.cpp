#include "platform/ErrorText.h"

#include <system_error>

namespace tarvok::platform {

std::string ErrorText(int error) {
    return std::system_category().message(error);
}

} // namespace tarvok::platform
