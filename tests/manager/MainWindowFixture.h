// What the tests of the main window share: a window opened on a test directory with a fixed
// clock, prompts and slots the test answers, and a desktop whose notification area the test
// switches.
#pragma once

#include "manager/Main.h"
#include "shared/SysLog.h"
#include "tests/TempDir.h"
#include "tests/manager/FakeManagerChannel.h"
#include "tests/manager/FakePrompts.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTreeWidget>
#include <functional>
#include <memory>

namespace tarvok::testing_support {

inline const TDateTime Monday = EncodeDate(2026, 12, 7) + EncodeTime(10, 15, 42);

inline TTaskDef Task(std::int32_t id, const std::string& name) {
    TTaskDef task = TTaskDef::New();
    task.Id = id;
    task.Name = name;
    task.Command = "/usr/bin/" + name;
    task.Enabled = true;
    return task;
}

class MainWindowTest : public testing_support::TempDirTest {
protected:
    struct TOptions {
        int PlatformKind = PlatformNt;
        std::vector<std::string> Arguments = {};
        bool Administrator = true;
    };

    std::unique_ptr<TFrmMain> Open(const TOptions& options) {
        auto window = std::make_unique<TFrmMain>(TMainSetup{
            .Clock = clock_,
            .Prompts = prompts_,
            .Channel = channel_,
            .Paths = ProgramPathsFor(Path("tarvok")),
            .ProgramFile = PROGRAM_FILE,
            .PlatformKind = options.PlatformKind,
            .Arguments = options.Arguments,
            .TrayAvailable = [this] { return tray_; },
            .Access = {.Administrator = options.Administrator, .GroupName = "tarvok"},
            .ReadRunOutput = [this](const TRunRecord& run) { return readOutput_(run); }});
        return window;
    }
    std::unique_ptr<TFrmMain> Open() { return Open(TOptions{}); }

    void WriteTasks(const std::vector<TTaskDef>& tasks) {
        TTaskList list;
        for (TTaskDef task : tasks) {
            list.AddTask(task, false);
        }
        list.SaveToFile(Path("tarvok.tsk"));
    }

    // The log file's messages, without their stamps.
    std::vector<std::string> LogMessages() const {
        std::vector<std::string> messages;
        for (const std::string& line : SplitLogLines(Read(Path("tarvok.log")))) {
            messages.push_back(line.substr(line.find(" : ") + 3));
        }
        return messages;
    }

    static QStringList Texts(const QTreeWidgetItem* node) {
        QStringList texts;
        for (int i = 0; i < node->childCount(); ++i) {
            texts << node->child(i)->text(0);
            for (int j = 0; j < node->child(i)->childCount(); ++j) {
                texts << node->child(i)->child(j)->text(0);
            }
        }
        return texts;
    }

    // Runs the event loop until the condition holds or five seconds have passed.
    static bool ProcessEventsUntil(const std::function<bool()>& condition) {
        QElapsedTimer elapsed;
        elapsed.start();
        while (!condition() && elapsed.elapsed() < 5000) {
            QApplication::processEvents(QEventLoop::AllEvents, 50);
        }
        return condition();
    }

    TFixedClock clock_{Monday};
    TFakePrompts prompts_;
    TFakeManagerChannel channel_;
    bool tray_ = true;
    // Stands for the journal; called on the history window's reading thread.
    TRunOutputReader readOutput_ = [](const TRunRecord&) { return platform::TJournalText{}; };
};

} // namespace tarvok::testing_support
