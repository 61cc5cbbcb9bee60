// Runs a fuzz target over saved inputs, so that its corpus is an ordinary test in every build,
// with or without libFuzzer.
//
//   replay_taskfile fuzz/corpus/taskfile crash-0123abcd
//
// Each argument is an input file or a directory whose regular files are inputs (not searched
// recursively), replayed in name order so that a failure always names the same input. Each name
// is printed before its run: when a target aborts, the last name is the input that did it. Exits
// non-zero when an argument cannot be read or no input was found, so that a missing or emptied
// corpus cannot pass as a test.
#include "fuzz/FuzzSupport.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// The inputs an argument names; false when it names nothing readable.
bool CollectInputs(const fs::path& argument, std::vector<fs::path>& inputs) {
    std::error_code error;
    if (fs::is_regular_file(argument, error)) {
        inputs.push_back(argument);
        return true;
    }
    if (!fs::is_directory(argument, error)) {
        return false;
    }
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(argument, error)) {
        if (entry.is_regular_file(error)) {
            files.push_back(entry.path());
        }
    }
    if (error) {
        return false;
    }
    std::sort(files.begin(), files.end());
    inputs.insert(inputs.end(), files.begin(), files.end());
    return true;
}

bool ReadInput(const fs::path& path, std::vector<std::uint8_t>& bytes) {
    std::ifstream in(path, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
    return !in.bad();
}

} // namespace

int main(int argc, char** argv) {
    std::vector<fs::path> inputs;
    for (int i = 1; i < argc; ++i) {
        if (!CollectInputs(argv[i], inputs)) {
            std::fprintf(stderr, "replay: %s is neither a readable file nor a directory\n",
                         argv[i]);
            return 2;
        }
    }
    if (inputs.empty()) {
        std::fprintf(stderr,
                     "usage: %s (input file | corpus directory)...\n"
                     "replay: no input found\n",
                     argc > 0 ? argv[0] : "replay");
        return 2;
    }
    std::vector<std::uint8_t> bytes;
    for (const fs::path& input : inputs) {
        std::fprintf(stderr, "replaying %s\n", input.c_str());
        if (!ReadInput(input, bytes)) {
            std::fprintf(stderr, "replay: cannot read %s\n", input.c_str());
            return 2;
        }
        // An empty vector's data() may be null; libFuzzer never passes null, so neither do we.
        static const std::uint8_t none = 0;
        LLVMFuzzerTestOneInput(bytes.empty() ? &none : bytes.data(), bytes.size());
    }
    std::fprintf(stderr, "replayed %zu inputs\n", inputs.size());
    return 0;
}
