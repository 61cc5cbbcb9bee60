#include "manager/Main.h"

#include "manager/About.h"
#include "manager/Channel.h"
#include "manager/Help.h"
#include "manager/Prompts.h"
#include "manager/RunTexts.h"
#include "manager/SysIcon.h"
#include "manager/TaskCmds.h"
#include "manager/Update.h"
#include "manager/ViewLog.h"
#include "platform/Accounts.h"
#include "platform/Clock.h"
#include "platform/Files.h"
#include "shared/PathView.h"
#include "shared/ProcPrio.h"
#include "shared/Protocol.h"
#include "shared/ScheDef.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFileSystemWatcher>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

namespace tarvok {

namespace {

constexpr int TaskIdRole = Qt::UserRole;
constexpr int ImageRole = Qt::UserRole + 1;

// The window as designed: its client area, the tree and the message list, in pixels of a
// desktop font of this height. Larger fonts and scaling grow all of it alike.
constexpr int DesignFontHeight = 16;
constexpr int DesignWidth = 594;
constexpr int DesignHeight = 403;
constexpr int DesignTreeHeight = 241;
constexpr int DesignListHeight = 108;
constexpr int DesignPanelWidth = 220;

// How often a desktop without a notification area is asked again whether it has one now.
constexpr int TrayWatchMs = 5000;

constexpr const char* RootText = "SCHEDULED TASKS";
constexpr const char* CaptionNotice = "the minute task scheduler";

QString Qs(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString YesNo(bool value) {
    return value ? QStringLiteral("Yes") : QStringLiteral("No");
}

// The message list as the logger's mirror.
class TListDisplay final : public TLogDisplay {
public:
    explicit TListDisplay(QListWidget& list) : list_(list) {}
    std::size_t Count() const override { return static_cast<std::size_t>(list_.count()); }
    void Append(const std::string& line) override { list_.addItem(Qs(line)); }
    void DeleteFirst() override { delete list_.takeItem(0); }
    void Clear() override { list_.clear(); }
    void SelectLastThenNone() override {
        list_.scrollToBottom();
        list_.clearSelection();
    }

private:
    QListWidget& list_;
};

// How much larger than designed the desktop's font is.
double FontScale(const QWidget& widget) {
    return std::max(1.0, static_cast<double>(widget.fontMetrics().height()) / DesignFontHeight);
}

QIcon ImageOf(const std::array<const char*, 4>& names, int index) {
    if (index < 0 || index >= static_cast<int>(names.size())) {
        return {};
    }
    return NamedImage(QString::fromLatin1(names[static_cast<std::size_t>(index)]));
}

TActiveLight LightOf(TServiceLight light) {
    switch (light) {
    case TServiceLight::Green:
        return TActiveLight::alGreen;
    case TServiceLight::Yellow:
        return TActiveLight::alYellow;
    case TServiceLight::Red:
        break;
    }
    return TActiveLight::alRed;
}

// What the scheduling shows and asks through the window. On a platform without the service
// the light stays hidden and the icon the plain clock.
class TMainSchedulerWindow final : public TSchedulerWindow {
public:
    TMainSchedulerWindow(TFrmMain& window, bool followsService)
        : window_(window), followsService_(followsService), tip_(window.TrayIcon->Tip()) {}

    void SetStatusText(int panel, const std::string& text) override {
        window_.SetStatusPanel(panel, Qs(text));
    }
    void ShowServiceState(TServiceLight light, int trayImage, const std::string& tipNote) override {
        if (!followsService_) {
            return;
        }
        window_.SetStatusLight(LightOf(light));
        window_.SetStateIcon(trayImage);
        window_.TrayIcon->SetTip(tipNote.empty() ? tip_
                                                 : tip_ + QStringLiteral(" - ") + Qs(tipNote));
    }
    void SetTaskImage(std::int32_t taskId, int image) override {
        TTaskDef task;
        task.Id = taskId;
        window_.SetNodeImage(window_.FindTaskNode(task), image);
    }
    void RemoveTaskNode(const TTaskDef& task) override {
        window_.UpdateTaskTree(task, TTreeMode::Remove);
    }
    void NotifyRunFailed(std::int32_t taskId, const std::string& text) override {
        window_.NotifyRunFailed(taskId, Qs(text));
    }
    bool Ask(const std::string& text) override { return window_.Prompts().Ask(&window_, Qs(text)); }
    void ShowError(const std::string& text) override {
        window_.Prompts().Show(&window_, TBoxKind::Error, Qs(text));
    }

private:
    TFrmMain& window_;
    const bool followsService_;
    const QString tip_;
};

} // namespace

TUserAccess UserAccessTo(const std::string& programDir) {
    return {.Administrator = platform::IsAdministrator(platform::CurrentUserId(), programDir),
            .GroupName = platform::DirectoryGroupName(programDir)};
}

QIcon TreeImage(int index) {
    return ImageOf({"TREE_ROOT", "TREE_TASK", "TREE_DETAIL", "TREE_RUNNING"}, index);
}

QIcon TrayImage(int index) {
    return ImageOf({"TRAY_CLOCK", "TRAY_RED", "TRAY_YELLOW", "TRAY_GREEN"}, index);
}

TTaskNodeTexts TaskNodeTexts(const TTaskDef& task, std::string_view longTimeFormat) {
    std::vector<std::string> schedule;
    DescribeSchedule(task.Schedule, schedule, longTimeFormat);
    schedule.resize(3);
    return {
        .Caption = Qs(TaskCaption(task)),
        .Lines = {QStringLiteral("Command: ") + Qs(task.Command),
                  QStringLiteral("Parameters: ") + Qs(task.Parameters),
                  QStringLiteral("Working directory: ") + Qs(task.WorkDir)},
        .Attributes = {QStringLiteral("Enabled: ") + YesNo(task.Enabled),
                       QStringLiteral("Blocking: ") + YesNo(task.Blocking),
                       QStringLiteral("Visible: ") + YesNo(task.Visible),
                       QStringLiteral("Priority: ") + (task.Blocking
                                                           ? Qs(PriorityName(task.Priority))
                                                           : QStringLiteral("---"))},
        .Schedule = {QStringLiteral("Frequency: ") + Qs(schedule[0]),
                     QStringLiteral("Trigger: ") + Qs(schedule[1]),
                     QStringLiteral("Duration: ") + Qs(schedule[2])},
    };
}

TFrmMain::TFrmMain(TMainSetup setup, QWidget* parent)
    : QMainWindow(parent), setup_(std::move(setup)), longTimeFormat_(platform::LongTimeFormat()) {
    BuildControls();
    BuildMenus();
    ConnectTaskCommands();
    // The designed size at the desktop's font, and never less than the controls need.
    const double scale = FontScale(*this);
    const QSize designed(static_cast<int>(DesignWidth * scale),
                         static_cast<int>(DesignHeight * scale));
    setMinimumSize(designed.expandedTo(minimumSizeHint()));
    resize(minimumSize());
    FormCreate();
}

TFrmMain::~TFrmMain() {
    // The timers go first: the slot's thread must stop calling into the scheduler.
    delete Timers;
    Timers = nullptr;
    Scheduler.reset();
    Logger->Display = nullptr;
    if (InstanceOk) {
        Logger->Add("System stopped.");
        Logger->Add(".");
    }
    TrayIcon->RemoveIcon();
    if (ServiceMode) {
        SendToService(FormatMessage(TMessageCode::ClientDisconnected));
    }
    setup_.Channel.CloseClientSlot();
}

void TFrmMain::BuildControls() {
    auto* central = new QWidget(this);
    setCentralWidget(central);

    TT = new QTreeWidget(central);
    TT->setHeaderHidden(true);
    TT->setSelectionMode(QAbstractItemView::SingleSelection);
    TT->setEditTriggers(QAbstractItemView::NoEditTriggers);
    TT->setContextMenuPolicy(Qt::CustomContextMenu);
    TT->setUniformRowHeights(true);
    // Every change of the selection, by mouse or by keyboard, is taken: the task commands then
    // always act on the task the tree shows as selected.
    connect(TT, &QTreeWidget::itemSelectionChanged, this, &TFrmMain::TTClick);
    connect(TT, &QTreeWidget::customContextMenuRequested, this, &TFrmMain::PopupTaskMenu);

    lblMessages = new QLabel(QStringLiteral("System messages:"), central);
    lblSvcStatus = new QLabel(QStringLiteral("Service Status:"), central);
    glSvcStatus = new TGraphicLight(central);
    glSvcStatus->SetActiveLight(TActiveLight::alBlue);
    glSvcStatus->SetDarkLite(false);

    mMessages = new QListWidget(central);
    mMessages->setFocusPolicy(Qt::NoFocus);
    mMessages->setUniformItemSizes(true);
    mMessages->setBackgroundRole(QPalette::Window);
    messagesDisplay_ = std::make_unique<TListDisplay>(*mMessages);

    const double scale = FontScale(*this);
    const auto scaled = [scale](int pixels) { return static_cast<int>(pixels * scale); };

    auto* row = new QHBoxLayout;
    row->addWidget(lblMessages);
    row->addStretch();
    row->addWidget(lblSvcStatus);
    row->addWidget(glSvcStatus);
    auto* layout = new QVBoxLayout(central);
    layout->addWidget(TT, DesignTreeHeight);
    layout->addLayout(row);
    layout->addWidget(mMessages, DesignListHeight);

    const int panelWidth =
        std::max(scaled(DesignPanelWidth),
                 fontMetrics().horizontalAdvance(QStringLiteral("Current time: 30-Sep-2026 "
                                                                "23:59:59")) +
                     fontMetrics().averageCharWidth() * 4);
    for (QLabel*& panel : sbStatus) {
        panel = new QLabel(this);
        panel->setMinimumWidth(panelWidth);
        statusBar()->addWidget(panel);
    }

    trayWatch_ = new QTimer(this);
    trayWatch_->setInterval(TrayWatchMs);
    connect(trayWatch_, &QTimer::timeout, this, &TFrmMain::WatchTray);

    TrayIcon = new TSysTrayIcon(setup_.TrayAvailable, this);
    setWindowIcon(NamedImage(QStringLiteral("tarvok")));
}

void TFrmMain::BuildMenus() {
    const auto item = [this](QMenu* menu, const char* caption) {
        return menu->addAction(QString::fromLatin1(caption));
    };
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    MIFileExit = item(file, "&Hide");
    MIFileShutdown = item(file, "&Shutdown");
    QMenu* task = menuBar()->addMenu(QStringLiteral("&Task"));
    MITaskProperties = item(task, "&Properties");
    MITaskProperties->setStatusTip(QStringLiteral("Displays the task properties"));
    task->addSeparator();
    MITaskNew = item(task, "&New");
    MITaskNew->setStatusTip(QStringLiteral("Add a new task"));
    MITaskEdit = item(task, "&Edit");
    MITaskDelete = item(task, "&Delete");
    MITaskRun = item(task, "&Run");
    QMenu* log = menuBar()->addMenu(QStringLiteral("&Log"));
    MILogView = item(log, "&View");
    MILogTruncate = item(log, "&Truncate");
    log->addSeparator();
    MILogHistory = item(log, "Run &history...");
    MILogHistory->setStatusTip(QStringLiteral("Shows how every recorded run of a task ended"));
    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    Contents1 = item(help, "&Contents");
    miHelpAbout = item(help, "&About");

    pmTask = new QMenu(this);
    pmiProperties = item(pmTask, "&Properties");
    pmTask->addSeparator();
    pmiInsert = item(pmTask, "&New");
    pmiEdit = item(pmTask, "&Edit");
    pmiDelete = item(pmTask, "&Delete");
    pmiRun = item(pmTask, "&Run");

    pmTray = new QMenu(this);
    pmTrayOpen = item(pmTray, "Open the Tarvok window");
    pmTray->setDefaultAction(pmTrayOpen);
    pmTrayViewLog = item(pmTray, "View the Tarvok system log");
    pmTrayRunHistory = item(pmTray, "View the Tarvok run history");
    pmTray->addSeparator();
    Help1 = item(pmTray, "Tarvok help");
    pmTrayAbout = item(pmTray, "About Tarvok");
    pmTray->addSeparator();
    pmTrayQuit = item(pmTray, "Shutdown Tarvok");
    TrayIcon->TrayMenu = pmTray;

    connect(MIFileExit, &QAction::triggered, this, &TFrmMain::MIFileExitClick);
    for (QAction* quit : {MIFileShutdown, pmTrayQuit}) {
        connect(quit, &QAction::triggered, this, &TFrmMain::pmTrayQuitClick);
    }
    for (QAction* view : {MILogView, pmTrayViewLog}) {
        connect(view, &QAction::triggered, this, &TFrmMain::ShowLogViewer);
    }
    connect(MILogTruncate, &QAction::triggered, this, &TFrmMain::MILogTruncateClick);
    for (QAction* history : {MILogHistory, pmTrayRunHistory}) {
        connect(history, &QAction::triggered, this, [this] { ShowRunHistory(); });
    }
    // The run the notification told of is the task's newest: it is shown at once.
    connect(TrayIcon, &TSysTrayIcon::MessageClicked, this, [this] {
        ShowRunHistory(notifiedTask_);
        runHistory_->SelectNewest();
    });
    for (QAction* contents : {Contents1, Help1}) {
        connect(contents, &QAction::triggered, this, &TFrmMain::Contents1Click);
    }
    for (QAction* about : {miHelpAbout, pmTrayAbout}) {
        connect(about, &QAction::triggered, this, &TFrmMain::ShowAboutBox);
    }
    connect(pmTrayOpen, &QAction::triggered, this, &TFrmMain::pmTrayOpenClick);
    for (QAction* run : {MITaskRun, pmiRun}) {
        connect(run, &QAction::triggered, this, &TFrmMain::MITaskRunClick);
    }
}

void TFrmMain::FormCreate() {
    ProgramVersion = Qs(FileVersionText(setup_.ProgramFile));
    setWindowTitle(
        QStringLiteral("%1 [%2] - %3")
            .arg(QLatin1String(ProgramName), ProgramVersion, QLatin1String(CaptionNotice)));
    // The title of the program's boxes. Not the display name, which Qt would append to every
    // window caption.
    QCoreApplication::setApplicationName(
        QStringLiteral("%1 %2").arg(QLatin1String(ProgramName), ProgramVersion));

    LegacyPath = setup_.Paths.LegacyPath;
    LegacyBackupPath = setup_.Paths.LegacyBackupPath;
    HelpPath = setup_.Paths.HelpPath;
    ContentsPath = setup_.Paths.ContentsPath;
    TrayIcon->SetTip(QStringLiteral("%1 %2").arg(QLatin1String(ProgramName), ProgramVersion));

    for (const std::string& argument : setup_.Arguments) {
        const QString lower = Qs(argument).toLower();
        QuitOnClose = QuitOnClose || lower == QStringLiteral("-m");
        ShowAtStart = ShowAtStart || lower == QStringLiteral("-d");
    }

    ApplyStartBranch(ChooseStartBranch());
    if (!InstanceOk) {
        // An instance that ends at once leaves the log, the tasks and the slots to the one that
        // runs: a line of its own would be written over the running writer's, or its lines.
        Logger = std::make_unique<TSysLogger>(setup_.Paths.LogPath, setup_.Clock);
        Logger->Suppressed = true;
        return;
    }

    auto* root = new QTreeWidgetItem(TT, {QLatin1String(RootText)});
    SetNodeImage(root, TreeRootImage);

    CreateLogger();
    // Shows the clock, the next run or "COMMAND WINDOW", the light and the icon.
    schedulerWindow_ = std::make_unique<TMainSchedulerWindow>(
        *this, setup_.PlatformKind == PlatformNt && !slotsOutOfReach_);
    Scheduler = std::make_unique<TScheduler>(TScheduler::TSetup{.Clock = setup_.Clock,
                                                                .Processes = setup_.Processes,
                                                                .Tasks = Tasks,
                                                                .ProcessTable = ProcessTable,
                                                                .Logger = *Logger,
                                                                .Window = *schedulerWindow_,
                                                                .Channel = setup_.Channel,
                                                                .ServiceMode = ServiceMode,
                                                                .LooksOnly = slotsOutOfReach_,
                                                                .RunsPath = setup_.Paths.RunsPath});
    Timers = new TSchedulerTimers(*Scheduler, setup_.Clock, this);
    if (ReadOnly()) {
        WarnReadOnly();
    }
    // A user who may not write the files leaves the upgrade to an administrator's start.
    if (!ReadOnly() && platform::FileExists(LegacyPath)) {
        RunLegacyUpgrade();
    }
    LoadTasks();
    WatchTaskFile();

    Timers->Start(setup_.PlatformKind == PlatformNt);
    trayWatch_->start();
}

TFrmMain::TStartBranch TFrmMain::ChooseStartBranch() const {
    if (setup_.PlatformKind != PlatformNt) {
        return TStartBranch::Standalone;
    }
    if (setup_.Channel.SlotExists(ClientSlotName)) {
        return TStartBranch::AnotherManager;
    }
    return setup_.Channel.SlotExists(ServiceSlotName) ? TStartBranch::CommandWindow
                                                      : TStartBranch::OwnScheduling;
}

void TFrmMain::ApplyStartBranch(TStartBranch branch) {
    if (branch == TStartBranch::Standalone) {
        HideServiceState();
        InstanceOk = true;
        return;
    }
    SetStatusLight(TActiveLight::alRed);
    SetStateIcon(TrayRedImage);
    // A manager that starts at the same moment may take the slot between the look and the
    // making; it then counts as the one already running.
    const TSlotOpening opening = branch == TStartBranch::AnotherManager
                                     ? TSlotOpening::Taken
                                     : setup_.Channel.OpenClientSlot();
    if (opening == TSlotOpening::Taken) {
        setup_.Prompts.Show(this, TBoxKind::Warning,
                            QStringLiteral("An instance of %1 (command window) is already "
                                           "running.\r\nThe program will end.")
                                .arg(QLatin1String(ProgramName)));
        return;
    }
    InstanceOk = true;
    if (opening == TSlotOpening::OutOfReach) {
        // Only administrators reach the slots: whether a service runs cannot be known here, so
        // this manager neither follows one nor schedules beside one.
        slotsOutOfReach_ = true;
        HideServiceState();
        return;
    }
    ServiceMode = branch == TStartBranch::CommandWindow;
}

void TFrmMain::HideServiceState() {
    SetStateIcon(TrayClockImage);
    lblSvcStatus->hide();
    glSvcStatus->hide();
}

void TFrmMain::CreateLogger() {
    Logger = std::make_unique<TSysLogger>(setup_.Paths.LogPath, setup_.Clock);
    Logger->Suppressed = ServiceMode;
    // Lines of a read-only window are shown but never written: the file is not the user's.
    Logger->WriteFile = !ReadOnly();
    Logger->Display = messagesDisplay_.get();
    Logger->LimitLines = true;
    Logger->MaxLines = LogMaxLines;
    Logger->NamedMonth = true;
    Logger->Reload();
    Logger->Add("System started.");
}

void TFrmMain::WarnReadOnly() {
    setup_.Prompts.Show(
        this, TBoxKind::Warning,
        QStringLiteral("You are not a Tarvok administrator, so Tarvok shows the tasks and the "
                       "system log but cannot change them.\r\nTo change them, ask to be added "
                       "to the group \"%1\", then log in again.")
            .arg(Qs(setup_.Access.GroupName)));
}

void TFrmMain::RunLegacyUpgrade() {
    Logger->Add("Upgrading the cron file 1.0.0.26 --> 1.0.0.29");
    try {
        AddParameterLines(LegacyPath);
        if (!platform::FileExists(setup_.Paths.TaskPath)) {
            Logger->Add("Upgrading the cron file 1.0.0.29 --> 2.0.0.xx");
            Logger->Add("The OLD cron file has been saved as TARVOK.CRO");
            Logger->Add("YOU MUST EDIT THE SCHEDULES OF THE TASKS!");
            ConvertLegacyFile(LegacyPath, setup_.Paths.TaskPath);
            platform::ReplaceFile(LegacyBackupPath, platform::ReadFile(LegacyPath));
            platform::RemoveFile(LegacyPath);
        }
    } catch (const platform::TIoError& error) {
        // Saving a task now would make the task file, and the old tasks would never be taken
        // over: tasks stay unchangeable until a start converts them.
        MarkUnreadable(error.what());
        return;
    }
    setup_.Prompts.Show(this, TBoxKind::Information,
                        QStringLiteral("Tarvok task files have been upgraded.\r\nPlease have a "
                                       "look at the system log."));
}

void TFrmMain::ConnectTaskCommands() {
    taskCommands_ = std::make_unique<TTaskCommands>(
        Tasks, ProcessTable, setup_.Paths.TaskPath, setup_.Prompts, setup_.Clock, SystemPathView(),
        TTaskCommandHooks{
            .ServiceMode = [this] { return ServiceMode; },
            .Send = [this](TMessageCode code,
                           std::int32_t taskId) { SendToService(FormatMessage(code, taskId)); },
            .HoldMinuteTick =
                [this](bool hold) {
                    if (Timers != nullptr) {
                        Timers->Hold(hold);
                    }
                },
            .RecentRuns =
                [this](std::int32_t taskId) { return RecentRunsOf(setup_.Paths.RunsPath, taskId); },
        });
    for (QAction* action : {MITaskNew, pmiInsert}) {
        connect(action, &QAction::triggered, this, &TFrmMain::NewTask);
    }
    for (QAction* action : {MITaskEdit, pmiEdit}) {
        connect(action, &QAction::triggered, this, &TFrmMain::EditTask);
    }
    for (QAction* action : {MITaskDelete, pmiDelete}) {
        connect(action, &QAction::triggered, this, &TFrmMain::DeleteSelectedTask);
    }
    for (QAction* action : {MITaskProperties, pmiProperties}) {
        connect(action, &QAction::triggered, this, &TFrmMain::ShowTaskProperties);
    }
}

void TFrmMain::NewTask() {
    if (RefuseTaskChange()) {
        return;
    }
    if (const auto added = taskCommands_->NewTask(this)) {
        UpdateTaskTree(*added, TTreeMode::Add);
        RootNode()->setExpanded(true); // the first task comes into a root without children
    }
}

void TFrmMain::EditTask() {
    if (SelectedNode == nullptr || RefuseTaskChange()) {
        return;
    }
    const auto edited =
        taskCommands_->EditTask(this, static_cast<std::size_t>(SelectedIndex), SelectedTask);
    if (edited) {
        SelectedTask = *edited;
        UpdateTaskTree(*edited, TTreeMode::Refresh);
    }
}

void TFrmMain::DeleteSelectedTask() {
    if (SelectedNode == nullptr || RefuseTaskChange()) {
        return;
    }
    // A copy: removing the node takes the selection, and SelectedTask with it.
    const TTaskDef selected = SelectedTask;
    if (taskCommands_->DeleteSelectedTask(this, selected) == TDeleteOutcome::Removed) {
        UpdateTaskTree(selected, TTreeMode::Remove);
    }
}

void TFrmMain::ShowTaskProperties() {
    if (SelectedNode != nullptr) {
        taskCommands_->ShowTaskProperties(this, SelectedTask);
    }
}

void TFrmMain::LoadTasks() {
    // What is read now is what the window knows: later changes are told from it.
    taskFileStamp_ = platform::FileStamp(setup_.Paths.TaskPath);
    if (!platform::FileExists(setup_.Paths.TaskPath)) {
        return;
    }
    try {
        Tasks.LoadFromFile(setup_.Paths.TaskPath);
    } catch (const platform::TIoError& error) {
        Tasks.Clear();
        ProcessTable.Rebuild(Tasks);
        UpdateTaskTree({}, TTreeMode::Rebuild);
        if (!taskFileUnreadable_) { // told once, not at every try
            taskFileUnreadable_ = true;
            MarkUnreadable(error.what());
        }
        return;
    }
    if (taskFileUnreadable_) {
        taskFileUnreadable_ = false;
        unreadableReason_.clear();
    }
    Logger->Add("Task list (re)loaded");
    ProcessTable.Rebuild(Tasks);
    UpdateTaskTree({}, TTreeMode::Rebuild);
}

// One watcher for the whole run. The directory is watched because a save replaces the file by
// renaming another over it; the file itself for a write in place.
void TFrmMain::WatchTaskFile() {
    taskFileWatcher_ = new QFileSystemWatcher(this);
    taskFileWatcher_->addPath(Qs(setup_.Paths.ProgramDir));
    if (platform::FileExists(setup_.Paths.TaskPath)) {
        taskFileWatcher_->addPath(Qs(setup_.Paths.TaskPath));
    }
    connect(taskFileWatcher_, &QFileSystemWatcher::fileChanged, this, &TFrmMain::TaskFileChanged);
    connect(taskFileWatcher_, &QFileSystemWatcher::directoryChanged, this,
            &TFrmMain::TaskFileChanged);
}

void TFrmMain::MarkUnreadable(const std::string& reason) {
    unreadableReason_ = reason;
    const QString line = QStringLiteral("The task file could not be read: ") + Qs(reason);
    Logger->Add(line.toStdString());
    setup_.Prompts.Show(this, TBoxKind::Error, line);
}

// Every change in the directory comes here (the log's lines too), so the file's stamp decides
// whether the task file is another one now before anything is read.
void TFrmMain::TaskFileChanged() {
    const QString taskPath = Qs(setup_.Paths.TaskPath);
    if (platform::FileExists(setup_.Paths.TaskPath) &&
        !taskFileWatcher_->files().contains(taskPath)) {
        taskFileWatcher_->addPath(taskPath); // a replaced file has left the watch
    }
    if (platform::FileStamp(setup_.Paths.TaskPath) == taskFileStamp_) {
        return;
    }
    if (taskFileUnreadable_) {
        if (platform::FileExists(setup_.Paths.TaskPath)) {
            LoadTasks();
        } else {
            taskFileStamp_.reset();
            taskFileUnreadable_ = false;
            unreadableReason_.clear(); // the file is gone: there are no tasks to lose
        }
        return;
    }
    taskFileStamp_ = platform::FileStamp(setup_.Paths.TaskPath);
    TTaskList loaded;
    if (taskFileStamp_) {
        try {
            loaded.LoadFromFile(setup_.Paths.TaskPath);
        } catch (const platform::TIoError&) {
            LoadTasks(); // says why, once, and refuses changes until it can be read
            return;
        }
    }
    if (loaded != Tasks) {
        TakeChangedTasks(std::move(loaded));
    }
}

// Another program saved the task list (tarvokctl, the service deleting a task): the window
// shows it as saved, the runs it follows go on, and the selection stays on its task.
void TFrmMain::TakeChangedTasks(TTaskList loaded) {
    const std::optional<std::int32_t> selected =
        SelectedNode != nullptr ? std::optional(SelectedTask.Id) : std::nullopt;
    Tasks = std::move(loaded);
    ProcessTable.Follow(Tasks);
    Logger->Add("Task list (re)loaded");
    UpdateTaskTree({}, TTreeMode::Rebuild);
    TTaskDef task;
    task.Id = selected.value_or(0);
    if (QTreeWidgetItem* node = selected ? FindTaskNode(task) : nullptr) {
        TT->setCurrentItem(node);
    }
    TTClick();
}

void TFrmMain::UpdateTaskTree(const TTaskDef& task, TTreeMode mode) {
    switch (mode) {
    case TTreeMode::Rebuild: {
        TT->setUpdatesEnabled(false);
        TT->clear();
        auto* root = new QTreeWidgetItem({QLatin1String(RootText)});
        SetNodeImage(root, TreeRootImage);
        QList<QTreeWidgetItem*> nodes;
        nodes.reserve(static_cast<qsizetype>(Tasks.Count()));
        for (std::size_t position = 0; position < Tasks.Count(); ++position) {
            nodes.append(MakeTaskNode(Tasks.GetTask(position)));
        }
        root->addChildren(nodes);
        TT->addTopLevelItem(root);
        root->setExpanded(true);
        TT->setUpdatesEnabled(true);
        break;
    }
    case TTreeMode::Add:
        RootNode()->addChild(MakeTaskNode(task));
        break;
    case TTreeMode::Refresh:
        if (QTreeWidgetItem* node = FindTaskNode(task)) {
            FillTaskNode(node, task);
            SetTaskImages(node, task.Id);
        }
        break;
    case TTreeMode::Remove:
        delete FindTaskNode(task);
        TTClick();
        break;
    }
}

QTreeWidgetItem* TFrmMain::MakeTaskNode(const TTaskDef& task) {
    auto* node = new QTreeWidgetItem;
    node->setData(0, TaskIdRole, task.Id);
    for (int line = 0; line < 3; ++line) {
        new QTreeWidgetItem(node);
    }
    for (int group = 0; group < 2; ++group) {
        auto* heading = new QTreeWidgetItem(node);
        for (int line = 0; line < (group == 0 ? 4 : 3); ++line) {
            new QTreeWidgetItem(heading);
        }
    }
    node->child(3)->setText(0, QStringLiteral("Attributes"));
    node->child(4)->setText(0, QStringLiteral("Schedule"));
    FillTaskNode(node, task);
    SetTaskImages(node, task.Id);
    return node;
}

void TFrmMain::FillTaskNode(QTreeWidgetItem* node, const TTaskDef& task) {
    const TTaskNodeTexts texts = TaskNodeTexts(task, longTimeFormat_);
    node->setText(0, texts.Caption);
    for (int line = 0; line < 3; ++line) {
        node->child(line)->setText(0, texts.Lines[static_cast<std::size_t>(line)]);
    }
    for (int line = 0; line < 4; ++line) {
        node->child(3)->child(line)->setText(0, texts.Attributes[static_cast<std::size_t>(line)]);
    }
    for (int line = 0; line < 3; ++line) {
        node->child(4)->child(line)->setText(0, texts.Schedule[static_cast<std::size_t>(line)]);
    }
}

// A task node shows whether the task's blocking run is alive, as the process table knows it;
// an edit or a new task elsewhere in the tree never wipes that mark.
void TFrmMain::SetTaskImages(QTreeWidgetItem* node, std::int32_t taskId) {
    const TTaskRunEntry* entry = ProcessTable.Find(taskId);
    SetNodeImage(node,
                 entry != nullptr && entry->ProcessId != 0 ? TreeRunningImage : TreeTaskImage);
    for (int i = 0; i < node->childCount(); ++i) {
        QTreeWidgetItem* child = node->child(i);
        SetNodeImage(child, TreeDetailImage);
        for (int j = 0; j < child->childCount(); ++j) {
            SetNodeImage(child->child(j), TreeDetailImage);
        }
    }
}

QTreeWidgetItem* TFrmMain::RootNode() const {
    return TT->topLevelItem(0);
}

QTreeWidgetItem* TFrmMain::FindTaskNode(const TTaskDef& task) const {
    const QTreeWidgetItem* root = RootNode();
    for (int i = 0; root != nullptr && i < root->childCount(); ++i) {
        if (root->child(i)->data(0, TaskIdRole).toInt() == task.Id) {
            return root->child(i);
        }
    }
    return nullptr;
}

void TFrmMain::TTClick() {
    SelectedNode = nullptr;
    const QTreeWidgetItem* root = RootNode();
    for (int i = 0; root != nullptr && i < root->childCount(); ++i) {
        if (root->child(i)->isSelected() && static_cast<std::size_t>(i) < Tasks.Count()) {
            SelectedNode = root->child(i);
            SelectedIndex = i;
            SelectedTask = Tasks.GetTask(static_cast<std::size_t>(i));
            break;
        }
    }
    const bool onTask = SelectedNode != nullptr;
    for (QAction* command : {pmiDelete, pmiEdit, pmiRun, pmiProperties, MITaskDelete, MITaskRun,
                             MITaskEdit, MITaskProperties}) {
        command->setEnabled(onTask);
    }
}

void TFrmMain::PopupTaskMenu(const QPoint& position) {
    const QList<QTreeWidgetItem*> selected = TT->selectedItems();
    if (!selected.isEmpty() && (selected.front() == RootNode() || SelectedNode != nullptr)) {
        pmTask->popup(TT->viewport()->mapToGlobal(position));
    }
}

void TFrmMain::SetNodeImage(QTreeWidgetItem* node, int index) {
    if (node != nullptr) {
        node->setIcon(0, TreeImage(index));
        node->setData(0, ImageRole, index);
    }
}

int TFrmMain::NodeImage(const QTreeWidgetItem* node) {
    return node != nullptr ? node->data(0, ImageRole).toInt() : -1;
}

void TFrmMain::NotifyRunFailed(std::int32_t taskId, const QString& text) {
    notifiedTask_ = taskId;
    TrayIcon->ShowMessage(QString::fromLatin1(ProgramName), text);
}

void TFrmMain::SetStatusLight(TActiveLight light) {
    glSvcStatus->SetActiveLight(light);
}

void TFrmMain::SetStateIcon(int index) {
    stateIconIndex_ = index;
    StateIcon = TrayImage(index);
    TrayIcon->SetIcon(StateIcon);
}

void TFrmMain::SetStatusPanel(int panel, const QString& text) {
    sbStatus.at(static_cast<std::size_t>(panel))->setText(text);
}

QString TFrmMain::StatusPanel(int panel) const {
    return sbStatus.at(static_cast<std::size_t>(panel))->text();
}

QString TFrmMain::MomentText(TDateTime moment) {
    return Qs(DateTimeText(TDateOrder::DayMonthNameYear, '-', ':', moment, " ", true));
}

bool TFrmMain::RefuseIfReadOnly() {
    if (!ReadOnly()) {
        return false;
    }
    setup_.Prompts.Show(this, TBoxKind::Error,
                        QStringLiteral("You are not a Tarvok administrator: Tarvok cannot change "
                                       "the tasks or the system log for you.\r\nAsk to be added "
                                       "to the group \"%1\", then log in again.")
                            .arg(Qs(setup_.Access.GroupName)));
    return true;
}

bool TFrmMain::RefuseTaskChange() {
    if (RefuseIfReadOnly()) {
        return true;
    }
    if (!TasksUnreadable()) {
        return false;
    }
    setup_.Prompts.Show(this, TBoxKind::Error,
                        QStringLiteral("The task file could not be read, so tasks cannot be "
                                       "changed until it can:\r\n") +
                            Qs(unreadableReason_));
    return true;
}

bool TFrmMain::SendToService(const std::string& message) {
    return !ReadOnly() && setup_.Channel.Send(message);
}

void TFrmMain::Start() {
    if (ShowAtStart) {
        show();
        return;
    }
    FormShow();
    // Never hidden into a notification area that is not there.
    if (!TrayIcon->Shown()) {
        showMinimized();
    }
}

void TFrmMain::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    FormShow();
}

void TFrmMain::FormShow() {
    TrayIcon->AddIcon();
    TT->setFocus();
    TTClick();
    if (FirstShow && ServiceMode) {
        SendToService(FormatMessage(TMessageCode::ClientConnected));
    }
    FirstShow = false;
}

void TFrmMain::WatchTray() {
    if (TrayIcon->Shown()) {
        if (!setup_.TrayAvailable() && isHidden() && !FirstShow) {
            showMinimized();
        }
        return;
    }
    TrayIcon->AddIcon();
}

void TFrmMain::HideWindow() {
    if (TrayIcon->Shown() && setup_.TrayAvailable()) {
        hide();
    } else {
        showMinimized();
    }
}

void TFrmMain::closeEvent(QCloseEvent* event) {
    if (QuitOnClose || QuitConfirmed || sessionEnding_) {
        event->accept();
        if (!ended_) {
            ended_ = true;
            emit Ended();
        }
        return;
    }
    event->ignore();
    if (isVisible() && !isMinimized()) {
        HideWindow();
    }
}

void TFrmMain::MIFileExitClick() {
    close();
}

void TFrmMain::pmTrayOpenClick() {
    showNormal();
    raise();
    activateWindow();
}

void TFrmMain::pmTrayQuitClick() {
    if (!ServiceMode && ProcessTable.FollowsAnyRun()) {
        if (!setup_.Prompts.Ask(this, QStringLiteral("There are still active blocking "
                                                     "tasks.\r\nQuit anyway?"))) {
            return;
        }
    } else if (!QuitOnClose &&
               !setup_.Prompts.Ask(this, QStringLiteral("Do you really want to quit?"))) {
        return;
    }
    QuitConfirmed = true;
    close();
}

void TFrmMain::EndSession() {
    sessionEnding_ = true;
    close();
}

void TFrmMain::ShowLogViewer() {
    MILogView->setEnabled(false);
    pmTrayViewLog->setEnabled(false);
    {
        TDlgViewLog viewer(setup_.Prompts, this);
        viewer.FileName = Qs(setup_.Paths.LogPath);
        viewer.exec();
    }
    MILogView->setEnabled(true);
    pmTrayViewLog->setEnabled(true);
}

// One window for the whole run, like the help: it follows the history file while it is shown.
// Anyone may look: it changes nothing.
void TFrmMain::ShowRunHistory(std::int32_t taskId) {
    if (runHistory_ == nullptr) {
        runHistory_ = new TFrmRunHistory(
            setup_.Paths.RunsPath,
            setup_.ReadRunOutput ? setup_.ReadRunOutput : TRunOutputReader(ReadRunOutput), this);
    }
    runHistory_->ShowTask(taskId);
    runHistory_->showNormal();
    runHistory_->raise();
    runHistory_->activateWindow();
}

void TFrmMain::ShowAboutBox() {
    miHelpAbout->setEnabled(false);
    pmTrayAbout->setEnabled(false);
    {
        TAboutBox box(this);
        box.ProgramName = QLatin1String(ProgramName);
        box.VersionLine = QStringLiteral("Version ") + ProgramVersion;
        box.exec();
    }
    miHelpAbout->setEnabled(true);
    pmTrayAbout->setEnabled(true);
}

void TFrmMain::MILogTruncateClick() {
    if (RefuseIfReadOnly() ||
        !setup_.Prompts.Ask(this, QStringLiteral("Do you really want to clear the system log?"))) {
        return;
    }
    if (ServiceMode) {
        SendToService(FormatMessage(TMessageCode::TruncateLog));
        return;
    }
    try {
        Logger->Truncate(0);
    } catch (const platform::TIoError& error) {
        setup_.Prompts.Show(this, TBoxKind::Error, Qs(error.what()));
        return;
    }
    Logger->Add("System log truncated.");
}

void TFrmMain::MITaskRunClick() {
    // A run is a command like any other: in service mode it is a request to the service, and
    // in own scheduling its lines belong in a log the user may not write.
    if (SelectedNode == nullptr || RefuseIfReadOnly()) {
        return;
    }
    Scheduler->RunTask(SelectedTask, true);
}

void TFrmMain::Contents1Click() {
    const auto missing = [this] {
        setup_.Prompts.Show(this, TBoxKind::Error,
                            QStringLiteral("Help file and/or Content file missing."));
    };
    if (!platform::FileExists(HelpPath) || !platform::FileExists(ContentsPath)) {
        missing();
        return;
    }
    if (helpWindow_ == nullptr) {
        helpWindow_ = new THelpWindow(this);
    }
    if (!helpWindow_->Load(Qs(HelpPath), Qs(ContentsPath))) {
        missing();
        return;
    }
    helpWindow_->show();
    helpWindow_->raise();
    helpWindow_->activateWindow();
}

} // namespace tarvok
