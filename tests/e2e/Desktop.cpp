#include "tests/e2e/Desktop.h"

#include "tests/Spawn.h"
#include "tests/e2e/ServiceHarness.h"

#include <QImage>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace tarvok::e2e {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing_support::SpawnProgram;

namespace {

constexpr auto RecheckInterval = 20ms;
constexpr const char* Tools[] = {"Xvfb", "xdotool", "xprop", "xwininfo", "import", "trayer"};

bool OnPath(const std::string& tool) {
    const char* path = std::getenv("PATH");
    std::istringstream directories(path != nullptr ? path : "/usr/bin:/bin");
    for (std::string directory; std::getline(directories, directory, ':');) {
        if (::access((directory + "/" + tool).c_str(), X_OK) == 0) {
            return true;
        }
    }
    return false;
}

int WaitFor(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void Stop(pid_t pid) {
    if (pid != 0) {
        ::kill(pid, SIGTERM);
        WaitFor(pid);
    }
}

template <typename Condition>
bool WaitUntil(Condition condition, std::chrono::milliseconds patience) {
    const auto deadline = std::chrono::steady_clock::now() + patience;
    for (;;) {
        if (condition()) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(RecheckInterval);
    }
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty()) {
            lines.push_back(line);
        }
    }
    return lines;
}

// The display number Xvfb writes to the descriptor it was given, once it accepts clients.
std::string ReadDisplayNumber(int fd) {
    std::string number;
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (number.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        pollfd ready{fd, POLLIN, 0};
        if (::poll(&ready, 1, 100) > 0) {
            char buffer[16];
            const ssize_t got = ::read(fd, buffer, sizeof buffer);
            if (got <= 0) {
                break;
            }
            number.append(buffer, static_cast<std::size_t>(got));
        }
    }
    if (number.find('\n') == std::string::npos) {
        throw std::runtime_error("Xvfb did not start");
    }
    return ":" + number.substr(0, number.find('\n'));
}

std::vector<std::string> DisplayEnvironment(const std::string& display) {
    // UTC, as the service harness runs the service: both programs see the same day.
    return {"DISPLAY=" + display, "TZ=UTC", "HOME=/root", "XDG_RUNTIME_DIR=/tmp",
            "ASAN_OPTIONS=verify_asan_link_order=0"};
}

} // namespace

std::string TDesktop::Unavailable() {
    for (const char* tool : Tools) {
        if (!OnPath(tool)) {
            return std::string(tool) + " is not installed (scripts/install-deps installs it)";
        }
    }
    return {};
}

TDesktop::TDesktop(const TDesktopOptions& options)
    : scratch_(fs::temp_directory_path() / ("tarvok-desktop-" + std::to_string(::getpid()))) {
    fs::create_directories(scratch_);
    int ends[2];
    if (::pipe(ends) != 0) {
        throw std::runtime_error("no pipe for Xvfb");
    }
    ::fcntl(ends[0], F_SETFD, FD_CLOEXEC);
    xvfb_ = SpawnProgram({"Xvfb", "-displayfd", std::to_string(ends[1]), "-screen", "0",
                          "1024x768x24", "-nolisten", "tcp", "-noreset"},
                         {}, {.Err = (scratch_ / "xvfb.err").string()});
    ::close(ends[1]);
    try {
        display_ = ReadDisplayNumber(ends[0]);
    } catch (...) {
        ::close(ends[0]);
        Stop(xvfb_);
        throw;
    }
    ::close(ends[0]);
    if (options.NotificationArea) {
        trayer_ =
            SpawnProgram({"trayer", "--edge", "bottom", "--align", "right", "--widthtype",
                          "request", "--height", "24", "--heighttype", "pixel", "--transparent",
                          "false", "--tint", "0xd4d0c8", "--SetDockType", "false"},
                         DisplayEnvironment(display_), {.Err = (scratch_ / "trayer.err").string()});
        WaitUntil(
            [this] {
                const std::vector<std::string> windows = VisibleWindows("panel");
                if (!windows.empty()) {
                    trayWindow_ = windows.front();
                }
                return trayWindow_.has_value();
            },
            10s);
        if (!trayWindow_) {
            throw std::runtime_error("trayer did not start");
        }
    }
}

TDesktop::~TDesktop() {
    Stop(trayer_);
    Stop(xvfb_);
    std::error_code ignored;
    fs::remove_all(scratch_, ignored);
}

std::string TDesktop::Run(const std::vector<std::string>& args) const {
    const fs::path out = scratch_ / "tool.out";
    const pid_t pid = SpawnProgram(args, DisplayEnvironment(display_),
                                   {.Out = out.string(), .Err = (scratch_ / "tool.err").string()});
    if (pid == 0) {
        throw std::runtime_error("cannot start " + args.front());
    }
    WaitFor(pid);
    std::ifstream in(out);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> TDesktop::VisibleWindows(const std::string& className) const {
    return Lines(Run({"xdotool", "search", "--onlyvisible", "--classname", className}));
}

std::optional<std::string> TDesktop::WaitForWindow(const std::string& namePattern,
                                                   std::chrono::milliseconds patience) const {
    std::optional<std::string> found;
    WaitUntil(
        [&] {
            const std::vector<std::string> windows =
                Lines(Run({"xdotool", "search", "--onlyvisible", "--name", namePattern}));
            for (const std::string& window : windows) {
                if (Viewable(window)) {
                    found = window;
                    return true;
                }
            }
            return false;
        },
        patience);
    return found;
}

bool TDesktop::WaitUntilGone(const std::string& window, std::chrono::milliseconds patience) const {
    return WaitUntil([&] { return !Viewable(window); }, patience);
}

bool TDesktop::Viewable(const std::string& window) const {
    return Run({"xwininfo", "-id", window}).find("Map State: IsViewable") != std::string::npos;
}

TGeometry TDesktop::Geometry(const std::string& window) const {
    const std::string info = Run({"xwininfo", "-id", window});
    const auto value = [&info](const std::string& field) {
        const std::size_t at = info.find(field);
        return at == std::string::npos ? 0 : std::atoi(info.c_str() + at + field.size());
    };
    return {.X = value("Absolute upper-left X:"),
            .Y = value("Absolute upper-left Y:"),
            .Width = value("Width:"),
            .Height = value("Height:")};
}

void TDesktop::Click(int x, int y) const {
    Run({"xdotool", "mousemove", "--sync", std::to_string(x), std::to_string(y), "click", "1"});
}

void TDesktop::Keys(const std::string& window, const std::vector<std::string>& keys) const {
    Run({"xdotool", "windowfocus", "--sync", window});
    Keys(keys);
}

void TDesktop::Keys(const std::vector<std::string>& keys) const {
    std::vector<std::string> args = {"xdotool", "key", "--delay", "80"};
    args.insert(args.end(), keys.begin(), keys.end());
    Run(args);
}

void TDesktop::Screenshot(const std::string& window, const fs::path& file) const {
    fs::create_directories(file.parent_path());
    Run({"import", "-window", window, file.string()});
}

TManagerRun::TManagerRun(const fs::path& dir, const TDesktop& desktop)
    : dir_(dir), desktop_(desktop) {
    fs::create_directories(dir_);
    const fs::path built = TARVOK_BINARY;
    for (const fs::directory_entry& entry : fs::directory_iterator(built.parent_path())) {
        const fs::path name = entry.path().filename();
        // The program, its help and the help's pictures.
        if (name == "tarvok" || name == "tarvok.hlp" || name == "tarvok.cnt" ||
            name.extension() == ".png") {
            fs::copy_file(entry.path(), dir_ / name, fs::copy_options::overwrite_existing);
        }
    }
}

TManagerRun::~TManagerRun() {
    for (const pid_t pid : running_) {
        ::kill(pid, SIGKILL);
        WaitFor(pid);
    }
}

pid_t TManagerRun::Start(const std::vector<std::string>& arguments) {
    std::vector<std::string> args = {(dir_ / "tarvok").string()};
    args.insert(args.end(), arguments.begin(), arguments.end());
    const std::string name = "manager-" + std::to_string(running_.size() + 1);
    const pid_t pid = SpawnProgram(
        args, DisplayEnvironment(desktop_.Display()),
        {.Out = (dir_ / (name + ".out")).string(), .Err = (dir_ / (name + ".err")).string()});
    if (pid == 0) {
        throw std::runtime_error("cannot start " + args.front());
    }
    running_.push_back(pid);
    return pid;
}

std::optional<int> TManagerRun::WaitForExit(pid_t pid, std::chrono::milliseconds patience) {
    std::optional<int> code;
    WaitUntil(
        [&] {
            int status = 0;
            if (::waitpid(pid, &status, WNOHANG) == pid) {
                code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            return code.has_value();
        },
        patience);
    if (code) {
        std::erase(running_, pid);
    }
    return code;
}

int PixelsNear(const fs::path& png, int red, int green, int blue, double rightPart) {
    const QImage image(QString::fromStdString(png.string()));
    constexpr int Tolerance = 60;
    const int left = static_cast<int>(image.width() * (1.0 - rightPart));
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = left; x < image.width(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            if (std::abs(pixel.red() - red) + std::abs(pixel.green() - green) +
                    std::abs(pixel.blue() - blue) <
                Tolerance) {
                ++count;
            }
        }
    }
    return count;
}

} // namespace tarvok::e2e
