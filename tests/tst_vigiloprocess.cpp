// The shipped monitor as a program in a simulated computer (127.80.30.2) on a
// private session bus, with scripted prompts: it answers a caller played at
// the protocol level (127.80.30.3), carries a second start's Peerslip argument
// out while it keeps running, ignores a second start without one, closes
// through its bus name, and on logging out (SIGTERM) closes without asking,
// its settings written. The shipped monitor storing a left message is
// tst_uninstallprocess's.
#include "Platform/Events.h"
#include "Platform/Outlook/Outlook.h"
#include "Shared/Protocol.h"
#include "Shared/modReg.h"
#include "Shared/modUser.h"
#include "testing/Desk.h"
#include "testing/SimSession.h"

#include <QApplication>
#include <QDBusConnectionInterface>
#include <QFile>
#include <QNetworkDatagram>
#include <QProcess>
#include <QTest>
#include <QUdpSocket>
#include <csignal>

using namespace Qt::StringLiterals;
using namespace kv;
namespace ol = kv::outlook;

namespace {

constexpr int WaitMs = 15000;
const QString MonitorIp = u"127.80.30.2"_s;
const QString CallerIp = u"127.80.30.3"_s;

QString binary(const QString& name)
{
    return test::SimSession::binDir() + u'/' + name;
}

} // namespace

class TestVigiloProcess : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void monitorProgram();
};

void TestVigiloProcess::monitorProgram()
{
    test::SimComputer computer(MonitorIp, u"KV-ANN"_s);
    computer.activate();
    computer.installForms();
    WriteSetting(settings::FirstRun, u"0"_s);
    QCOMPARE(SaveProfile(test::UserProfile(u"Ann"_s, MonitorIp, u"KV-ANN"_s), QString()), 0);

    // A private session bus for this computer, the monitor on it.
    test::SimSession session(computer, u"msgbox Are you sure => Yes\n"_s);
    QVERIFY2(session.startMonitor(), qPrintable(session.lastError()));
    QProcess& monitor = session.monitor();
    const QProcessEnvironment env = session.environment();

    QUdpSocket caller;
    QVERIFY(caller.bind(QHostAddress(CallerIp), quint16(ChatDatagramPort)));
    const UserRecord bob{u"Bob"_s,  u"Available"_s, u"bob@example.org"_s, CallerIp, u"hi"_s, u"KV-BOB"_s,
                         QString(), u"1"_s};
    // Ringing: the monitor answers the scrambled HELLO with a scrambled HELLOWAIT (repeated while it starts).
    QString answer;
    QVERIFY(platform::WaitUntil(
        [&] {
            if (caller.hasPendingDatagrams()) {
                answer = UnframeDatagram(caller.receiveDatagram().data());
                return true;
            }
            caller.writeDatagram(FrameDatagram(BuildHello(bob)), QHostAddress(MonitorIp),
                                 quint16(MonitorDatagramPort));
            platform::WaitUntil([&] { return caller.hasPendingDatagrams(); }, 200);
            return false;
        },
        WaitMs));
    QCOMPARE(answer, u"HELLOWAIT|Ann"_s);
    QVERIFY(
        platform::WaitUntil([&] { return session.soundLog(u"vigilo"_s).contains(u"trillo.wav"_s); }, WaitMs));

    // A second start without an argument ends at once; with "-m" it hands the Peerslip to the running one.
    QProcess second;
    second.setProcessEnvironment(env);
    second.start(binary(u"vigilo"_s), {});
    QVERIFY(second.waitForFinished(WaitMs));
    QCOMPARE(second.exitCode(), 0);
    ProfileRecord cy;
    cy.ChatName = u"Cy"_s;
    cy.FullName = u"Cy Example"_s;
    cy.IPAddress = u"127.80.30.4"_s;
    cy.SerialNum = u"KV-CY"_s;
    const QString slip = computer.root() + u"/cy.kvp"_s;
    QVERIFY(WritePeerslipFile(slip, cy));
    second.start(binary(u"vigilo"_s), {u"-m"_s, slip});
    QVERIFY(second.waitForFinished(WaitMs));
    QCOMPARE(second.exitCode(), 0);
    QVERIFY(platform::WaitUntil(
        [&] {
            return session.promptLog().contains(
                u"The Peerslip was successfully added to your Contact folder."_s);
        },
        WaitMs));
    const ol::NameSpace mapi = ol::Application::GetObject().GetNamespace(u"MAPI"_s);
    QVERIFY(mapi.Folders()
                .Item(u"Personal Folders"_s)
                .Folders()
                .Item(u"Kivara"_s)
                .Items()
                .Find(u"[SerialNumber] = 'KV-CY'"_s));
    QCOMPARE(monitor.state(), QProcess::Running);

    // The bus's Close runs the normal closing path: the question, then the end.
    QVERIFY2(session.closeMonitor(), qPrintable(session.lastError()));
    QCOMPARE(monitor.exitCode(), 0);
    QVERIFY(session.promptLog().contains(u"Are you sure you want to exit ?"_s));
    QCOMPARE(ReadSetting(u"Vigilo"_s, u"UseMonSnd"_s, QString()), u"-1"_s);

    // Logging out: the same closing path, without the question.
    QVERIFY2(session.startMonitor(), qPrintable(session.lastError()));
    const QStringList written{u"UseMonSnd"_s, u"MonitorSnd"_s, u"AutoAnswer"_s, u"AutoIgnore"_s};
    for (const QString& name : written)
        QCOMPARE(DeleteKeyValue(RegRoot::CurrentUser, ProductKey.toString() + u"Vigilo"_s, name), 0);
    const qsizetype asked = session.promptLog().count(u"Are you sure"_s);
    QCOMPARE(::kill(pid_t(monitor.processId()), SIGTERM), 0);
    QVERIFY(monitor.waitForFinished(test::SimSession::StopWaitMs));
    QCOMPARE(monitor.exitStatus(), QProcess::NormalExit);
    QCOMPARE(monitor.exitCode(), 0);
    QCOMPARE(session.promptLog().count(u"Are you sure"_s), asked);
    for (const QString& name : written)
        QVERIFY2(!ReadSetting(u"Vigilo"_s, name, QString()).isEmpty(), qPrintable(name));

    // The monitor started the mail host to hand the call over; it outlives the monitor.
    QVERIFY(session.bus().interface()->isServiceRegistered(u"Outlook.Application"_s).value());
    QVERIFY2(session.quitHost(), qPrintable(session.lastError()));
}

KV_TEST_MAIN(TestVigiloProcess)
#include "tst_vigiloprocess.moc"
