#include "MailHost/Host.h"

#include "MailHost/ExplorerWindow.h"
#include "MailHost/HostBus.h"
#include "MailHost/HostWindowSide.h"
#include "MailHost/Log.h"
#include "Platform/Outlook/Store.h"
#include "Platform/SessionEnd.h"

#include <QApplication>
#include <QDBusConnection>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace kv::host {

namespace {
// How often the host checks that its bus is still there; without it no
// caller can reach it, and a host started for automation would linger.
constexpr int BusCheckMs = 2000;
} // namespace

int Run(bool embedding)
{
    auto side = std::make_shared<HostWindowSide>(DefaultStorePath());
    WindowSide::install(side);
    // Logging out: nothing typed into a form is lost, and nobody is asked.
    // Taken over before the bus name, so that whoever finds the host can end it so.
    platform::SessionEnd sessionEnd;
    QObject::connect(&sessionEnd, &platform::SessionEnd::ending, [&side] {
        for (const QString& why : side->saveChanges())
            qCWarning(lcHost, "a form could not be saved: %s", qUtf8Printable(why));
        QCoreApplication::exit(0);
    });

    HostBus hostBus;
    QString why;
    const bool onBus = hostBus.start(&why);
    if (!onBus) {
        qCWarning(lcHost, "%s", qUtf8Printable(why));
        // A second instance leaves the running one alone.
        if (QDBusConnection::sessionBus().isConnected()) {
            WindowSide::install(nullptr);
            return 1;
        }
    }

    // Started for automation, the program lives while callers may come back;
    // started by a person, it ends with its last window.
    QApplication::setQuitOnLastWindowClosed(!embedding);
    if (!embedding) {
        const NameSpace ns = side->application().GetNamespace(u"MAPI"_s);
        MAPIFolder root = ns.Folders().Item(PersonalFoldersName.toString());
        if (!root) root = ns.Folders().Item(1);
        if (root) {
            const auto explorer = root.GetExplorer(0);
            if (explorer) explorer->Display();
        } else {
            qCWarning(lcHost, "%s", qUtf8Printable(Err().Description));
        }
    }

    QTimer busCheck;
    if (onBus) {
        QObject::connect(&busCheck, &QTimer::timeout, [] {
            if (!QDBusConnection::sessionBus().isConnected()) QCoreApplication::exit(0);
        });
        busCheck.start(BusCheckMs);
    }

    const int code = QApplication::exec();
    side->closeAll();
    // Windows must go before the application object does.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    WindowSide::install(nullptr);
    return code;
}

} // namespace kv::host
