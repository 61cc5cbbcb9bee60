// The manager program: one instance per machine at a time, living in the notification area.
//
//   tarvok [-m] [-d]
//     -m  closing the window ends the program (without it, closing hides the window)
//     -d  the window shows at start (without it, only the notification-area icon does)
#include "manager/Channel.h"
#include "manager/Main.h"
#include "manager/Prompts.h"
#include "platform/Files.h"
#include "platform/StopSignal.h"
#include "shared/Clock.h"
#include "shared/Glob.h"
#include "shared/MailSlot.h"
#include "shared/Protocol.h"

#include <QApplication>
#include <QSessionManager>
#include <QSocketNotifier>
#include <QSystemTrayIcon>
#include <memory>

using namespace tarvok;

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    // Hidden into the notification area the program has no window open, and a dialog opened
    // from there closing must not end it: only the main window's end does.
    QApplication::setQuitOnLastWindowClosed(false);
    TPrompts& prompts = DesktopPrompts();

    // Held only while starting, so that two managers started together never both go on. A user
    // who cannot reach the slots goes on unguarded: only administrators can hold one.
    auto starting = std::make_unique<TMailSlot>(StartingSlotName);
    if (starting->InUse()) {
        prompts.Show(nullptr, TBoxKind::Information,
                     QStringLiteral("There is another instance of tarvok in the startup phase."));
        return 0;
    }
    QCoreApplication::setApplicationName(QString::fromLatin1(TFrmMain::ProgramName));

    const std::unique_ptr<TManagerChannel> channel = SlotChannel();
    const TSystemClock clock;
    QStringList arguments = QApplication::arguments();
    arguments.removeFirst();
    std::vector<std::string> options;
    for (const QString& argument : arguments) {
        options.push_back(argument.toStdString());
    }
    TFrmMain window({.Clock = clock,
                     .Prompts = prompts,
                     .Channel = *channel,
                     .Paths = ProgramPaths(),
                     .ProgramFile = platform::ProgramFile(),
                     .PlatformKind = GetWinPlatform(),
                     .Arguments = std::move(options),
                     .TrayAvailable = [] { return QSystemTrayIcon::isSystemTrayAvailable(); },
                     .Access = UserAccessTo(ProgramPaths().ProgramDir)});
    if (!window.InstanceOk) {
        return 0;
    }
    starting.reset();

    QObject::connect(&window, &TFrmMain::Ended, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    // Ending the desktop session, or being told to stop, ends the program as a confirmed
    // shutdown does, with its closing log lines; the hide-on-close rule never holds it up.
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &window,
                     [&window](QSessionManager&) { window.EndSession(); });
    std::unique_ptr<QSocketNotifier> stopRequests;
    if (const int descriptor = platform::StopRequestDescriptor(); descriptor >= 0) {
        stopRequests = std::make_unique<QSocketNotifier>(descriptor, QSocketNotifier::Read);
        QObject::connect(stopRequests.get(), &QSocketNotifier::activated, &window,
                         [&window, &stopRequests] {
                             // Once is enough: the descriptor stays readable from now on.
                             stopRequests->setEnabled(false);
                             window.EndSession();
                         });
    }

    window.Start();
    return QApplication::exec();
}
