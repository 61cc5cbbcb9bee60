// What every fuzz target shares: the entry point's declaration, a property check that stops the
// run, and a scratch directory for the targets that go through real files.
//
//   const std::string path = ScratchDir() + "tarvok.log";
//   WriteScratchFile(path, {data, size});
//   Require(lines.size() <= 2, "Truncate(2) kept more than two lines");
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <system_error>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace tarvok::fuzzing {

// A broken property is a finding like a crash: libFuzzer saves the input on abort, and the
// replay of the corpus fails.
inline void Require(bool holds, std::string_view property) {
    if (!holds) {
        std::fprintf(stderr, "fuzz property broken: %.*s\n", static_cast<int>(property.size()),
                     property.data());
        std::abort();
    }
}

inline std::string_view AsText(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

// One directory per process, removed at exit. Kept on tmpfs where there is one: every file
// replacement ends with an fsync, which on a disk would cap a fuzzer at a few hundred runs a
// second.
class TScratchDir {
public:
    TScratchDir() {
        std::error_code error;
        const std::filesystem::path shm = "/dev/shm";
        const std::filesystem::path base = std::filesystem::is_directory(shm, error)
                                               ? shm
                                               : std::filesystem::temp_directory_path();
        std::string pattern = (base / "tarvok-fuzz-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::perror("tarvok fuzz: cannot create a scratch directory");
            std::abort();
        }
        path_ = pattern + "/";
    }
    ~TScratchDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TScratchDir(const TScratchDir&) = delete;
    TScratchDir& operator=(const TScratchDir&) = delete;

    // With its trailing '/'.
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

inline const std::string& ScratchDir() {
    static const TScratchDir dir;
    return dir.Path();
}

// Empties the scratch directory, so that no input sees what an earlier one left behind.
inline void ClearScratchDir() {
    for (const auto& entry : std::filesystem::directory_iterator(ScratchDir())) {
        std::filesystem::remove_all(entry.path());
    }
}

inline void WriteScratchFile(const std::string& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    Require(static_cast<bool>(out.flush()), "the scratch file could not be written");
}

inline std::string ReadScratchFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

} // namespace tarvok::fuzzing
