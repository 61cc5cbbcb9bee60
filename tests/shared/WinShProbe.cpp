// A program of its own for the launcher tests:
//   winsh_probe launch <command> <parameters>  starts the command hidden, prints its id, ends
//   winsh_probe record <file> [argument...]    writes its whole argument vector to the file,
//                                              each argument followed by a NUL byte
#include "shared/WinSh.h"

#include <cstdio>
#include <fstream>
#include <string_view>

int main(int argc, char** argv) {
    const std::string_view mode = argc > 1 ? argv[1] : "";
    if (mode == "launch" && argc == 4) {
        std::printf("%u\n", tarvok::LaunchProcess(argv[2], argv[3], "", 2, tarvok::SwHide));
        return 0;
    }
    if (mode == "record" && argc >= 3) {
        std::ofstream out(argv[2], std::ios::binary);
        for (int i = 0; i < argc; ++i) {
            out << argv[i] << '\0';
        }
        return out.good() ? 0 : 1;
    }
    return 2;
}
