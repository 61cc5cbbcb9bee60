// The main of test programs that use the slots: their tests use the slots of a program
// directory of their own, a temporary directory removed at the end, so they never meet a Tarvok
// that runs on the machine, nor another test program. A test that plays a program of another
// directory says so with UseSlotsOf.
#include "shared/MailSlot.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <string>
#include <system_error>

int main(int argc, char** argv) {
    std::string directory = (std::filesystem::temp_directory_path() / "tarvok-slots-XXXXXX");
    if (::mkdtemp(directory.data()) == nullptr) {
        std::fprintf(stderr, "cannot make a program directory for the slots: %s\n",
                     std::strerror(errno));
        return 1;
    }
    tarvok::UseSlotsOf(directory);
    testing::InitGoogleMock(&argc, argv);
    const int result = RUN_ALL_TESTS();
    std::error_code ignored;
    std::filesystem::remove_all(directory, ignored);
    return result;
}
