// Three computers in one call, every side a shipped program on a bus of its
// own. Cy (127.145.1.4) runs the mail host and the tray monitor; Ann (.2) and
// Bob (.3) run the mail host and call Cy from his contact form, one after the
// other, into the same public room. Lines reach everybody; ignoring and
// removing someone, a private room, new names and availabilities all act
// across the processes; leaving cleans up every side, and what the callers'
// forms showed of Cy is saved with his contact.
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

const QString AnnIp = u"127.145.1.2"_s;
const QString BobIp = u"127.145.1.3"_s;
const QString CyIp = u"127.145.1.4"_s;
constexpr short PubChat = 7;
constexpr short PriChat = 8;

const QString CallerRules = u"msgbox .* => OK\n"_s;
const QString CyRules = u"form entering room => optEnter_0=checked; cmdFile_0\n"
                        "msgbox ^Disconnect 'Robert' \\? => Yes\n"
                        "msgbox Are you sure => Yes\n"
                        "msgbox .* => OK\n"_s;

QStringList say(const QString& text)
{
    return {u"call"_s, u"DataSend"_s, QString::number(PubChat), text};
}

QStringList command(const QString& line)
{
    return {u"call"_s, u"RunCommandLine"_s, line};
}

} // namespace

class TestEndToEnd : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void threeComputers();
};

void TestEndToEnd::threeComputers()
{
    SimComputer annPc(AnnIp, u"KV-ANN"_s), bobPc(BobIp, u"KV-BOB"_s), cyPc(CyIp, u"KV-CY"_s);
    for (auto [pc, name] : {std::pair{&annPc, u"Ann"_s}, {&bobPc, u"Bob"_s}, {&cyPc, u"Cy"_s}}) {
        pc->activate();
        pc->installForms();
        QCOMPARE(SaveProfile(test::UserProfile(name, pc->localIp(), pc->serialNum()), QString()), 0);
        if (pc == &annPc) WriteSetting(settings::EnterMsg, u"Hello from Ann"_s); // her greeting on entering
    }
    WriteSetting(settings::FirstRun, u"0"_s); // Cy's monitor

    SimSession ann(annPc, CallerRules), bob(bobPc, CallerRules), cy(cyPc, CyRules);
    for (SimSession* s : {&ann, &bob, &cy})
        QVERIFY2(s->startHost(), qPrintable(s->lastError()));
    QVERIFY2(cy.startMonitor(), qPrintable(cy.lastError()));
    auto annSide = ann.startDriver();
    auto bobSide = bob.startDriver();
    auto cySide = cy.startDriver();
    QVERIFY(annSide && bobSide && cySide);
    const QString annDir = annPc.root(), bobDir = bobPc.root(), cyDir = cyPc.root();

    // Ann calls Cy; his monitor opens her contact form for the call, which admits her.
    QCOMPARE(annSide->value({u"open"_s, u"KV-CY"_s, u"Cy"_s, CyIp}), u"Cy"_s);
    QCOMPARE(annSide->request({u"call"_s, u"Connect"_s, CyIp, u"8086"_s}), u"ok\t0"_s);
    // Her form shows her chat name, or her full name once her profile came.
    QVERIFY(cySide->value({u"active"_s}).startsWith(u"Ann"_s));
    QVERIFY(cySide->waitAlone(false));
    QVERIFY(cySide->transcriptShows(cyDir, u"Ann\tHello from Ann"_s));
    // Bob calls Cy too: the call goes to the form Cy has open, into the same room.
    QCOMPARE(bobSide->value({u"open"_s, u"KV-CY"_s, u"Cy"_s, CyIp}), u"Cy"_s);
    QCOMPARE(bobSide->request({u"call"_s, u"Connect"_s, CyIp, u"8086"_s}), u"ok\t0"_s);
    QVERIFY(cy.promptLog().contains(u"Bob entering room"_s));
    QVERIFY(cySide->value({u"active"_s}).startsWith(u"Ann"_s));

    // Every line reaches the two others: Bob learnt of Ann from the room list,
    // Ann of Bob from Cy's announcement.
    QVERIFY(bobSide->ok(say(u"Hello everyone"_s)));
    QVERIFY(annSide->ok(say(u"Hi Bob, hi Cy"_s)));
    QVERIFY(cySide->ok(say(u"Welcome, both of you"_s)));
    QVERIFY(annSide->transcriptShows(annDir, u"Bob\tHello everyone"_s));
    QVERIFY(cySide->transcriptShows(cyDir, u"Bob\tHello everyone"_s));
    QVERIFY(bobSide->transcriptShows(bobDir, u"Ann\tHi Bob, hi Cy"_s));
    QVERIFY(cySide->transcriptShows(cyDir, u"Ann\tHi Bob, hi Cy"_s));
    QVERIFY(annSide->transcriptShows(annDir, u"Cy\tWelcome, both of you"_s));
    QVERIFY(bobSide->transcriptShows(bobDir, u"Cy\tWelcome, both of you"_s));

    // Cy ignores Ann: her lines no longer show at Cy, his no longer go to her;
    // Bob, who hears both, is the witness. A datagram sent before Bob's answer
    // has been handled by the time Bob's answer shows.
    QCOMPARE(cySide->value(command(u"/ignore Ann"_s)), u"true"_s);
    QVERIFY(annSide->ok(say(u"Cy, are you there?"_s)));
    QVERIFY(bobSide->transcriptShows(bobDir, u"Ann\tCy, are you there?"_s));
    QVERIFY(bobSide->ok(say(u"Ann is asking for you, Cy"_s)));
    QVERIFY(cySide->transcriptShows(cyDir, u"Bob\tAnn is asking for you, Cy"_s));
    QVERIFY(!cySide->transcript(cyDir).contains(u"Cy, are you there?"_s));
    QVERIFY(cySide->ok(say(u"Bob, only you can read this"_s)));
    QVERIFY(bobSide->transcriptShows(bobDir, u"Cy\tBob, only you can read this"_s));
    QVERIFY(bobSide->ok(say(u"Ann, Cy is busy"_s)));
    QVERIFY(annSide->transcriptShows(annDir, u"Bob\tAnn, Cy is busy"_s));
    QVERIFY(!annSide->transcript(annDir).contains(u"only you can read this"_s));
    // The same command again lets her back in.
    QCOMPARE(cySide->value(command(u"/ignore Ann"_s)), u"true"_s);
    QVERIFY(annSide->ok(say(u"Let me back in"_s)));
    QVERIFY(cySide->transcriptShows(cyDir, u"Ann\tLet me back in"_s));

    // Ann opens a private room with Bob; its lines stay between the two.
    QCOMPARE(annSide->value(command(u"/msg Bob"_s)), u"true"_s);
    QVERIFY(annSide->transcriptShows(annDir, u"Now chatting in Bob's private room..."_s));
    QVERIFY(bobSide->transcriptShows(bobDir, u"Now chatting in Ann's private room..."_s));
    QVERIFY(annSide->ok({u"call"_s, u"DataSend"_s, QString::number(PriChat), u"Just between us"_s}));
    QVERIFY(bobSide->transcriptShows(bobDir, u"Ann\tJust between us"_s));

    // Name and availability changes made with a private room in front reach
    // every room of every side, the public room of Cy included.
    QCOMPARE(bobSide->value({u"call"_s, u"ChangeUserName"_s, u"Robert"_s}), u"0"_s);
    QVERIFY(annSide->transcriptShows(annDir, u"[Bob]\tchanged Chat Name to 'Robert'."_s));
    QVERIFY(cySide->transcriptShows(cyDir, u"[Bob]\tchanged Chat Name to 'Robert'."_s));
    QVERIFY(bobSide->ok(say(u"Call me Robert now"_s)));
    QVERIFY(cySide->transcriptShows(cyDir, u"Robert\tCall me Robert now"_s));
    QVERIFY(annSide->ok({u"call"_s, u"SetStatus"_s, u"On the Phone"_s}));
    QVERIFY(bobSide->transcriptShows(bobDir, u"[Ann]\thas changed status to 'On the Phone'."_s));
    QVERIFY(cySide->transcriptShows(cyDir, u"[Ann]\thas changed status to 'On the Phone'."_s));

    // Ann leaves the private room: it closes on her side, and on Bob's on her word,
    // which finds him only if her room took his new name as its row did.
    QCOMPARE(annSide->value(command(u"/part"_s)), u"true"_s);
    QVERIFY(bobSide->transcriptShows(bobDir, u"Bob\tHello everyone"_s)); // the public room is in front again
    QVERIFY(!bobSide->transcript(bobDir).contains(u"Just between us"_s));
    QVERIFY(annSide->transcript(annDir).contains(u"[Bob]\tchanged Chat Name to 'Robert'."_s));

    // Cy's new name and availability reach both callers' rooms and the contact
    // their forms show.
    QCOMPARE(cySide->value({u"call"_s, u"ChangeUserName"_s, u"Cyrus"_s}), u"0"_s);
    QVERIFY(cySide->ok({u"call"_s, u"SetStatus"_s, u"Be Right Back"_s}));
    for (auto [side, dir] : {std::pair{annSide.get(), annDir}, {bobSide.get(), bobDir}}) {
        QVERIFY(side->transcriptShows(dir, u"[Cy]\tchanged Chat Name to 'Cyrus'."_s));
        QVERIFY(side->transcriptShows(dir, u"[Cyrus]\thas changed status to 'Be Right Back'."_s));
    }

    // Cy removes Robert from the call: everybody reads why, Ann drops him and
    // he drops Cy, so his next line reaches nobody.
    QCOMPARE(cySide->value(command(u"/kick Robert"_s)), u"true"_s);
    QVERIFY(cy.promptLog().contains(u"Disconnect 'Robert' ?"_s));
    QVERIFY(annSide->transcriptShows(annDir, u"Cyrus\tdisconnected Robert"_s));
    QVERIFY(bobSide->transcriptShows(bobDir, u"Cyrus\tdisconnected Robert"_s));
    QVERIFY(bobSide->ok(say(u"Am I still here?"_s)));
    QVERIFY(annSide->ok(say(u"Robert has gone"_s)));
    QVERIFY(cySide->transcriptShows(cyDir, u"Ann\tRobert has gone"_s));
    QVERIFY(!cySide->transcript(cyDir).contains(u"Am I still here?"_s));
    QVERIFY(!annSide->transcript(annDir).contains(u"Am I still here?"_s));

    // Leaving cleans up every side: Bob leaves; Ann's whole mail host quits mid-call,
    // and her form leaves as it closes, closing the private room Cy opened with her
    // (Alone holds only with no private room left). Cy's form took Bob's call while
    // open, so it counts as opened by Cy and stays open when he is left alone.
    QCOMPARE(bobSide->value({u"call"_s, u"Disconnect"_s, u"false"_s}), u"0"_s);
    QVERIFY(bobSide->waitAlone(true));
    QCOMPARE(bobSide->value({u"get"_s, u"CallStatus"_s}), u"4"_s); // idle, ready to call again
    QCOMPARE(cySide->value(command(u"/msg Ann"_s)), u"true"_s);
    QVERIFY(cySide->transcriptShows(cyDir, u"Now chatting in Ann's private room..."_s));
    annSide.reset();
    QVERIFY2(ann.quitHost(), qPrintable(ann.lastError()));
    QVERIFY(cySide->waitAlone(true));
    QCOMPARE(cySide->value({u"get"_s, u"TrayOpened"_s}), u"false"_s);
    QCOMPARE(cySide->value({u"get"_s, u"CallStatus"_s}), u"4"_s); // idle

    // The caller's form saved what it was told of Cy.
    for (HostDriver* side : {bobSide.get(), cySide.get()})
        QVERIFY(side->ok({u"close"_s}));
    QCOMPARE(bobSide->value({u"stored"_s, u"KV-CY"_s, u"QuillonName"_s}), u"Cyrus"_s);
    QCOMPARE(bobSide->value({u"stored"_s, u"KV-CY"_s, u"UserStatus"_s}), u"Be Right Back"_s);
    // Cy's form saved Ann's contact with her last availability.
    QCOMPARE(cySide->value({u"stored"_s, u"KV-ANN"_s, u"LocalHost"_s}), AnnIp);
    QCOMPARE(cySide->value({u"stored"_s, u"KV-ANN"_s, u"UserStatus"_s}), u"On the Phone"_s);

    bobSide.reset();
    cySide.reset();
    QVERIFY2(cy.closeMonitor(), qPrintable(cy.lastError()));
    for (SimSession* s : {&bob, &cy})
        QVERIFY2(s->quitHost(), qPrintable(s->lastError()));
}

KV_TEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
