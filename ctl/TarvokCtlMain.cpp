// tarvokctl: the terminal tool.
#include "ctl/TarvokCtl.h"

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    const tarvok::platform::TServiceManager manager;
    return tarvok::RunCtl(args, {manager, std::cout, std::cerr});
}
