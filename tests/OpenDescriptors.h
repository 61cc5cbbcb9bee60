// How many file descriptors this process holds: a leak shows as a count that keeps growing.
#pragma once

#include <cstddef>
#include <dirent.h>

namespace tarvok::testing_support {

inline std::size_t OpenDescriptors() {
    DIR* dir = ::opendir("/proc/self/fd");
    std::size_t count = 0;
    while (::readdir(dir) != nullptr) {
        ++count;
    }
    ::closedir(dir);
    return count;
}

} // namespace tarvok::testing_support
