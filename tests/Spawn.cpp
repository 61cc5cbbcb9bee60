#include "tests/Spawn.h"

#include <cerrno>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tarvok::testing_support {

namespace {

std::vector<char*> Pointers(const std::vector<std::string>& texts) {
    std::vector<char*> result;
    for (const std::string& text : texts) {
        result.push_back(const_cast<char*>(text.c_str()));
    }
    result.push_back(nullptr);
    return result;
}

// Standard input from /dev/null, the output in its files; created 0644 where missing.
class TActions {
public:
    explicit TActions(const TProgramOutput& output) {
        ::posix_spawn_file_actions_init(&actions_);
        const int mode = O_WRONLY | O_CREAT | (output.Append ? O_APPEND : O_TRUNC);
        ::posix_spawn_file_actions_addopen(&actions_, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        ::posix_spawn_file_actions_addopen(&actions_, STDOUT_FILENO, output.Out.c_str(), mode,
                                           0644);
        if (output.Err.empty()) {
            ::posix_spawn_file_actions_adddup2(&actions_, STDOUT_FILENO, STDERR_FILENO);
        } else {
            ::posix_spawn_file_actions_addopen(&actions_, STDERR_FILENO, output.Err.c_str(), mode,
                                               0644);
        }
    }
    TActions(const TActions&) = delete;
    TActions& operator=(const TActions&) = delete;
    ~TActions() { ::posix_spawn_file_actions_destroy(&actions_); }
    const posix_spawn_file_actions_t* Get() const { return &actions_; }

private:
    posix_spawn_file_actions_t actions_{};
};

} // namespace

pid_t SpawnProgram(const std::vector<std::string>& args,
                   const std::vector<std::string>& environment, const TProgramOutput& output) {
    if (args.empty()) {
        return 0;
    }
    std::vector<std::string> fullEnvironment = {"LC_ALL=C", "PATH=/usr/sbin:/usr/bin:/sbin:/bin"};
    fullEnvironment.insert(fullEnvironment.end(), environment.begin(), environment.end());
    const TActions actions(output);
    std::vector<char*> argv = Pointers(args);
    std::vector<char*> envp = Pointers(fullEnvironment);
    pid_t pid = 0;
    if (::posix_spawnp(&pid, argv[0], actions.Get(), nullptr, argv.data(), envp.data()) != 0) {
        return 0;
    }
    return pid;
}

int ExitCodeOf(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int WaitForProgram(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return ExitCodeOf(status);
}

} // namespace tarvok::testing_support
