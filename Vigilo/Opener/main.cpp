// Dorvan, the opener: one command word or message text on its command line.
#include "Platform/Outlook/RemoteWindowSide.h"
#include "Platform/QtPrompt.h"
#include "Vigilo/Opener/frmOpen.h"

#include <QApplication>
#include <QTimer>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    kv::platform::UseDesktopPrompts();
    // Folder windows are the mail host's, reached over the session bus.
    kv::outlook::InstallRemoteWindowSide();
    // Another window of Dorvan may close while the main window waits in its dispatch.
    QApplication::setQuitOnLastWindowClosed(false);

    kv::dorvan::frmOpen window;
    QObject::connect(&window, &kv::dorvan::frmOpen::Unloaded, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    const QString commandLine = kv::dorvan::CommandLineOf(QCoreApplication::arguments().mid(1));
    // Dispatched once the event loop runs, so an unload during dispatch ends the program.
    QTimer::singleShot(0, &window, [&window, commandLine] { window.Start(commandLine); });
    return app.exec();
}
