// Renders the task editor, the schedule editor, the task properties and the directory chooser
// with a sample task into PNG files, for the help and the README:
//
//   editor_screenshots manager/help             # at 100 %, the help's pictures
//   QT_SCALE_FACTOR=2 editor_screenshots /tmp/x  # at 200 %
//
// The task lies on a share //fs1/sales, imitated by a directory and a recorded mount table, so
// the pictures are the same on every machine.
#include "manager/Edit.h"
#include "manager/Prompts.h"
#include "manager/SchedEd.h"
#include "manager/TaskProp.h"
#include "manager/UncDirs.h"
#include "shared/PathView.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileSystemModel>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>
#include <cstdio>

namespace {

using namespace tarvok;

class TSampleShare final : public TPathView {
public:
    explicit TSampleShare(std::string mountPoint) : mountPoint_(std::move(mountPoint)) {}
    std::vector<platform::TMount> Mounts() const override {
        return platform::ParseMountTable("1 0 254:0 / / rw - ext4 /dev/vda rw\n"
                                         "40 1 0:40 / " +
                                         mountPoint_ + " rw - cifs //fs1/sales rw\n");
    }

private:
    std::string mountPoint_;
};

class TNoPrompts final : public TPrompts {
public:
    void Show(QWidget*, TBoxKind, const QString&) override {}
    bool Ask(QWidget*, const QString&) override { return false; }
    std::optional<QString> OpenFile(QWidget*, const TOpenFileRequest&) override { return {}; }
    std::optional<QString> SaveFile(QWidget*, const TSaveFileRequest&) override { return {}; }
};

TTaskDef SampleTask() {
    TTaskDef task = TTaskDef::New();
    task.Id = 3;
    task.Name = "Sales report";
    task.Command = "//fs1/sales/scripts/report.sh";
    task.Parameters = "--month last --to 'Sales team'";
    task.WorkDir = "//fs1/sales/reports";
    task.Enabled = true;
    task.Blocking = true;
    task.Priority = 3;
    TScheDef& s = task.Schedule;
    s.Frequency = TFrequency::Weekly;
    s.WeeklyEvery = 1;
    s.WeekDays = 0b0010001;
    s.Trigger = TTrigger::Periodic;
    s.EveryCount = 30;
    s.EveryUnit = TEveryUnit::Minutes;
    s.BetweenStart = EncodeTime(8, 0);
    s.BetweenEnd = EncodeTime(18, 0);
    s.NoEnd = true;
    s.StartDate = EncodeDate(2026, 3, 2);
    return task;
}

bool Save(QWidget& dialog, const QString& file) {
    dialog.show();
    QCoreApplication::processEvents();
    const bool saved = dialog.grab().save(file);
    dialog.hide();
    std::printf("%s %s\n", saved ? "wrote" : "could not write", qPrintable(file));
    return saved;
}

// The tree reads directories in the background; the picture waits until it has.
void WaitForTree(TDlgDirSelect& chooser) {
    auto* model = qobject_cast<QFileSystemModel*>(chooser.lbDir->model());
    QEventLoop loop;
    QObject::connect(model, &QFileSystemModel::directoryLoaded, &loop, &QEventLoop::quit);
    QTimer::singleShot(3000, &loop, &QEventLoop::quit);
    loop.exec();
    chooser.lbDir->expandAll();
    QCoreApplication::processEvents();
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: editor_screenshots DIRECTORY\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    QTemporaryDir share;
    for (const char* directory : {"archive", "reports/2026", "scripts"}) {
        QDir(share.path()).mkpath(QString::fromLatin1(directory));
    }
    const TSampleShare paths(share.path().toStdString());
    TNoPrompts prompts;
    const TFixedClock clock(EncodeDate(2026, 3, 10) + EncodeTime(9, 41));

    TDlgEdit editor(prompts, clock, paths);
    editor.Task = SampleTask();
    bool saved = Save(editor, out.filePath(QStringLiteral("task-editor.png")));

    TDlgTaskEd schedule(prompts, clock);
    schedule.Schedule = SampleTask().Schedule;
    schedule.TaskName = QString::fromStdString(SampleTask().Name);
    saved = Save(schedule, out.filePath(QStringLiteral("schedule-editor.png"))) && saved;

    TDlgTaskProps properties(clock);
    properties.Task = SampleTask();
    saved = Save(properties, out.filePath(QStringLiteral("task-properties.png"))) && saved;

    TDlgDirSelect chooser(prompts, paths);
    chooser.Directory = QStringLiteral("//fs1/sales/reports");
    chooser.show();
    WaitForTree(chooser);
    saved = Save(chooser, out.filePath(QStringLiteral("directory-chooser.png"))) && saved;
    return saved ? 0 : 1;
}
