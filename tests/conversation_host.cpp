// One simulated computer of the two-process conversation test: a chat control
// on a headless contact form, and a stand-in for the tray monitor on the
// monitor port that answers a HELLO as the monitor does and passes it to the
// control. Driven by commands on standard input, one a line; reports call
// states, results and dumps of its rooms on standard output.
#include "Control/Kivara.h"
#include "Platform/Events.h"
#include "Platform/Outlook/Outlook.h"
#include "Platform/Outlook/WindowSide.h"
#include "Platform/QtPrompt.h"
#include "Platform/Socket.h"
#include "Shared/Protocol.h"
#include "Shared/StoreAccess.h"
#include "testing/StdinLines.h"

#include <QApplication>
#include <QHostAddress>
#include <QTextEdit>
#include <QUdpSocket>

using namespace Qt::StringLiterals;
using namespace kv;
using namespace kv::control;
using kv::test::WriteLine;

namespace {

void dump(Kivara& k)
{
    WriteLine(u"dump-begin"_s);
    for (int i = 0; i < k.rooms().count(); ++i) {
        const Room& room = k.rooms().at(i);
        WriteLine(u"room %1 %2"_s.arg(i).arg(room.tag));
        for (int n = 1; n <= room.rowCount(); ++n)
            WriteLine(u"row %1 %2|%3|%4"_s.arg(i).arg(room.row(n).name(), room.row(n).availability(),
                                                      room.row(n).address()));
        const QStringList lines = room.transcript.toPlainText().split(u'\n', Qt::SkipEmptyParts);
        for (const QString& line : lines)
            WriteLine(u"line %1 %2"_s.arg(i).arg(QString(line).replace(u'\t', u"<TAB>"_s)));
    }
    WriteLine(u"dump-end"_s);
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    kv::platform::UseDesktopPrompts();
    Kivara k;
    k.resize(640, 420);
    k.show();

    // The contact form the control sits on: a Kivara contact of the other party.
    StoreAccess access(Deliverable::Quillon);
    if (access.OpenFolder(access.folderName()) == 0) {
        const outlook::Item contact =
            access.currentFolder().Items().Add(outlook::KivaraContactClass.toString());
        if (contact) k.setParentInspector(contact.GetInspector());
    }
    QObject::connect(&k, qOverload<short>(&Kivara::CallStatus), &k,
                     [](short s) { WriteLine(u"callstatus %1"_s.arg(s)); });
    if (k.ChatInit() != 0) {
        WriteLine(u"chatinit-failed"_s);
        return 3;
    }

    // The monitor's part of taking a call: answer "ringing", hand the HELLO to the control.
    QUdpSocket monitor;
    if (!monitor.bind(QHostAddress(platform::Socket::LocalIP()), quint16(MonitorDatagramPort))) {
        WriteLine(u"monitor-bind-failed"_s);
        return 4;
    }
    QObject::connect(&monitor, &QUdpSocket::readyRead, &k, [&] {
        while (monitor.hasPendingDatagrams()) {
            QByteArray d(int(monitor.pendingDatagramSize()), '\0');
            QHostAddress from;
            monitor.readDatagram(d.data(), d.size(), &from);
            const QString text = UnframeDatagram(d);
            const QStringList fields = ParseDatagram(text);
            WriteLine(u"monitor "_s + fields.value(0));
            if (fields.value(0) != QString(msg::Hello)) continue;
            monitor.writeDatagram(FrameDatagram(BuildHelloWait(k.KivaraName())), from,
                                  quint16(ChatDatagramPort));
            k.DataPass(text);
        }
    });

    const test::StdinLines commands([&](const QString& line) {
        const QString word = line.section(u' ', 0, 0);
        const QString arg = line.section(u' ', 1);
        if (word == u"connect"_s) {
            WriteLine(u"connect-result %1"_s.arg(k.Connect(arg, ChatDatagramPort)));
        } else if (word == u"say"_s) {
            k.findChild<QTextEdit*>(u"txtSend"_s)->setPlainText(arg);
            k.SendEntry();
            WriteLine(u"said"_s);
        } else if (word == u"room"_s) {
            k.SwitchRoom(arg.toInt());
        } else if (word == u"private"_s) {
            k.RequestPrivateRoom(arg);
        } else if (word == u"status"_s) {
            k.SetStatus(arg);
        } else if (word == u"name"_s) {
            k.ChangeUserName(arg);
        } else if (word == u"leave"_s) {
            WriteLine(u"leave-result %1"_s.arg(k.Disconnect(false)));
        } else if (word == u"dump"_s) {
            dump(k);
        } else if (word == u"quit"_s) {
            return false;
        }
        return true;
    });
    WriteLine(u"ready"_s);
    platform::WaitUntil([&] { return commands.ended(); }, 120000);
    return 0;
}
