// A desktop of its own for whole-program tests of the manager: an Xvfb display, optionally with
// a notification area (trayer), driven by xdotool and photographed by ImageMagick's import.
//
//   TDesktop desktop({.NotificationArea = true});
//   TManagerRun manager(dir, desktop);
//   manager.Start({"-d"});
//   auto window = desktop.WaitForWindow("^Tarvok! \\[");
//   desktop.Screenshot(*window, "main-window.png");
//
// Every wait takes a patience and gives up (nothing, or false) once it is spent; nothing sleeps
// for a fixed time.
#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace tarvok::e2e {

struct TGeometry {
    int X = 0;
    int Y = 0;
    int Width = 0;
    int Height = 0;
};

struct TDesktopOptions {
    bool NotificationArea = false;
};

class TDesktop {
public:
    // Why no desktop can be made here (a tool is missing), or empty when one can.
    static std::string Unavailable();

    explicit TDesktop(const TDesktopOptions& options);
    ~TDesktop();
    TDesktop(const TDesktop&) = delete;
    TDesktop& operator=(const TDesktop&) = delete;

    const std::string& Display() const { return display_; }

    // Runs a tool against this display and gives its standard output.
    std::string Run(const std::vector<std::string>& args) const;

    // The first window whose name matches the pattern (xdotool's), mapped and of the manager.
    std::optional<std::string>
    WaitForWindow(const std::string& namePattern,
                  std::chrono::milliseconds patience = std::chrono::seconds(10)) const;
    // Mapped windows of a class (instance name), e.g. "tarvok" or "trayer".
    std::vector<std::string> VisibleWindows(const std::string& className) const;
    bool WaitUntilGone(const std::string& window,
                       std::chrono::milliseconds patience = std::chrono::seconds(10)) const;
    TGeometry Geometry(const std::string& window) const;
    bool Viewable(const std::string& window) const;

    void Click(int x, int y) const;
    // Gives the window the keyboard (there is no window manager to do it) and types the keys.
    void Keys(const std::string& window, const std::vector<std::string>& keys) const;
    // The keys to whatever holds the keyboard now (an open menu does).
    void Keys(const std::vector<std::string>& keys) const;

    // A PNG of the window; of the whole screen for "root".
    void Screenshot(const std::string& window, const std::filesystem::path& file) const;

    // Where the notification area is; only with one.
    std::optional<std::string> NotificationArea() const { return trayWindow_; }

private:
    std::string display_;
    pid_t xvfb_ = 0;
    pid_t trayer_ = 0;
    std::optional<std::string> trayWindow_;
    std::filesystem::path scratch_;
};

// The real manager run from a program directory on a desktop: a copy of tarvok and its help.
class TManagerRun {
public:
    TManagerRun(const std::filesystem::path& dir, const TDesktop& desktop);
    ~TManagerRun();
    TManagerRun(const TManagerRun&) = delete;
    TManagerRun& operator=(const TManagerRun&) = delete;

    // Starts one more manager; each keeps its own output files ("manager-<n>.err").
    pid_t Start(const std::vector<std::string>& arguments = {});
    // The exit code (128 + signal for a killed one), or nothing while it runs on.
    std::optional<int> WaitForExit(pid_t pid,
                                   std::chrono::milliseconds patience = std::chrono::seconds(10));

private:
    std::filesystem::path dir_;
    const TDesktop& desktop_;
    std::vector<pid_t> running_;
};

// Pixels of the PNG within a small distance of the colour, in the given right-hand part of its
// width (1: all of it; 0.1: the tenth at the right).
int PixelsNear(const std::filesystem::path& png, int red, int green, int blue,
               double rightPart = 1.0);

} // namespace tarvok::e2e
