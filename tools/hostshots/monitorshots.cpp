// monitorshots: pictures of the tray monitor for review: its window, its
// pop-up menu and each page of its options dialog, saved as PNGs into the
// folder given. Runs the monitor in this process beside the mail host's
// windows, in the current environment (set up by kvsetup beforehand).
//   monitorshots <output folder>
#include "MailHost/HostWindowSide.h"
#include "Platform/Events.h"
#include "Platform/Outlook/Store.h"
#include "Platform/QtPrompt.h"
#include "Shared/modReg.h"
#include "Vigilo/Monitor/frmTray.h"
#include "tools/hostshots/Shoot.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QTimer>

using namespace Qt::StringLiterals;
using namespace kv::outlook;

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    kv::platform::UseDesktopPrompts();
    const QString out = PrepareShots(argc, argv);
    kv::WriteSetting(kv::settings::FirstRun, u"0"_s);
    auto side = std::make_shared<kv::host::HostWindowSide>(DefaultStorePath());
    WindowSide::install(side);

    // The monitor: its window, its pop-up menu and its options dialog, each page.
    {
        kv::vigilo::frmTray tray;
        if (tray.Load(QString())) {
            tray.ShowMonitor();
            shoot(&tray, out + u"/monitor.png"_s);
            QMenu* menu = tray.popupMenu();
            menu->popup(tray.mapToGlobal(QPoint(40, 40)));
            shoot(menu, out + u"/monitor-menu.png"_s);
            menu->hide();
            // The network check's window once its findings are in.
            menu->findChild<QAction*>(u"mnuNetworkCheck"_s)->trigger();
            auto* check = tray.findChild<QDialog*>(u"frmNetworkCheck"_s);
            if (check && kv::platform::WaitUntil([&] { return check->cursor().shape() != Qt::BusyCursor; }, 10000))
                shoot(check, out + u"/network-check.png"_s);
            if (check) check->close();
            QTimer watch; // shoots the dialog's three pages once it is up, then closes it
            QObject::connect(&watch, &QTimer::timeout, [&] {
                QWidget* dialog = QApplication::activeModalWidget();
                auto* strip = dialog ? dialog->findChild<QLabel*>(u"imgTab"_s) : nullptr;
                if (!strip) return;
                watch.stop();
                // A press in the middle of each tab of the strip (in twips from its left edge).
                const int middles[] = {600, 1580, 2230};
                for (int i = 0; i < 3; ++i) {
                    const QPoint at(middles[i] * strip->logicalDpiX() / 1440, strip->height() / 2);
                    QMouseEvent press(QEvent::MouseButtonPress, at, strip->mapToGlobal(at), Qt::LeftButton,
                                      Qt::LeftButton, Qt::NoModifier);
                    QApplication::sendEvent(strip, &press);
                    shoot(dialog, out + u"/monitor-options-%1.png"_s.arg(i + 1));
                }
                dialog->close();
            });
            watch.start(200);
            tray.ShowOptions();
        }
    }

    side->closeAll();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    WindowSide::install(nullptr);
    return 0;
}
