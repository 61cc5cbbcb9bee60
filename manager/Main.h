// The manager's main window: the task tree, the system messages, the service-status light, the
// status bar, the menus and the notification-area icon, and how the program starts and ends.
//
// Everything a test replaces comes in through one TMainSetup (clock, boxes, slots, paths,
// platform kind, command line, notification area, the user's rights), so the window runs
// offscreen with fakes:
//
//   TFrmMain window({.Clock = clock, .Prompts = prompts, .Channel = channel,
//                    .Paths = ProgramPathsFor(dir + "tarvok"), .Arguments = {"-d"}, ...});
//   if (window.InstanceOk) window.Start();
//
// The scheduling and the following of the service are the Scheduler's (manager/Scheduler.h):
// Timers tick it at every whole second and hand it the slot's messages; it switches ServiceMode,
// shows the light, the icon, the status panels and the running tasks' images through the
// window, and "&Run" (MITaskRun, pmiRun) runs SelectedTask through it.
//
// The task commands (New, Edit, Delete, Properties) change tasks through TTaskCommands
// (manager/TaskCmds.h) and keep the tree in step.
//
// The window follows the task file: what another program saves there (tarvokctl, the service
// deleting a task) is read again and shown, the runs it follows go on, and the selection stays
// on its task while that task is still there.
#pragma once

#include "manager/Graflite.h"
#include "manager/RunHist.h"
#include "manager/SchedTimers.h"
#include "manager/Scheduler.h"
#include "manager/VersInfo.h"
#include "platform/Files.h"
#include "shared/Clock.h"
#include "shared/Glob.h"
#include "shared/SysLog.h"
#include "shared/TaskDef.h"
#include "shared/TaskRun.h"

#include <QIcon>
#include <QMainWindow>
#include <QString>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class QAction;
class QFileSystemWatcher;
class QLabel;
class QListWidget;
class QMenu;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;

namespace tarvok {

class TManagerChannel;
class TPrompts;
class TTaskCommands;
class TSysTrayIcon;
class THelpWindow;

// What the desktop user may do with Tarvok: administrators (root, the program directory's owner
// and its group's members) change tasks and the log; anyone else only looks.
struct TUserAccess {
    bool Administrator = true;
    std::string GroupName; // the program directory's group, the one to join
};

// The running user's access to the program directory.
TUserAccess UserAccessTo(const std::string& programDir);

struct TMainSetup {
    const TClock& Clock;
    TPrompts& Prompts;
    TManagerChannel& Channel;
    // Starts and follows the tasks the manager runs itself.
    TProcessControl& Processes = SystemProcesses();
    TProgramPaths Paths;
    // The program file whose version the window shows.
    std::string ProgramFile;
    int PlatformKind = PlatformNt;
    // The command line without the program's name.
    std::vector<std::string> Arguments;
    // Whether the desktop has a notification area now; asked again while it has none.
    std::function<bool()> TrayAvailable;
    TUserAccess Access;
    // Reads a run's output for the run history; none: from the system journal.
    TRunOutputReader ReadRunOutput{};
};

enum class TTreeMode { Rebuild, Add, Refresh, Remove };

// The tree's images (by index: 0 root, 1 task, 2 detail line, 3 task whose blocking run is
// alive) and the notification area's (0 clock alone, 1 with red, 2 yellow, 3 green square).
inline constexpr int TreeRootImage = 0;
inline constexpr int TreeTaskImage = 1;
inline constexpr int TreeDetailImage = 2;
inline constexpr int TreeRunningImage = 3;
inline constexpr int TrayClockImage = 0;
inline constexpr int TrayRedImage = 1;
inline constexpr int TrayYellowImage = 2;
inline constexpr int TrayGreenImage = 3;
QIcon TreeImage(int index);
QIcon TrayImage(int index);

// The texts of a task's node and of its twelve detail lines, in tree order.
struct TTaskNodeTexts {
    QString Caption;              // "Backup [3]"
    std::array<QString, 3> Lines; // "Command: ...", "Parameters: ...", "Working directory: ..."
    std::array<QString, 4> Attributes; // under "Attributes"
    std::array<QString, 3> Schedule;   // under "Schedule"
};
TTaskNodeTexts TaskNodeTexts(const TTaskDef& task, std::string_view longTimeFormat);

class TFrmMain final : public QMainWindow {
    Q_OBJECT
public:
    static constexpr const char* ProgramName = "Tarvok!";

    // Runs the whole start-up: the caller goes on with Start() when InstanceOk is set and ends
    // the program otherwise.
    explicit TFrmMain(TMainSetup setup, QWidget* parent = nullptr);
    // "System stopped." and "." when this instance ran; tells a connected service it goes.
    ~TFrmMain() override;

    // The first showing: with "-d" the window appears; otherwise only the notification-area icon
    // does, or, on a desktop without one, the window starts minimised.
    void Start();

    // The notification area may come or go while the program runs: the icon is added when one
    // appears, and a window hidden into one that went away comes back minimised.
    void WatchTray();

    // The user's requests (menu handlers).
    void MIFileExitClick();
    void pmTrayOpenClick();
    void pmTrayQuitClick();
    void ShowLogViewer();
    // The run history window, narrowed to the task's runs; 0: all tasks' runs.
    void ShowRunHistory(std::int32_t taskId = 0);
    void ShowAboutBox();
    void MILogTruncateClick();
    // "&Run": the selected task, with the questions and checks of an interactive run.
    void MITaskRunClick();
    void Contents1Click();
    // The desktop session ends or the program was asked to stop: end now, without questions.
    void EndSession();

    // The task commands (New, Edit, Delete, Properties), on the selected task. They change the
    // list, the process table and the file through TTaskCommands and keep the tree in step.
    void NewTask();
    void EditTask();
    void DeleteSelectedTask();
    void ShowTaskProperties();

    void LoadTasks();
    void UpdateTaskTree(const TTaskDef& task, TTreeMode mode);
    // The node of the task with the record's id, or none.
    QTreeWidgetItem* FindTaskNode(const TTaskDef& task) const;
    QTreeWidgetItem* RootNode() const;
    // Takes the selection from the tree and enables the task commands to match.
    void TTClick();

    // A notification from the icon that a run of the task failed; clicking it shows the task's
    // runs.
    void NotifyRunFailed(std::int32_t taskId, const QString& text);

    void SetStatusLight(TActiveLight light);
    void SetStateIcon(int index);
    int StateIconIndex() const { return stateIconIndex_; }
    void SetStatusPanel(int panel, const QString& text);
    QString StatusPanel(int panel) const;
    void SetNodeImage(QTreeWidgetItem* node, int index);
    static int NodeImage(const QTreeWidgetItem* node);
    // A moment as the status bar shows it: 06-Dec-2026 19:16:20.
    static QString MomentText(TDateTime moment);

    // Read-only: the user is no administrator. Refuses with a box saying why; true when refused.
    bool RefuseIfReadOnly();
    // As RefuseIfReadOnly, and also while the task file could not be read, so that an unread
    // file is never overwritten by what little the window holds.
    bool RefuseTaskChange();
    bool ReadOnly() const { return !setup_.Access.Administrator; }
    bool TasksUnreadable() const { return !unreadableReason_.empty(); }

    // To the service; nothing is sent by a read-only window. False when nobody received it.
    bool SendToService(const std::string& message);

    const TClock& Clock() const { return setup_.Clock; }
    TPrompts& Prompts() { return setup_.Prompts; }
    TManagerChannel& Channel() { return setup_.Channel; }
    const TProgramPaths& Paths() const { return setup_.Paths; }

    // State shared by the manager's parts.
    bool QuitConfirmed = false;
    bool InstanceOk = false;
    bool ServiceMode = false;
    bool QuitOnClose = false; // "-m"
    bool ShowAtStart = false; // "-d"
    bool FirstShow = true;
    QString ProgramVersion;
    std::string LegacyPath;
    std::string LegacyBackupPath;
    std::string HelpPath;
    std::string ContentsPath;
    TTaskList Tasks;
    TProcessTable ProcessTable;
    std::unique_ptr<TSysLogger> Logger;
    QTreeWidgetItem* SelectedNode = nullptr;
    TTaskDef SelectedTask;
    std::int32_t SelectedIndex = -1;
    QIcon StateIcon;

    // Controls.
    QTreeWidget* TT;
    QLabel* lblMessages;
    QListWidget* mMessages;
    QLabel* lblSvcStatus;
    TGraphicLight* glSvcStatus;
    std::array<QLabel*, 2> sbStatus;
    TSysTrayIcon* TrayIcon;
    // Made at the end of a start-up that goes on; none for an instance that ends at once.
    std::unique_ptr<TScheduler> Scheduler;
    TSchedulerTimers* Timers = nullptr;
    QMenu* pmTask;
    QMenu* pmTray;

    QAction* MIFileExit;
    QAction* MIFileShutdown;
    QAction* MITaskProperties;
    QAction* MITaskNew;
    QAction* MITaskEdit;
    QAction* MITaskDelete;
    QAction* MITaskRun;
    QAction* MILogView;
    QAction* MILogTruncate;
    QAction* MILogHistory;
    QAction* Contents1;
    QAction* miHelpAbout;
    QAction* pmiProperties;
    QAction* pmiInsert;
    QAction* pmiEdit;
    QAction* pmiDelete;
    QAction* pmiRun;
    QAction* pmTrayOpen;
    QAction* pmTrayViewLog;
    QAction* pmTrayRunHistory;
    QAction* Help1;
    QAction* pmTrayAbout;
    QAction* pmTrayQuit;

    THelpWindow* HelpWindow() const { return helpWindow_; }
    // None until first shown.
    TFrmRunHistory* RunHistory() const { return runHistory_; }

signals:
    // The program should end now (the window closed for good).
    void Ended();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    enum class TStartBranch { Standalone, AnotherManager, CommandWindow, OwnScheduling };

    void BuildControls();
    void BuildMenus();
    void ConnectTaskCommands();
    void FormCreate();
    void FormShow();
    TStartBranch ChooseStartBranch() const;
    void ApplyStartBranch(TStartBranch branch);
    // The light, its label and the icon's square: for a manager that cannot know the service.
    void HideServiceState();
    void CreateLogger();
    void RunLegacyUpgrade();
    void MarkUnreadable(const std::string& reason);
    void WatchTaskFile();
    void TaskFileChanged();
    void TakeChangedTasks(TTaskList loaded);
    void HideWindow();
    void PopupTaskMenu(const QPoint& position);
    void WarnReadOnly();

    QTreeWidgetItem* MakeTaskNode(const TTaskDef& task);
    void FillTaskNode(QTreeWidgetItem* node, const TTaskDef& task);
    void SetTaskImages(QTreeWidgetItem* node, std::int32_t taskId);

    TMainSetup setup_;
    std::unique_ptr<TLogDisplay> messagesDisplay_;
    std::unique_ptr<TSchedulerWindow> schedulerWindow_;
    std::string longTimeFormat_;
    int stateIconIndex_ = -1;
    // The slots could not be reached at start-up: no service is followed, nothing scheduled.
    bool slotsOutOfReach_ = false;
    std::string unreadableReason_;
    // The task file could not be read (not the legacy file: that one is taken up only at start).
    bool taskFileUnreadable_ = false;
    QFileSystemWatcher* taskFileWatcher_ = nullptr;
    // The task file as last read; nothing while there is none.
    std::optional<platform::TFileStamp> taskFileStamp_;
    QTimer* trayWatch_;
    THelpWindow* helpWindow_ = nullptr;
    TFrmRunHistory* runHistory_ = nullptr;
    // The task of the last failure notification, the one a click on it is about.
    std::int32_t notifiedTask_ = 0;
    std::unique_ptr<TTaskCommands> taskCommands_;
    bool sessionEnding_ = false;
    bool ended_ = false;
};

} // namespace tarvok
