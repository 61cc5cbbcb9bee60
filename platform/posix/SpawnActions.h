// The descriptor work a spawned child does before its program runs, owned for the spawn's
// duration. Each step answers false once any step has failed.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <unistd.h>

namespace tarvok::platform {

class TSpawnActions {
public:
    TSpawnActions() { ok_ = ::posix_spawn_file_actions_init(&actions_) == 0; }
    TSpawnActions(const TSpawnActions&) = delete;
    TSpawnActions& operator=(const TSpawnActions&) = delete;
    ~TSpawnActions() {
        if (ok_) {
            ::posix_spawn_file_actions_destroy(&actions_);
        }
    }

    // The three standard streams on the given descriptors; input < 0 reads the null device.
    bool Streams(int input, int output, int errors) {
        ok_ =
            ok_ &&
            (input < 0 ? ::posix_spawn_file_actions_addopen(&actions_, STDIN_FILENO, "/dev/null",
                                                            O_RDONLY, 0)
                       : ::posix_spawn_file_actions_adddup2(&actions_, input, STDIN_FILENO)) == 0 &&
            ::posix_spawn_file_actions_adddup2(&actions_, output, STDOUT_FILENO) == 0 &&
            ::posix_spawn_file_actions_adddup2(&actions_, errors, STDERR_FILENO) == 0;
        return ok_;
    }
    // Empty: the caller's.
    bool WorkingDirectory(const std::string& directory) {
        ok_ = ok_ && (directory.empty() ||
                      ::posix_spawn_file_actions_addchdir_np(&actions_, directory.c_str()) == 0);
        return ok_;
    }
    // Nothing but the standard streams is inherited.
    bool CloseTheRest() {
        ok_ = ok_ && ::posix_spawn_file_actions_addclosefrom_np(&actions_, 3) == 0;
        return ok_;
    }
    const posix_spawn_file_actions_t* Get() const { return &actions_; }

private:
    posix_spawn_file_actions_t actions_{};
    bool ok_ = false;
};

} // namespace tarvok::platform
