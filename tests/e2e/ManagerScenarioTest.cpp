// The real manager on a real X desktop: without and with a notification area, a second manager,
// and the real service making it a command window. Every window it shows is photographed into
// SCREENSHOT_DIR; the README and the help use those pictures.
#include "shared/MailSlot.h"
#include "shared/Protocol.h"
#include "shared/RunLedger.h"
#include "shared/SysLog.h"
#include "tests/e2e/Desktop.h"
#include "tests/e2e/ServiceHarness.h"

#include <csignal>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <iterator>

namespace tarvok::e2e {
namespace {

namespace fs = std::filesystem;
using testing::Contains;

constexpr const char* MainWindowName = "^Tarvok! \\[";
// The lamps and the tray squares as drawn (manager/images/draw.py).
constexpr int Red[] = {232, 36, 30};
constexpr int Green[] = {36, 204, 48};

int Near(const fs::path& png, const int (&colour)[3]) {
    return PixelsNear(png, colour[0], colour[1], colour[2]);
}

// The status light sits at the right end of the window; the tree's diamonds are further left.
int LightNear(const fs::path& png, const int (&colour)[3]) {
    return PixelsNear(png, colour[0], colour[1], colour[2], 0.1);
}

fs::path Shot(const std::string& name) {
    return fs::path(SCREENSHOT_DIR) / (name + ".png");
}

class ManagerOnDesktop : public testing::Test {
protected:
    void SetUp() override {
        if (const std::string reason = TDesktop::Unavailable(); !reason.empty()) {
            GTEST_SKIP() << reason;
        }
        const auto* info = testing::UnitTest::GetInstance()->current_test_info();
        dir_ = fs::temp_directory_path() /
               ("tarvok-manager-" + std::to_string(::getpid()) + "-" + info->name());
        fs::remove_all(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    // Three days of the two tasks' runs, one of them failed and one killed.
    void WriteRuns() const {
        std::string lines;
        for (int day = 6; day <= 8; ++day) {
            const TDateTime date = EncodeDate(2026, 12, day);
            const TRunRecord backup{.Started = date + EncodeTime(2, 30, 0),
                                    .Ended = date + EncodeTime(2, 42, 34, 200),
                                    .TaskId = 1,
                                    .TaskName = "Nightly backup",
                                    .ProcessId = 4100u + static_cast<std::uint32_t>(day),
                                    .End = day == 7 ? TRunEnd::Signalled : TRunEnd::Exited,
                                    .Code = day == 7 ? 9 : 0,
                                    .Origin = TRunOrigin::Minute};
            const TRunRecord report{.Started = date + EncodeTime(8, 0, 0),
                                    .Ended = date + EncodeTime(8, 0, 42, 700),
                                    .TaskId = 2,
                                    .TaskName = "Report",
                                    .ProcessId = 4200u + static_cast<std::uint32_t>(day),
                                    .End = TRunEnd::Exited,
                                    .Code = day == 8 ? 2 : 0,
                                    .Origin = TRunOrigin::Minute};
            lines += FormatRunLine(backup) + "\n" + FormatRunLine(report) + "\n";
        }
        std::ofstream(dir_ / "tarvok.runs", std::ios::binary) << lines;
    }

    std::vector<std::string> LogMessages() const {
        std::vector<std::string> messages;
        std::ifstream in(dir_ / "tarvok.log", std::ios::binary);
        for (const std::string& line :
             SplitLogLines(std::string(std::istreambuf_iterator<char>(in), {}))) {
            messages.push_back(LogMessage(line));
        }
        return messages;
    }

    // Opens a menu of the main window's menu bar (0 File .. 3 Help) and chooses its n-th entry.
    static void Choose(const TDesktop& desktop, const std::string& window, int menu, int entry) {
        desktop.Keys(window, {"alt+f"});
        std::vector<std::string> keys(static_cast<std::size_t>(menu), "Right");
        // A menu opened from the keyboard starts on its first entry.
        keys.insert(keys.end(), static_cast<std::size_t>(entry), "Down");
        keys.push_back("Return");
        desktop.Keys(keys);
    }

    // The manager shown at start ("-d") in the service's directory, as its command window: its
    // window once the service has heard from it, or nothing.
    std::optional<std::string> OpenCommandWindow(TServiceHarness& service, const TDesktop& desktop,
                                                 std::optional<TManagerRun>& manager) {
        dir_ = service.Dir();
        manager.emplace(dir_, desktop);
        manager->Start({"-d"});
        auto window = desktop.WaitForWindow(MainWindowName);
        if (window && !service.WaitForLogLine("Client has connected.")) {
            window.reset();
        }
        return window;
    }

    fs::path dir_;
};

TEST_F(ManagerOnDesktop, WithoutNotificationAreaItStartsMinimisedAndStaysReachable) {
    const TDesktop desktop({.NotificationArea = false});
    TManagerRun manager(dir_, desktop);
    const pid_t first = manager.Start();
    const auto window = desktop.WaitForWindow(MainWindowName);
    ASSERT_TRUE(window) << "never hidden into a notification area that is not there";
    // No window manager runs to act on it: the window asked to start iconic.
    EXPECT_THAT(desktop.Run({"xprop", "-id", *window, "WM_HINTS"}),
                testing::HasSubstr("Initial state is Iconic"));

    // Its menus reach what the tray menu would: the about box.
    Choose(desktop, *window, 3, 1);
    const auto about = desktop.WaitForWindow("^About Tarvok!$");
    ASSERT_TRUE(about);
    desktop.Screenshot(*about, Shot("about-box"));
    desktop.Keys(*about, {"Return"});
    EXPECT_TRUE(desktop.WaitUntilGone(*about));

    // A second manager warns and ends; the first runs on, untouched.
    const pid_t second = manager.Start({"-d"});
    const auto warning = desktop.WaitForWindow("^Tarvok! [0-9.]+$");
    ASSERT_TRUE(warning);
    desktop.Screenshot(*warning, Shot("second-manager"));
    desktop.Keys(*warning, {"Return"});
    EXPECT_EQ(manager.WaitForExit(second), 0);
    EXPECT_FALSE(manager.WaitForExit(first, std::chrono::milliseconds(0)));
    const std::vector<std::string> messages = LogMessages();
    EXPECT_EQ(std::count(messages.begin(), messages.end(), "System started."), 1);

    // One that starts while another is starting gives way before it has a window.
    {
        UseSlotsOf(dir_);
        const TMailSlot starting(StartingSlotName);
        ASSERT_FALSE(starting.CreationFailed()) << starting.Failure();
        const pid_t third = manager.Start();
        const auto box = desktop.WaitForWindow("^tarvok$");
        ASSERT_TRUE(box);
        desktop.Screenshot(*box, Shot("starting-manager"));
        desktop.Keys(*box, {"Return"});
        EXPECT_EQ(manager.WaitForExit(third), 0);
    }

    // Told to stop (the session ends), it ends as a confirmed shutdown does.
    ::kill(first, SIGTERM);
    EXPECT_EQ(manager.WaitForExit(first), 0);
    EXPECT_THAT(LogMessages(), testing::ElementsAre("System started.", "System stopped.", "."));
}

TEST_F(ManagerOnDesktop, WithNotificationAreaItLivesThereAndOpensFromItsMenu) {
    const TDesktop desktop({.NotificationArea = true});
    TManagerRun manager(dir_, desktop);
    TTaskList tasks;
    for (TTaskDef task :
         {MakeTask(1, "Nightly backup", "/usr/local/bin/backup", "--all", DailyAt(2, 30), true),
          MakeTask(2, "Report", "/usr/local/bin/report", "", DailyAt(8, 0))}) {
        tasks.AddTask(task, false);
    }
    tasks.SaveToFile((dir_ / "tarvok.tsk").string());
    WriteRuns();
    const pid_t pid = manager.Start();

    // Only the icon shows, red: no service runs.
    const std::string tray = *desktop.NotificationArea();
    bool iconShown = false;
    for (int attempt = 0; attempt < 100 && !iconShown; ++attempt) {
        desktop.Screenshot(tray, Shot("tray-icon"));
        iconShown = Near(Shot("tray-icon"), Red) > 10;
    }
    EXPECT_TRUE(iconShown);
    EXPECT_FALSE(desktop.WaitForWindow(MainWindowName, std::chrono::milliseconds(500)));

    // A press on the icon pops the menu up; its first entry opens the window.
    const TGeometry icon = desktop.Geometry(tray);
    desktop.Click(icon.X + icon.Width / 2, icon.Y + icon.Height / 2);
    std::optional<std::string> menu;
    for (int attempt = 0; attempt < 100 && !menu; ++attempt) {
        for (const std::string& candidate : desktop.VisibleWindows("tarvok")) {
            if (desktop.Geometry(candidate).Height > 60) {
                menu = candidate;
            }
        }
    }
    ASSERT_TRUE(menu);
    desktop.Screenshot(*menu, Shot("tray-menu"));
    desktop.Keys({"Down", "Return"});
    const auto window = desktop.WaitForWindow(MainWindowName);
    ASSERT_TRUE(window);
    desktop.Screenshot(*window, Shot("main-window-own-scheduling"));
    EXPECT_GT(LightNear(Shot("main-window-own-scheduling"), Red), 10);
    EXPECT_EQ(LightNear(Shot("main-window-own-scheduling"), Green), 0);

    Choose(desktop, *window, 2, 0); // Log > View
    const auto viewer = desktop.WaitForWindow("^Tarvok log \\(");
    ASSERT_TRUE(viewer);
    desktop.Screenshot(*viewer, Shot("log-viewer"));
    desktop.Keys(*viewer, {"Escape"});
    EXPECT_TRUE(desktop.WaitUntilGone(*viewer));

    Choose(desktop, *window, 2, 2); // Log > Run history...
    const auto history = desktop.WaitForWindow("^Tarvok run history$");
    ASSERT_TRUE(history);
    desktop.Keys(*history, {"Tab", "Down"}); // into the list, onto the failed run
    desktop.Screenshot(*history, Shot("run-history"));
    EXPECT_GT(Near(Shot("run-history"), Red), 10);
    desktop.Keys(*history, {"Escape"});
    EXPECT_TRUE(desktop.WaitUntilGone(*history));

    Choose(desktop, *window, 3, 0); // Help > Contents
    const auto help = desktop.WaitForWindow("^Tarvok help$");
    ASSERT_TRUE(help);
    desktop.Screenshot(*help, Shot("help"));

    // Shutdown asks first.
    Choose(desktop, *window, 0, 1);
    const auto question = desktop.WaitForWindow("^Tarvok! [0-9.]+$");
    ASSERT_TRUE(question);
    desktop.Screenshot(*question, Shot("shutdown-question"));
    desktop.Keys(*question, {"Return"}); // Yes
    EXPECT_EQ(manager.WaitForExit(pid), 0);
    EXPECT_THAT(LogMessages(), testing::ElementsAre("System started.", "Task list (re)loaded",
                                                    "System stopped.", "."));
}

TEST_F(ManagerOnDesktop, RunningServiceMakesItTheCommandWindow) {
    if (::geteuid() != 0 && !PrivateRunAvailable()) {
        GTEST_SKIP() << "the service needs a private /run or root here";
    }
    TServiceHarness service("CommandWindow", {}, /*ownClientSlot=*/false);
    service.WriteTasks(
        {MakeTask(1, "Nightly backup", "/usr/local/bin/backup", "--all", DailyAt(2, 30), true),
         MakeTask(2, "Report", "/usr/local/bin/report", "", DailyAt(8, 0)),
         MakeTask(3, "Copy [3] files", "/usr/bin/rsync", "-a /srv /mnt", DailyAt(12, 15))});
    service.Start();
    ASSERT_TRUE(service.WaitForNotify("READY=1\nSTATUS=Running"));

    const TDesktop desktop({.NotificationArea = false});
    std::optional<TManagerRun> manager;
    // It told the service it is there; the service's lines reach its list.
    const auto window = OpenCommandWindow(service, desktop, manager);
    ASSERT_TRUE(window);
    // The first task opened, and its schedule.
    desktop.Keys(*window, {"Down", "Right", "Down", "Down", "Down", "Down", "Down", "Right"});
    desktop.Screenshot(*window, Shot("main-window"));
    EXPECT_GT(LightNear(Shot("main-window"), Green), 10);
    EXPECT_EQ(LightNear(Shot("main-window"), Red), 0);
    EXPECT_THAT(service.LogMessages(), testing::Not(Contains("System started.")));
    dir_.clear(); // the harness removes its directory
}

// In service mode "&Run" and "&Truncate" are requests to the service: the task starts once,
// started by the service, and the log is emptied by the service.
TEST_F(ManagerOnDesktop, InServiceModeRunAndTruncateGoThroughTheService) {
    if (::geteuid() != 0 && !PrivateRunAvailable()) {
        GTEST_SKIP() << "the service needs a private /run or root here";
    }
    TServiceHarness service("RunThroughService", {}, /*ownClientSlot=*/false);
    service.WriteTasks({MakeTask(1, "Once", service.MarkerScript("once"), "", DailyAt(2, 30))});
    service.Start();
    ASSERT_TRUE(service.WaitForNotify("READY=1\nSTATUS=Running"));
    const TDesktop desktop({.NotificationArea = false});
    TManagerRun manager(service.Dir(), desktop);
    manager.Start({"-d"});
    const auto window = desktop.WaitForWindow(MainWindowName);
    ASSERT_TRUE(window);
    ASSERT_TRUE(service.WaitForLogLine("Client has connected."));

    desktop.Keys(*window, {"Down"}); // the task
    Choose(desktop, *window, 1, 4);  // Task > Run
    const auto question = desktop.WaitForWindow("^Tarvok! [0-9.]+$");
    ASSERT_TRUE(question);
    desktop.Screenshot(*question, Shot("run-question"));
    desktop.Keys(*question, {"Return"}); // Yes
    ASSERT_TRUE(service.WaitForLogLine("Task \"Once\" [1] started."));
    ASSERT_TRUE(service.WaitUntil([&] { return service.Runs("once") == 1; }));

    Choose(desktop, *window, 2, 1); // Log > Truncate
    const auto clear = desktop.WaitForWindow("^Tarvok! [0-9.]+$");
    ASSERT_TRUE(clear);
    desktop.Keys(*clear, {"Return"}); // Yes
    ASSERT_TRUE(service.WaitUntil([&] {
        return service.LogMessages() == std::vector<std::string>{"System log truncated."};
    }));
    EXPECT_EQ(service.Runs("once"), 1);
    dir_.clear(); // the harness removes its directory
}

// The user adds a task with the editors, keys only, while the real service runs: the manager
// saves it and tells the service, which starts it at the next minute of its clock.
TEST_F(ManagerOnDesktop, TaskAddedInTheEditorsIsStartedByTheService) {
    if (::geteuid() != 0 && !PrivateRunAvailable()) {
        GTEST_SKIP() << "the service needs a private /run or root here";
    }
    // Both programs run in UTC; the service's day is the manager's today.
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    ::gmtime_r(&now, &utc);
    const TDateTime today = EncodeDate(utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday);
    TServiceHarness service("TaskFromEditors", {}, /*ownClientSlot=*/false);
    const std::string command = service.MarkerScript("report");
    service.Start({.FakeStart = today + EncodeTime(23, 50), .MovableClock = true});
    ASSERT_TRUE(service.WaitForNotify("READY=1\nSTATUS=Running"));

    const TDesktop desktop({.NotificationArea = false});
    std::optional<TManagerRun> manager;
    const auto window = OpenCommandWindow(service, desktop, manager);
    ASSERT_TRUE(window);

    desktop.Keys(*window, {"alt+t"});
    desktop.Keys({"n"}); // Task > New
    const auto editor = desktop.WaitForWindow("^Insert a new task$");
    ASSERT_TRUE(editor);
    // The keyboard to the editor, whose name box has the focus.
    desktop.Run({"xdotool", "windowfocus", "--sync", *editor});
    desktop.Run({"xdotool", "type", "--delay", "40", "Report"});
    desktop.Keys({"Tab", "Tab", "space"}); // the command's "..."
    const auto browse = desktop.WaitForWindow("^Command line$");
    ASSERT_TRUE(browse);
    desktop.Run({"xdotool", "windowfocus", "--sync", *browse}); // to its file name box
    desktop.Run({"xdotool", "type", "--delay", "20", command});
    desktop.Keys({"Return"});
    ASSERT_TRUE(desktop.WaitUntilGone(*browse));
    desktop.Keys(*editor, {"Tab", "Tab", "Tab", "Tab", "Tab", "space"}); // "Enabled"

    desktop.Keys(*editor, {"alt+s"}); // the schedule's defaults: every day at 00:00 from today
    const auto schedule = desktop.WaitForWindow("^Schedule Editor \\[Report\\]$");
    ASSERT_TRUE(schedule);
    desktop.Screenshot(*schedule, Shot("schedule-editor"));
    desktop.Keys(*schedule, {"alt+o"});
    ASSERT_TRUE(desktop.WaitUntilGone(*schedule));

    desktop.Keys(*editor, {"shift+Tab", "shift+Tab", "space"}); // the working directory's "..."
    const auto chooser = desktop.WaitForWindow("^Select a directory \\[");
    ASSERT_TRUE(chooser);
    desktop.Screenshot(*chooser, Shot("directory-chooser"));
    desktop.Keys(*chooser, {"Escape"}); // cancelled: the command's directory
    ASSERT_TRUE(desktop.WaitUntilGone(*chooser));
    desktop.Screenshot(*editor, Shot("task-editor"));
    desktop.Keys(*editor, {"alt+o"});
    ASSERT_TRUE(desktop.WaitUntilGone(*editor));

    // Saved, and read by the service on "TN 1" (there was no task file before).
    ASSERT_TRUE(service.WaitForLogLine("Task list (re)loaded"))
        << testing::PrintToString(service.LogMessages());
    TTaskList saved;
    saved.LoadFromFile(service.Path("tarvok.tsk"));
    ASSERT_EQ(saved.Count(), 1u);
    const TTaskDef task = saved.GetTask(0);
    EXPECT_EQ(task.Id, 1);
    EXPECT_EQ(task.Name, "Report");
    EXPECT_EQ(task.Command, command);
    EXPECT_EQ(task.WorkDir, dir_.string() + "/");
    EXPECT_TRUE(task.Enabled);
    EXPECT_EQ(task.Schedule.StartDate, today);

    service.SetClock(today + EncodeTime(23, 59, 58));
    EXPECT_TRUE(service.WaitForLogLine("Task \"Report\" [1] started."));
    EXPECT_TRUE(service.WaitUntil([&] { return service.Runs("report") == 1; }));
    desktop.Screenshot(*window, Shot("main-window-new-task"));
    dir_.clear(); // the harness removes its directory
}

} // namespace
} // namespace tarvok::e2e
