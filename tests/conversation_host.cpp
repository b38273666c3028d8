// One simulated computer of the two-process conversation test: a chat control
// on a headless contact form, and a stand-in for the tray monitor on the
// monitor port that answers a HELLO as the monitor does and passes it to the
// control. Driven by commands on standard input, one a line; reports call
// states, results and dumps of its rooms on standard output.
#include "Events.h"
#include "Kivara.h"
#include "Outlook/Outlook.h"
#include "Outlook/WindowSide.h"
#include "Protocol.h"
#include "Socket.h"
#include "StoreAccess.h"

#include <QApplication>
#include <QHostAddress>
#include <QSocketNotifier>
#include <QTextEdit>
#include <QUdpSocket>
#include <cstdio>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace kv;
using namespace kv::control;

namespace {

void say(const QString& line)
{
    std::fputs(qPrintable(line + u'\n'), stdout);
    std::fflush(stdout);
}

void dump(Kivara& k)
{
    say(u"dump-begin"_s);
    for (int i = 0; i < k.rooms().count(); ++i) {
        const Room& room = k.rooms().at(i);
        say(u"room %1 %2"_s.arg(i).arg(room.tag));
        for (int n = 1; n <= room.rowCount(); ++n)
            say(u"row %1 %2|%3|%4"_s.arg(i).arg(room.row(n).name(), room.row(n).availability(), room.row(n).address()));
        const QStringList lines = room.transcript->toPlainText().split(u'\n', Qt::SkipEmptyParts);
        for (const QString& line : lines)
            say(u"line %1 %2"_s.arg(i).arg(QString(line).replace(u'\t', u"<TAB>"_s)));
    }
    say(u"dump-end"_s);
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    Kivara k;
    k.resize(640, 420);
    k.show();

    // The contact form the control sits on: a Kivara contact of the other party.
    StoreAccess access(Deliverable::Quillon);
    if (access.OpenFolder(access.folderName()) == 0) {
        const outlook::Item contact =
            access.currentFolder().Items().Add(QString::fromUtf16(outlook::KivaraContactClass));
        if (contact) k.setParentInspector(contact.GetInspector());
    }
    QObject::connect(&k, qOverload<short>(&Kivara::CallStatus), &k,
                     [](short s) { say(u"callstatus %1"_s.arg(s)); });
    if (k.ChatInit() != 0) {
        say(u"chatinit-failed"_s);
        return 3;
    }

    // The monitor's part of taking a call: answer "ringing", hand the HELLO to the control.
    QUdpSocket monitor;
    if (!monitor.bind(QHostAddress(platform::Socket::LocalIP()), quint16(MonitorDatagramPort))) {
        say(u"monitor-bind-failed"_s);
        return 4;
    }
    QObject::connect(&monitor, &QUdpSocket::readyRead, &k, [&] {
        while (monitor.hasPendingDatagrams()) {
            QByteArray d(int(monitor.pendingDatagramSize()), '\0');
            QHostAddress from;
            monitor.readDatagram(d.data(), d.size(), &from);
            const QString text = UnframeDatagram(d);
            const QStringList fields = ParseDatagram(text);
            say(u"monitor "_s + fields.value(0));
            if (fields.value(0) != QString(msg::Hello)) continue;
            monitor.writeDatagram(FrameDatagram(BuildHelloWait(k.KivaraName())), from, quint16(ChatDatagramPort));
            k.DataPass(text);
        }
    });

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QByteArray pending;
    bool quitting = false;
    QObject::connect(&input, &QSocketNotifier::activated, &k, [&] {
        char buffer[1024];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) {
            input.setEnabled(false);
            quitting = true;
            return;
        }
        pending.append(buffer, int(n));
        qsizetype end;
        while ((end = pending.indexOf('\n')) >= 0) {
            const QString line = QString::fromUtf8(pending.left(end));
            pending.remove(0, end + 1);
            const QString word = line.section(u' ', 0, 0);
            const QString arg = line.section(u' ', 1);
            if (word == u"connect"_s) {
                say(u"connect-result %1"_s.arg(k.Connect(arg, ChatDatagramPort)));
            } else if (word == u"say"_s) {
                k.findChild<QTextEdit*>(u"txtSend"_s)->setPlainText(arg);
                k.SendEntry();
                say(u"said"_s);
            } else if (word == u"room"_s) {
                k.SwitchRoom(arg.toInt());
            } else if (word == u"private"_s) {
                k.RequestPrivateRoom(arg);
            } else if (word == u"status"_s) {
                k.SetStatus(arg);
            } else if (word == u"name"_s) {
                k.ChangeUserName(arg);
            } else if (word == u"leave"_s) {
                say(u"leave-result %1"_s.arg(k.Disconnect(false)));
            } else if (word == u"dump"_s) {
                dump(k);
            } else if (word == u"quit"_s) {
                quitting = true;
            }
        }
    });
    say(u"ready"_s);
    platform::WaitUntil([&] { return quitting; }, 120000);
    return 0;
}
