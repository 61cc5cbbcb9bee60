#include "platform/Journal.h"

#include "platform/ErrorText.h"
#include "platform/posix/Descriptor.h"
#include "platform/posix/SpawnActions.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace tarvok::platform {

namespace {

// What one child wrote and how it ended.
struct TChildRun {
    std::string Out;
    std::string Err;
    bool Started = false;
    int StartError = 0;
    bool TimedOut = false;
    bool Cut = false;
    int ExitCode = -1; // -1: killed by a signal
};

struct TPipe {
    TFd Read;
    TFd Write;
};

bool MakePipe(TPipe& pipe) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        return false;
    }
    pipe.Read.Reset(ends[0]);
    pipe.Write.Reset(ends[1]);
    return true;
}

// Reads both streams until the child closes them, the time is up or enough was read.
void Collect(TChildRun& run, std::array<TFd*, 2> streams, int timeLimitMs, std::size_t maxBytes) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeLimitMs);
    std::array<std::string*, 2> sinks{&run.Out, &run.Err};
    while (streams[0]->Valid() || streams[1]->Valid()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            run.TimedOut = true;
            return;
        }
        std::array<pollfd, 2> watched{};
        for (std::size_t i = 0; i < 2; ++i) {
            watched[i] = {.fd = streams[i]->Get(), .events = POLLIN, .revents = 0};
        }
        const int ready = ::poll(watched.data(), watched.size(), static_cast<int>(left.count()));
        if (ready < 0 && errno != EINTR) {
            run.TimedOut = true;
            return;
        }
        for (std::size_t i = 0; ready > 0 && i < 2; ++i) {
            if (watched[i].revents == 0) {
                continue;
            }
            char buffer[16384];
            const ssize_t got = ::read(streams[i]->Get(), buffer, sizeof buffer);
            if (got > 0) {
                sinks[i]->append(buffer, static_cast<std::size_t>(got));
            } else if (got == 0 || errno != EINTR) {
                streams[i]->Reset();
            }
        }
        if (run.Out.size() + run.Err.size() > maxBytes) {
            run.Cut = true;
            run.Out.resize(std::min(run.Out.size(), maxBytes));
            return;
        }
    }
}

TChildRun RunChild(const std::vector<std::string>& arguments, int timeLimitMs,
                   std::size_t maxBytes) {
    TChildRun run;
    TPipe out;
    TPipe err;
    TSpawnActions streams;
    if (!MakePipe(out) || !MakePipe(err) ||
        !streams.Streams(-1, out.Write.Get(), err.Write.Get()) || !streams.CloseTheRest()) {
        run.StartError = errno;
        return run;
    }
    std::vector<char*> argv;
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    pid_t child = 0;
    run.StartError = ::posix_spawnp(&child, argv[0], streams.Get(), nullptr, argv.data(), environ);
    if (run.StartError != 0) {
        return run;
    }
    run.Started = true;
    out.Write.Reset();
    err.Write.Reset();
    Collect(run, {&out.Read, &err.Read}, timeLimitMs, maxBytes);
    if (run.TimedOut || run.Cut) {
        ::kill(child, SIGKILL);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    run.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

std::string OneLine(const std::string& text) {
    std::string line;
    for (const char c : text) {
        const bool space = c == '\n' || c == '\r' || c == '\t' || c == ' ';
        if (!space || (!line.empty() && line.back() != ' ')) {
            line += space ? ' ' : c;
        }
    }
    while (!line.empty() && line.back() == ' ') {
        line.pop_back();
    }
    return line;
}

// journalctl's own lines on standard output ("-- No entries --", "-- Boot ... --") are no output
// of the task; every line of the task starts with its time.
std::string WithoutMarkers(const std::string& text) {
    std::string kept;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end + 1;
        if (text.compare(start, 3, "-- ") != 0) {
            kept.append(text, start, end - start);
        }
        start = end;
    }
    return kept;
}

} // namespace

std::vector<std::string> JournalArguments(const TJournalQuery& query) {
    return {query.Program, "-t",        query.Tag,
            "--since",     query.Since, "--until",
            query.Until,   "-n",        std::to_string(query.MaxLines),
            "-o",          "short-iso", "--no-pager"};
}

TJournalText ReadJournal(const TJournalQuery& query) {
    const TChildRun run = RunChild(JournalArguments(query), query.TimeLimitMs, query.MaxBytes);
    TJournalText text;
    if (!run.Started) {
        text.Reason = run.StartError == ENOENT
                          ? query.Program + " was not found"
                          : query.Program + " could not be started: " + ErrorText(run.StartError);
        return text;
    }
    if (run.TimedOut) {
        text.Reason = query.Program + " gave no answer in time";
        return text;
    }
    const std::string complaint = OneLine(run.Err);
    if (!run.Cut && run.ExitCode != 0) {
        text.Reason = !complaint.empty()
                          ? complaint
                          : query.Program + " ended with exit code " + std::to_string(run.ExitCode);
        return text;
    }
    text.Cut = run.Cut;
    // A cut ends with the last whole line.
    const std::string whole = run.Cut ? run.Out.substr(0, run.Out.rfind('\n') + 1) : run.Out;
    text.Text = WithoutMarkers(whole);
    // Nothing listed and something said: no journal, or none this user may read.
    if (text.Text.empty() && !complaint.empty()) {
        text.Reason = complaint;
        return text;
    }
    text.Available = true;
    return text;
}

} // namespace tarvok::platform
