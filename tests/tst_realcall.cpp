// A real call between two simulated computers, every side a shipped program on
// a bus of its own. Ann (127.120.1.2) runs the mail host; Bob (127.120.1.3)
// runs the host and the tray monitor. Ann's chat control calls Bob from his
// contact form; Bob's monitor rings and hands the call to a form in his host,
// whose control admits Ann by rule (lines between the sides are tst_endtoend's
// part). Then the call goes to a form of another user that Bob has open, and at
// last Ann gives up a call nobody answers, which ends the ringing.
#include "Platform/Events.h"
#include "Platform/Outlook/Outlook.h"
#include "Shared/modReg.h"
#include "Shared/modUser.h"
#include "testing/Desk.h"
#include "testing/SimSession.h"

#include <QApplication>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace kv;
using kv::test::HostDriver;
using kv::test::SimComputer;
using kv::test::SimSession;

namespace {

constexpr int WaitMs = 60000;
// A call waiting to enter asks the caller after 30 s whether to keep waiting.
constexpr int GiveUpWaitMs = 150000;
constexpr int RingMs = 3000; // the monitor's ring interval
const QString AnnIp = u"127.120.1.2"_s;
const QString BobIp = u"127.120.1.3"_s;
constexpr short PubChat = 7;

const QString AnnRules = u"msgbox is not answering your call => No\n"
                         "msgbox .* => OK\n"_s;
const QString BobAdmits = u"form ^Ann entering room => optEnter_0=checked; cmdFile_0\n"_s;
const QString BobRules = u"msgbox Are you sure => Yes\n"
                         "msgbox .* => OK\n"_s;

QStringList say(const QString& text)
{
    return {u"call"_s, u"DataSend"_s, QString::number(PubChat), text};
}

qsizetype rings(const SimSession& s)
{
    return s.soundLog(u"vigilo"_s).count(u"trillo.wav"_s);
}

} // namespace

class TestRealCall : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void call();
};

void TestRealCall::call()
{
    SimComputer annPc(AnnIp, u"KV-ANN"_s), bobPc(BobIp, u"KV-BOB"_s);
    for (auto [pc, name] : {std::pair{&annPc, u"Ann"_s}, {&bobPc, u"Bob"_s}}) {
        pc->activate();
        pc->installForms();
        QCOMPARE(SaveProfile(test::UserProfile(name, pc->localIp(), pc->serialNum()), QString()), 0);
    }
    WriteSetting(settings::FirstRun, u"0"_s); // Bob's monitor

    SimSession ann(annPc, AnnRules), bob(bobPc, BobAdmits + BobRules);
    for (SimSession* s : {&ann, &bob})
        QVERIFY2(s->startHost(), qPrintable(s->lastError()));
    QVERIFY2(bob.startMonitor(), qPrintable(bob.lastError()));
    auto annSide = ann.startDriver();
    auto bobSide = bob.startDriver();
    QVERIFY(annSide && bobSide);

    // Ann opens Bob's contact and calls him from its "Kivara" page.
    QCOMPARE(annSide->value({u"open"_s, u"KV-BOB"_s, u"Bob"_s, BobIp}), u"Bob"_s);
    QCOMPARE(annSide->request({u"call"_s, u"Connect"_s, BobIp, u"8086"_s}), u"ok\t0"_s);
    QVERIFY(rings(bob) >= 1);
    QVERIFY(bob.promptLog().contains(u"Ann entering room"_s));

    // Bob's monitor opened Ann's own contact form for the call (her chat name, or
    // her full name once her profile came).
    QVERIFY(bobSide->value({u"active"_s}).startsWith(u"Ann"_s));
    QCOMPARE(bobSide->value({u"get"_s, u"TrayOpened"_s}), u"true"_s);
    QVERIFY(bobSide->waitAlone(false));
    QVERIFY(annSide->waitAlone(false));

    // Ann leaves; Bob, alone on a form the monitor opened, has it closed, which saves Ann's contact.
    QCOMPARE(annSide->value({u"call"_s, u"Disconnect"_s, u"false"_s}), u"0"_s);
    QVERIFY(
        platform::WaitUntil([&] { return bobSide->request({u"active"_s}).startsWith(u"err"_s); }, WaitMs));
    const outlook::Item annCard = test::ProductFolder().Items().Find(u"[SerialNumber] = 'KV-ANN'"_s);
    QVERIFY(annCard);
    QCOMPARE(annCard.UserProperties().Find(u"LocalHost"_s).Value().toString(), AnnIp);
    QCOMPARE(annCard.UserProperties().Find(u"LocalPort"_s).Value().toInt(), 8086);
    QCOMPARE(annCard.Email1Address(), u"ann@example.org"_s);

    // With a form of another user open and active, that form takes the next call.
    QCOMPARE(bobSide->value({u"open"_s, u"KV-CY"_s, u"Cy"_s, u"127.120.1.4"_s}), u"Cy"_s);
    QCOMPARE(annSide->request({u"call"_s, u"Connect"_s, BobIp, u"8086"_s}), u"ok\t0"_s);
    QCOMPARE(bobSide->value({u"active"_s}), u"Cy"_s);
    QCOMPARE(bobSide->value({u"get"_s, u"TrayOpened"_s}), u"false"_s);
    QVERIFY(bobSide->waitAlone(false));
    QVERIFY(bobSide->ok(say(u"You reached me on Cy's card"_s)));
    QVERIFY(annSide->transcriptShows(annPc.root(), u"Bob\tYou reached me on Cy's card"_s));
    QCOMPARE(annSide->value({u"call"_s, u"Disconnect"_s, u"false"_s}), u"0"_s);
    QVERIFY(bobSide->waitAlone(true));

    // Nobody admits Ann now: the admission stays open while the monitor rings,
    // until Ann, asked whether to keep waiting, gives up.
    bob.setRules(BobRules);
    const qsizetype before = rings(bob);
    const QString answer = annSide->request({u"call"_s, u"Connect"_s, BobIp, u"8086"_s}, GiveUpWaitMs);
    // Given up while waiting to enter: the call ended without a connection.
    QCOMPARE(answer, u"ok\t-2"_s);
    QVERIFY(ann.promptLog().contains(u"is not answering your call"_s));
    QVERIFY(bobSide->waitAlone(true)); // the admission closed on the GIVEUP
    const qsizetype rung = rings(bob);
    QVERIFY2(rung - before >= 3,
             qPrintable(QString::number(rung - before))); // rang on while the admission waited
    // The ringing has ended: no further ring after one that may have been under way.
    QVERIFY(!platform::WaitUntil([&] { return rings(bob) > rung + 1; }, 3 * RingMs));

    // Everything ends through the programs' own closing paths.
    annSide.reset();
    bobSide.reset();
    QVERIFY2(bob.closeMonitor(), qPrintable(bob.lastError()));
    QCOMPARE(bob.monitor().exitCode(), 0);
    for (SimSession* s : {&bob, &ann})
        QVERIFY2(s->quitHost(), qPrintable(s->lastError()));
}

KV_TEST_MAIN(TestRealCall)
#include "tst_realcall.moc"
