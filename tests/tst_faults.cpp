// Calls to the callee's computer, every side a shipped program on a bus of its
// own, without faults and recovering from them. In each case Ann
// (127.150.<case>.2) calls Bob (127.150.<case>.3), who runs the mail host and
// the tray monitor:
//  - no fault: the form the monitor opened for the call closes when Ann leaves,
//    saving her contact; a form of another user that Bob has open takes the
//    next call; a call nobody admits rings until Ann gives up, then stops; a
//    second start of the monitor hands its Peerslip over, and the monitor
//    closes through its bus name (asking) and on logging out (not asking);
//  - the mail host is killed during a call: the caller is not held up, the
//    monitor reports the lost connection at its next poll, connects to a host
//    it starts afresh at the poll after, and the next call goes through;
//  - the monitor is killed while it rings: the call that rang ends for the
//    caller, a call to the silent computer ends with "Cannot connect to
//    specified Contact.", and a monitor started again takes calls;
//  - the network probe fails and returns: the monitor reports it, binds its
//    call port again when the network is back, and takes the next call.
// The monitor polls every PollMs here (KIVARA_MONITOR_POLL_MS) instead of 10 s.
#include "Platform/Events.h"
#include "Platform/Outlook/Outlook.h"
#include "Shared/Protocol.h"
#include "Shared/modReg.h"
#include "Shared/modUser.h"
#include "testing/Desk.h"
#include "testing/SimSession.h"

#include <QApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusReply>
#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QTest>
#include <QtEndian>
#include <csignal>

using namespace Qt::StringLiterals;
using namespace kv;
using kv::test::HostDriver;
using kv::test::SimComputer;
using kv::test::SimSession;

namespace {

constexpr int PollMs = 2000;
constexpr int CallerLineWaitMs = 5000;
constexpr int WaitMs = 60000;
// Long enough for a call's 30 s supervision to end it on the sanitizer build.
constexpr int SupervisedCallMs = 150000;
// What the caller side may take to answer while the callee's programs are gone.
constexpr int PromptAnswerMs = 15000;
constexpr short PubChat = 7;
constexpr auto CallIdle = u"4";
constexpr auto CallWaitingToEnter = u"5";

const QString WaitingForCall = u"Waiting for call..."_s;
const QString NoOutlook = u"No Outlook connection."_s;
const QString NoNetwork = u"No network available."_s;
const QString NoAnswer = u"Cannot connect to specified Contact.\r\rStatus: No answer."_s;
const QString NotAnswering = u"is not answering your call"_s;
constexpr int RingMs = 3000; // the monitor's ring interval

const QString AnnRules = u"msgbox is not answering your call => No\n"
                         "msgbox .* => OK\n"_s;
const QString BobAdmits = u"form ^Ann entering room => optEnter_0=checked; cmdFile_0\n"_s;
const QString BobRules = u"msgbox Are you sure => Yes\n"
                         "msgbox .* => OK\n"_s;

// Ann (127.150.<n>.2) and Bob (127.150.<n>.3) set up, both mail hosts and Bob's
// monitor started, a driver on each side. Bob's computer stays this process's,
// so that a case can change his registry.
struct Computers {
    Computers(int n, const QString& bobRules)
        : annIp(u"127.150.%1.2"_s.arg(n)), bobIp(u"127.150.%1.3"_s.arg(n)), annPc(annIp, u"KV-ANN"_s),
          bobPc(bobIp, u"KV-BOB"_s), ann(annPc, AnnRules), bob(bobPc, bobRules)
    {}

    void start()
    {
        annPc.activate();
        annPc.installForms();
        QCOMPARE(SaveProfile(test::UserProfile(u"Ann"_s, annIp, annPc.serialNum()), QString()), 0);
        bobPc.activate();
        bobPc.installForms();
        QCOMPARE(SaveProfile(test::UserProfile(u"Bob"_s, bobIp, bobPc.serialNum()), QString()), 0);
        WriteSetting(settings::FirstRun, u"0"_s);
        QVERIFY2(ann.startHost(), qPrintable(ann.lastError()));
        QVERIFY2(bob.startHost(), qPrintable(bob.lastError()));
        QVERIFY2(bob.startMonitor(), qPrintable(bob.lastError()));
        annSide = ann.startDriver();
        bobSide = bob.startDriver();
        QVERIFY(annSide && bobSide);
    }

    // Ann calls Bob from his contact form; Bob's monitor hands the call to Ann's
    // own contact form, whose control admits her by rule; a line reaches Ann. Then she leaves.
    void callConnects(bool leave = true)
    {
        QCOMPARE(annSide->request({u"call"_s, u"Connect"_s, bobIp, u"8086"_s}), u"ok\t0"_s);
        // Ann's own contact: new the first time, found (and named as her form saved it) afterwards.
        QVERIFY(bobSide->value({u"active"_s}).startsWith(u"Ann"_s));
        QCOMPARE(bobSide->value({u"get"_s, u"TrayOpened"_s}), u"true"_s); // opened by the monitor
        QVERIFY(bobSide->waitAlone(false));
        QVERIFY(annSide->waitAlone(false));
        QVERIFY(bobSide->ok({u"call"_s, u"DataSend"_s, QString::number(PubChat), u"Hello again"_s}));
        QVERIFY(annSide->transcriptShows(annPc.root(), u"Bob\tHello again"_s));
        if (leave) QCOMPARE(annSide->value({u"call"_s, u"Disconnect"_s, u"false"_s}), u"0"_s);
    }

    // Everything ends through the programs' own closing paths.
    void finish()
    {
        annSide.reset();
        bobSide.reset();
        QVERIFY2(bob.closeMonitor(), qPrintable(bob.lastError()));
        QVERIFY2(bob.quitHost(), qPrintable(bob.lastError())); // a host the monitor started, too
        QVERIFY2(ann.quitHost(), qPrintable(ann.lastError()));
    }

    const QString annIp, bobIp;
    SimComputer annPc, bobPc;
    SimSession ann, bob;
    std::unique_ptr<HostDriver> annSide, bobSide;
};

// The monitor's caller line, read over its bus name; empty when no monitor answers.
QString callerLine(const SimSession& s)
{
    const QDBusMessage call =
        QDBusMessage::createMethodCall(u"Kivara.Vigilo"_s, u"/Vigilo"_s, u"Kivara.Vigilo"_s, u"CallerLine"_s);
    // A bounded wait that pumps events, rather than the bus's own blocking call.
    const QDBusPendingCall pending = s.bus().asyncCall(call, CallerLineWaitMs);
    if (!platform::WaitUntil([&] { return pending.isFinished(); }, CallerLineWaitMs)) return {};
    const QDBusMessage reply = pending.reply();
    return reply.type() == QDBusMessage::ReplyMessage ? reply.arguments().value(0).toString() : QString();
}

bool callerLineIs(const SimSession& s, const QString& text)
{
    return platform::WaitUntil([&] { return callerLine(s) == text; }, WaitMs);
}

// The process that owns the mail host's bus name; 0 when none does.
uint hostPid(const SimSession& s)
{
    const QDBusReply<uint> pid = s.bus().interface()->servicePid(u"Outlook.Application"_s);
    return pid.isValid() ? pid.value() : 0;
}

// The kernel's inode of the datagram socket bound to ip:port; 0 when none is.
// A new inode is a new socket, so a rebinding shows even on the same address.
QString boundSocket(const QString& ip, int port)
{
    const quint32 a = QHostAddress(ip).toIPv4Address();
    // /proc/net/udp prints the address as the little-endian number of its bytes.
    const QString local =
        u"%1:%2"_s.arg(qFromBigEndian(a), 8, 16, QChar(u'0')).arg(port, 4, 16, QChar(u'0')).toUpper();
    QFile f(u"/proc/net/udp"_s);
    if (!f.open(QIODevice::ReadOnly)) return {};
    for (const QByteArray& line : f.readAll().split('\n')) {
        const QList<QByteArray> columns = line.simplified().split(' ');
        if (columns.size() > 9 && QString::fromLatin1(columns[1]) == local)
            return QString::fromLatin1(columns[9]);
    }
    return {};
}

qsizetype rings(const SimSession& s)
{
    return s.soundLog(u"vigilo"_s).count(u"trillo.wav"_s);
}

qsizetype prompts(const SimSession& s, const QString& text)
{
    return test::LoggedPromptTexts(s.promptLogPath()).count(text);
}

} // namespace

class TestFaults : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void withoutFaults();
    void hostKilledDuringCall();
    void monitorKilledWhileRinging();
    void networkLostAndBack();
};

void TestFaults::initTestCase()
{
    qputenv("KIVARA_MONITOR_POLL_MS", QByteArray::number(PollMs));
}

void TestFaults::withoutFaults()
{
    Computers c(4, BobAdmits + BobRules);
    c.start();
    if (QTest::currentTestFailed()) return;
    auto& [annIp, bobIp, annPc, bobPc, ann, bob, annSide, bobSide] = c;
    QCOMPARE(annSide->value({u"open"_s, u"KV-BOB"_s, u"Bob"_s, bobIp}), u"Bob"_s);
    c.callConnects();
    if (QTest::currentTestFailed()) return;
    QVERIFY(rings(bob) >= 1);
    QVERIFY(bob.promptLog().contains(u"Ann entering room"_s));

    // Bob, alone on the form the monitor opened, has it closed, which saves Ann's contact.
    QVERIFY(
        platform::WaitUntil([&] { return bobSide->request({u"active"_s}).startsWith(u"err"_s); }, WaitMs));
    const outlook::Item annCard = test::ProductFolder().Items().Find(u"[SerialNumber] = 'KV-ANN'"_s);
    QVERIFY(annCard);
    QCOMPARE(annCard.UserProperties().Find(u"LocalHost"_s).Value().toString(), annIp);
    QCOMPARE(annCard.UserProperties().Find(u"LocalPort"_s).Value().toInt(), 8086);
    QCOMPARE(annCard.Email1Address(), u"ann@example.org"_s);

    // With a form of another user open and active, that form takes the next call.
    QCOMPARE(bobSide->value({u"open"_s, u"KV-CY"_s, u"Cy"_s, u"127.150.4.4"_s}), u"Cy"_s);
    QCOMPARE(annSide->request({u"call"_s, u"Connect"_s, bobIp, u"8086"_s}), u"ok\t0"_s);
    QCOMPARE(bobSide->value({u"active"_s}), u"Cy"_s);
    QCOMPARE(bobSide->value({u"get"_s, u"TrayOpened"_s}), u"false"_s);
    QVERIFY(bobSide->waitAlone(false));
    QVERIFY(
        bobSide->ok({u"call"_s, u"DataSend"_s, QString::number(PubChat), u"You reached me on Cy's card"_s}));
    QVERIFY(annSide->transcriptShows(annPc.root(), u"Bob\tYou reached me on Cy's card"_s));
    QCOMPARE(annSide->value({u"call"_s, u"Disconnect"_s, u"false"_s}), u"0"_s);
    QVERIFY(bobSide->waitAlone(true));

    // Nobody admits Ann now: the admission stays open while the monitor rings,
    // until Ann, asked whether to keep waiting, gives up; then the ringing ends.
    bob.setRules(BobRules);
    const qsizetype before = rings(bob);
    QCOMPARE(annSide->request({u"call"_s, u"Connect"_s, bobIp, u"8086"_s}, SupervisedCallMs), u"ok\t-2"_s);
    QVERIFY(ann.promptLog().contains(NotAnswering));
    QVERIFY(bobSide->waitAlone(true)); // the admission closed on the GIVEUP
    const qsizetype rung = rings(bob);
    QVERIFY2(rung - before >= 3, qPrintable(QString::number(rung - before)));
    // No further ring after one that may have been under way.
    QVERIFY(!platform::WaitUntil([&] { return rings(bob) > rung + 1; }, 3 * RingMs));

    // A second start of the monitor without an argument ends at once; with "-m" it hands
    // the Peerslip to the running one, which adds it to the contacts.
    const auto startAgain = [&](const QStringList& arguments) {
        QProcess second;
        second.setProcessEnvironment(bob.environment());
        second.start(test::SimSession::binDir() + u"/vigilo"_s, arguments);
        return second.waitForFinished(WaitMs) && second.exitCode() == 0;
    };
    QVERIFY(startAgain({}));
    const QString slip = bobPc.root() + u"/dee.kvp"_s;
    QVERIFY(WritePeerslipFile(slip, test::UserProfile(u"Dee"_s, u"127.150.4.5"_s, u"KV-DEE"_s)));
    QVERIFY(startAgain({u"-m"_s, slip}));
    QVERIFY(platform::WaitUntil(
        [&] {
            return bob.promptLog().contains(u"The Peerslip was successfully added to your Contact folder."_s);
        },
        WaitMs));
    QVERIFY(test::ProductFolder().Items().Find(u"[SerialNumber] = 'KV-DEE'"_s));
    QCOMPARE(bob.monitor().state(), QProcess::Running);

    // The bus's Close runs the monitor's closing path: the question, then the end.
    QVERIFY2(bob.closeMonitor(), qPrintable(bob.lastError()));
    QCOMPARE(bob.monitor().exitCode(), 0);
    QVERIFY(bob.promptLog().contains(u"Are you sure you want to exit ?"_s));
    QCOMPARE(ReadSetting(u"Vigilo"_s, u"UseMonSnd"_s, QString()), u"-1"_s);
    // Logging out (SIGTERM): the same closing path, without the question, its settings written.
    QVERIFY2(bob.startMonitor(), qPrintable(bob.lastError()));
    const QStringList written{u"UseMonSnd"_s, u"MonitorSnd"_s, u"AutoAnswer"_s, u"AutoIgnore"_s};
    for (const QString& name : written)
        QCOMPARE(DeleteKeyValue(RegRoot::CurrentUser, ProductKey.toString() + u"Vigilo"_s, name), 0);
    const qsizetype asked = bob.promptLog().count(u"Are you sure"_s);
    QCOMPARE(::kill(pid_t(bob.monitor().processId()), SIGTERM), 0);
    QVERIFY(bob.monitor().waitForFinished(test::SimSession::StopWaitMs));
    QCOMPARE(bob.monitor().exitStatus(), QProcess::NormalExit);
    QCOMPARE(bob.monitor().exitCode(), 0);
    QCOMPARE(bob.promptLog().count(u"Are you sure"_s), asked);
    for (const QString& name : written)
        QVERIFY2(!ReadSetting(u"Vigilo"_s, name, QString()).isEmpty(), qPrintable(name));
    c.finish();
}

void TestFaults::hostKilledDuringCall()
{
    Computers c(1, BobAdmits + BobRules);
    c.start();
    if (QTest::currentTestFailed()) return;
    auto& [annIp, bobIp, annPc, bobPc, ann, bob, annSide, bobSide] = c;
    QVERIFY(callerLineIs(bob, WaitingForCall));

    QCOMPARE(annSide->value({u"open"_s, u"KV-BOB"_s, u"Bob"_s, bobIp}), u"Bob"_s);
    c.callConnects(false);
    if (QTest::currentTestFailed()) return;

    // Bob's mail host dies in the middle of the call, his chat control with it.
    const qint64 killed = bob.host().processId();
    QCOMPARE(hostPid(bob), uint(killed));
    bob.host().kill();
    QVERIFY(bob.host().waitForFinished(WaitMs));

    // Ann is not held up: her line goes out, and she leaves the call at once.
    annSide->post({u"call"_s, u"DataSend"_s, QString::number(PubChat), u"Bob?"_s});
    // Meanwhile Bob's monitor notices at its next poll that the host has gone ...
    QVERIFY(callerLineIs(bob, NoOutlook));
    QVERIFY(annSide->answer(PromptAnswerMs).startsWith(u"ok\t"_s));
    QCOMPARE(annSide->value({u"call"_s, u"Disconnect"_s, u"false"_s}, PromptAnswerMs), u"0"_s);
    QCOMPARE(annSide->value({u"call"_s, u"Alone"_s, u"0"_s}), u"true"_s);

    // ... and at the poll after, it connects to a host it starts afresh.
    QVERIFY(platform::WaitUntil(
        [&] {
            const uint pid = hostPid(bob);
            return pid != 0 && pid != uint(killed) && callerLine(bob) == WaitingForCall;
        },
        WaitMs));

    // The next call is handed off to the new host and connects.
    c.callConnects();
    if (QTest::currentTestFailed()) return;

    c.finish();
}

void TestFaults::monitorKilledWhileRinging()
{
    Computers c(2, BobRules); // nobody answers the admission: it stays open
    c.start();
    if (QTest::currentTestFailed()) return;
    auto& [annIp, bobIp, annPc, bobPc, ann, bob, annSide, bobSide] = c;
    auto annWatch = ann.startDriver(); // reads Ann's call state while her call runs
    QVERIFY(annWatch);
    QCOMPARE(annSide->value({u"open"_s, u"KV-BOB"_s, u"Bob"_s, bobIp}), u"Bob"_s);

    // Bob's monitor rings and has handed the call on; Bob has not answered.
    annSide->post({u"call"_s, u"Connect"_s, bobIp, u"8086"_s});
    QVERIFY(platform::WaitUntil(
        [&] { return rings(bob) >= 1 && bob.promptLog().contains(u"Ann entering room"_s); }, WaitMs));
    QCOMPARE(annWatch->value({u"active"_s}), u"Bob"_s);
    QCOMPARE(annWatch->value({u"get"_s, u"CallStatus"_s}), QString::fromUtf16(CallWaitingToEnter));
    const qsizetype rung = rings(bob);
    QVERIFY(platform::WaitUntil([&] { return rings(bob) > rung; }, WaitMs)); // still ringing

    bob.monitor().kill();
    QVERIFY(bob.monitor().waitForFinished(WaitMs));

    // The call that rang had told Ann to wait: at its supervision she is asked,
    // gives up, and her control is idle again; Bob's admission closes on that.
    QCOMPARE(annSide->answer(SupervisedCallMs), u"ok\t-2"_s);
    QVERIFY(ann.promptLog().contains(NotAnswering));
    QCOMPARE(prompts(ann, NoAnswer), 0);
    QCOMPARE(annSide->value({u"get"_s, u"CallStatus"_s}), QString::fromUtf16(CallIdle));
    QVERIFY(
        platform::WaitUntil([&] { return bobSide->request({u"active"_s}).startsWith(u"err"_s); }, WaitMs));

    // With no monitor on Bob's computer, nothing answers the next call: its
    // supervision ends it with "Cannot connect to specified Contact." and Ann is idle.
    const qsizetype asked = ann.promptLog().count(NotAnswering);
    QCOMPARE(annSide->request({u"call"_s, u"Connect"_s, bobIp, u"8086"_s}, SupervisedCallMs), u"ok\t-2"_s);
    QCOMPARE(prompts(ann, NoAnswer), 1);
    QCOMPARE(ann.promptLog().count(NotAnswering), asked);
    QCOMPARE(annSide->value({u"get"_s, u"CallStatus"_s}), QString::fromUtf16(CallIdle));

    // A monitor started again takes the next call, and Bob lets Ann in.
    bob.setRules(BobAdmits + BobRules);
    QVERIFY2(bob.startMonitor(), qPrintable(bob.lastError()));
    const qsizetype before = rings(bob);
    c.callConnects();
    if (QTest::currentTestFailed()) return;
    QVERIFY(rings(bob) > before);

    annWatch.reset();
    c.finish();
}

void TestFaults::networkLostAndBack()
{
    Computers c(3, BobAdmits + BobRules);
    c.start();
    if (QTest::currentTestFailed()) return;
    auto& [annIp, bobIp, annPc, bobPc, ann, bob, annSide, bobSide] = c;
    QVERIFY(callerLineIs(bob, WaitingForCall));
    // The start binds the call port after its first poll has shown the caller line.
    QString firstSocket;
    QVERIFY(platform::WaitUntil(
        [&] { return !(firstSocket = boundSocket(bobIp, MonitorDatagramPort)).isEmpty(); }, WaitMs));

    // The network probe of Bob's computer fails at once: no network.
    const auto setProbe = [](const QString& host) {
        WriteKeyValue(RegRoot::LocalMachine, NameServerKey.toString(), NameServerValue.toString(), host);
    };
    setProbe(u"255.255.255.255"_s);
    QVERIFY(callerLineIs(bob, NoNetwork));
    // Nothing else happens while it lasts: the call port stays as it was.
    QCOMPARE(boundSocket(bobIp, MonitorDatagramPort), firstSocket);

    // The network returns: the monitor binds its call port afresh and waits for calls again.
    setProbe(u"127.0.0.1"_s);
    QVERIFY(platform::WaitUntil(
        [&] {
            const QString socket = boundSocket(bobIp, MonitorDatagramPort);
            return !socket.isEmpty() && socket != firstSocket && callerLine(bob) == WaitingForCall;
        },
        WaitMs));

    // A new call rings and is handed off.
    QCOMPARE(annSide->value({u"open"_s, u"KV-BOB"_s, u"Bob"_s, bobIp}), u"Bob"_s);
    c.callConnects();
    if (QTest::currentTestFailed()) return;
    QVERIFY(rings(bob) >= 1);

    c.finish();
}

KV_TEST_MAIN(TestFaults)
#include "tst_faults.moc"
