// Calls and inbound handling of the chat control in one simulated computer
// (127.51.<case>.2) with the other parties played at the protocol level on
// 127.51.<case>.3 and .4: placing, supervising and cancelling calls, the
// admission dialog, and the handlers of the message catalogue.
#include "Control/Kivara.h"
#include "Control/frmEntry.h"
#include "Platform/Ansi.h"
#include "Platform/Events.h"
#include "Platform/HostLookup.h"
#include "Platform/Outlook/Outlook.h"
#include "Platform/Socket.h"
#include "Shared/Protocol.h"
#include "Shared/StoreAccess.h"
#include "Shared/modMisc.h"
#include "Shared/modReg.h"
#include "testing/CallPeer.h"
#include "testing/Desk.h"
#include "testing/FormCheck.h"
#include "testing/LogCapture.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;
using namespace kv;
using namespace kv::control;
using kv::test::CallPeer;
using kv::test::PartyRecord;
using kv::test::PriChatFields;

namespace {

const auto CallStatusEvent = qOverload<short>(&Kivara::CallStatus);

QString address(int testCase, int host)
{
    return u"127.51.%1.%2"_s.arg(testCase).arg(host);
}

KivaraTimings fast()
{
    return {.mainTimerMs = 800,
            .helloIntervalMs = 160,
            .admissionRingMs = 20,
            .admissionRefuseMs = 400,
            .privateRoomWaitMs = 800};
}

QStringList names(const Room& room)
{
    QStringList n;
    for (int i = 1; i <= room.rowCount(); ++i)
        n << room.row(i).name();
    return n;
}

Participant addParty(Room& room, const UserRecord& r)
{
    Participant p = room.addRow(r.chatName, r.iconCode + u"_0"_s);
    p.setDetails(r);
    return p;
}

// Runs f once the condition holds, checking while events are pumped.
void when(QObject* context, std::function<bool()> condition, std::function<void()> f)
{
    auto* timer = new QTimer(context);
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, context, [timer, condition, f] {
        if (!condition()) return;
        timer->stop();
        timer->deleteLater();
        f();
    });
    timer->start();
}

// Keys as a person presses them: each to the open menu, else to the widget with the focus.
void press(std::initializer_list<Qt::Key> keys, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    for (const Qt::Key key : keys) {
        QWidget* to = QApplication::activePopupWidget();
        if (!to) to = QApplication::focusWidget();
        QVERIFY(to);
        QTest::keyClick(to, key, modifiers);
    }
}

// Runs f once the control is placing its call.
void whenCalling(Kivara& k, std::function<void()> f)
{
    when(
        &k, [&k] { return CallState(k.CallStatus()) == CallState::Calling; }, std::move(f));
}

} // namespace

class TestCalls : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void cleanup();
    void placingCalls();
    void admittedByRoomList_data();
    void admittedByRoomList();
    void answeringCallers();
    void inboundMessages();

private:
    void computer(int testCase);
    void keyboardToTheEnd(Kivara& k, CallPeer& bob);
    std::unique_ptr<Kivara> control(const KivaraTimings& timings = fast());
    // A computer for the case and its control in session.
    std::unique_ptr<Kivara> start(int testCase)
    {
        computer(testCase);
        return QTest::currentTestFailed() ? nullptr : control();
    }

    std::unique_ptr<test::SimComputer> m_computer;
    test::Desk m_desk;
    QString m_ip;
};

void TestCalls::cleanup()
{
    m_computer.reset();
}

void TestCalls::computer(int testCase)
{
    m_ip = address(testCase, 2);
    m_computer = std::make_unique<test::SimComputer>(m_ip, u"KV-ANN"_s);
    m_computer->activate();
    m_desk.install();
    QCOMPARE(SaveProfile(test::AnnProfile(m_ip), QString()), 0);
}

std::unique_ptr<Kivara> TestCalls::control(const KivaraTimings& timings)
{
    auto k = std::make_unique<Kivara>(nullptr, timings);
    k->resize(640, 420);
    if (k->ChatInit() != 0) return nullptr;
    return k;
}

// ---- Placing calls -----------------------------------------------------------------

void TestCalls::placingCalls()
{
    CallPeer bob(address(1, 3)), carl(address(1, 4));
    auto k = start(1);
    QVERIFY(k);
    QSignalSpy events(k.get(), CallStatusEvent);

    // Waiting to enter: refused at once, nothing shown or sent.
    k->setCallStatus(short(CallState::WaitingToEnter));
    QCOMPARE(k->Connect(bob.ip(), 8086), -1);
    QVERIFY(m_desk.prompt->log().isEmpty());
    k->setCallStatus(short(CallState::Idle));
    // Host, port, what the user is told.
    for (const auto& [host, port, said] :
         {std::tuple{QString(), 8086,
                     u"No Remote Host specified.\r\rYou must specify an IP Address or Computer name."_s},
          {m_ip, 8086,
           u"You cannot place a call to your own computer.\r\rPlease check the IP Address and try again."_s},
          {bob.ip(), 0, u"No Remote Port specified."_s}}) {
        k->setRemotePort(port);
        QCOMPARE(k->Connect(host), -1);
        QCOMPARE(m_desk.promptTexts().last(), said);
        QCOMPARE(k->panelText(1), u"Public room"_s); // SetCallStatus(4) follows the panel text
    }
    QCOMPARE(k->RemoteHost(), bob.ip());
    QCOMPARE(CallState(k->CallStatus()), CallState::Idle);
    QCOMPARE(events.last().at(0).toInt(), int(CallState::Idle));
    // Calls Bob, doing what is given once the call is being placed: the result, the state after,
    // and Bob told that the caller gave up.
    const auto givenUp = [&](std::function<void()> whileCalling, int result, CallState after) {
        if (whileCalling) whenCalling(*k, std::move(whileCalling));
        QCOMPARE(k->Connect(bob.ip(), 8086), result);
        QCOMPARE(CallState(k->CallStatus()), after);
        QCOMPARE(bob.gather(1), QStringList{u"GIVEUP|Ann"_s});
    };

    // No answer: the supervision gives up, and the party called hears the end.
    WriteSetting(settings::UseCallSnd, u"1"_s);
    k->RefreshSettings();
    events.clear();
    const qsizetype asked = m_desk.prompt->log().size();
    givenUp({}, -2, CallState::Idle);
    QCOMPARE(m_desk.promptTexts().mid(asked),
             QStringList{u"Cannot connect to specified Contact.\r\rStatus: No answer."_s});
    QCOMPARE(events.first().at(0).toInt(), int(CallState::Calling));
    QCOMPARE(events.last().at(0).toInt(), int(CallState::Idle));
    const QStringList hellos = bob.drain(MonitorDatagramPort);
    QVERIFY(hellos.size() >= 2);
    QCOMPARE(hellos.first(), u"HELLO|Ann|Available|ann@example.org|%1|hi there|KV-ANN||2"_s.arg(m_ip));
    QVERIFY(
        m_desk.sound->events().contains(u"play "_s + ReadSetting(Deliverable::Quillon, settings::CallFile)));
    QCOMPARE(k->panelText(3), u"Waiting for call..."_s);

    // A socket error shows in panel 1 with a beep, and changes no call state.
    k->setCallStatus(short(CallState::Connected));
    const qsizetype before = m_desk.sound->events().size();
    Q_EMIT k->chatSocket().Error(10054, u"Connection reset by peer"_s);
    QCOMPARE(k->panelText(1), u"10054:Connection reset by peer"_s);
    QCOMPARE(m_desk.sound->events().mid(before), QStringList{u"beep"_s});
    QCOMPARE(CallState(k->CallStatus()), CallState::Connected);
    k->setCallStatus(short(CallState::Idle));

    // A form the monitor opened closes itself when the refused caller leaves the user alone.
    StoreAccess access(Deliverable::Quillon);
    QCOMPARE(access.OpenFolder(access.folderName()), 0);
    const outlook::Item contact = access.currentFolder().Items().Add(outlook::KivaraContactClass.toString());
    auto inspector = contact.GetInspector();
    QVERIFY(inspector && inspector->Display());
    k->setParentInspector(inspector);
    m_desk.rules(u"form entering room => optEnter_1=checked; cmdFile_0"_s);
    for (const bool tray : {false, true}) {
        k->setTrayOpened(tray);
        k->DataPass(u"HELLO|"_s + PartyRecord(u"Bob"_s, bob.ip()).text());
        QCOMPARE(inspector->IsDisplayed(), !tray); // closed only when the monitor opened it
    }

    // Cancelled by the user, as the call stands.
    k->setParentInspector(nullptr);
    QCOMPARE(bob.gather(2), QStringList(2, u"LEAVEMSG|Ann|0"_s)); // the refusals
    k->show();
    // Alone: -3, one GIVEUP to the party called.
    givenUp([&] { k->findChild<QPushButton*>(u"cmdCancel"_s)->click(); }, -3, CallState::Idle);
    QCOMPARE(k->panelText(1), u"Call to %1 cancelled."_s.arg(bob.ip()));

    // A private room open, nobody else in the public room: -4.
    k->OpenPrivateRoom(PriChatFields(PartyRecord(u"Carl"_s, carl.ip()), u"OPENPRI"_s, u"0"_s));
    givenUp([&] { k->CancelCall(); }, -4, CallState::Idle);

    // Others in the public room: the call goes on as connected.
    k->ClosePrivateRoom(u"Carl"_s);
    addParty(k->rooms().publicRoom(), PartyRecord(u"Carl"_s, carl.ip()));
    givenUp([&] { k->CancelCall(); }, 0, CallState::Connected);
    QVERIFY(carl.drain().isEmpty());

    // Waiting to enter: no cancel flag, so -2.
    k->rooms().publicRoom().keepOnlyOwnRow();
    k->setCallStatus(short(CallState::Idle));
    k->setTrayOpened(true);
    when(
        k.get(), [&] { return CallState(k->CallStatus()) == CallState::WaitingToEnter; },
        [&] {
            QCOMPARE(k->panelText(1), u"Waiting to enter Bob's Public room..."_s);
            k->CancelCall();
        });
    givenUp([&] { bob.sendTo(m_ip, u"HELLOWAIT|Bob"_s); }, -2, CallState::Idle);
    QCOMPARE(k->panelText(1), u"Call to %1 cancelled."_s.arg(bob.ip()));
    // Cancelling with no call: idle without an event.
    k->setCallStatus(short(CallState::Incoming));
    events.clear();
    k->CancelCall();
    QCOMPARE(CallState(k->CallStatus()), CallState::Idle);
    QCOMPARE(events.size(), 0);

    // What the party called answers.
    const QString unavailable = u"The contact you are calling has responded, but is unavailable."_s;
    const QString wait = u"The user you are calling has responded, but is not answering your "
                         u"call.\r\rWould you like to continue to wait ?"_s;
    // A refusal room list: whatever further entries say, the first decides.
    const QByteArray refusal = PlainDatagram(BuildRoomList(
        {PartyRecord(u"Bob"_s, bob.ip(), u"Out of Office"_s), PartyRecord(u"Carl"_s, bob.ip())}));
    // Rules, the answer while calling, what the user is told, whether the party called hears GIVEUP.
    const std::tuple<QString, QByteArray, QString, bool> answers[] = {
        {QString(), refusal, unavailable + u"\r\rStatus: Out of Office"_s, false},
        {QString(), FrameDatagram(u"LEAVEMSG|Bob|0"_s), unavailable, false},
        // Declining to leave a message returns to idle and sends nothing.
        {u"msgbox leave a message => No"_s, FrameDatagram(u"LEAVEMSG|Bob|1"_s),
         unavailable + u"\r\rWould you like to leave a message ?"_s, false},
        {u"msgbox continue to wait => No"_s, FrameDatagram(u"HELLOWAIT|Bob"_s), wait, true}};
    for (const auto& [rules, answer, said, giveUp] : answers) {
        m_desk.rules(rules);
        const qsizetype asked = m_desk.prompt->log().size();
        whenCalling(*k, [&] {
            bob.sendTo(m_ip, u"<plain>"_s); // ignored: no such message
            bob.sendRaw(m_ip, answer);
        });
        QCOMPARE(k->Connect(bob.ip(), 8086), -2);
        QCOMPARE(m_desk.promptTexts().mid(asked), QStringList{said});
        QCOMPARE(k->rooms().publicRoom().rowCount(), 1);
        QCOMPARE(CallState(k->CallStatus()), CallState::Idle);
        bob.drain(MonitorDatagramPort);
        if (giveUp) QCOMPARE(bob.gather(1), QStringList{u"GIVEUP|Ann"_s});
        QVERIFY(bob.quiet());
    }

    // Yes keeps waiting and asks again.
    m_desk.rules(u"msgbox continue to wait => Yes"_s);
    whenCalling(*k, [&] { bob.sendTo(m_ip, u"HELLOWAIT|Bob"_s); });
    when(
        k.get(), [&] { return !m_desk.prompt->log().isEmpty(); },
        [&] { bob.sendTo(m_ip, BuildRoomList({PartyRecord(u"Bob"_s, bob.ip())})); });
    QCOMPARE(k->Connect(bob.ip(), 8086), 0);
    QCOMPARE(m_desk.promptTexts().value(0), wait);
    QVERIFY(bob.drain().isEmpty());

    // Waiting on past the call's outer bound: given up, and said so.
    KivaraTimings bounded = fast();
    bounded.callLoopBoundMs = 2000;
    k.reset();
    k = control(bounded);
    QVERIFY(k);
    bob.gather(1); // the closed form's leaving
    givenUp([&] { bob.sendTo(m_ip, u"HELLOWAIT|Bob"_s); }, -2, CallState::Idle);
    QCOMPARE(m_desk.promptTexts().last(),
             u"The contact you called did not let you in.\r\rThe call was ended."_s);

    // A party that takes messages: the message dialog, as the call ends; the admission
    // preselection (the refusals above left it at 1) is left alone.
    bob.drain(MonitorDatagramPort);
    WriteSetting(settings::AutoEnter, u"0"_s);
    const QString own = u"Ann|Available|ann@example.org|%1|hi there|KV-ANN||2"_s.arg(m_ip);
    const QString content = platform::FromAnsi(test::FileBytes(k->PeerslipFile()));
    QVERIFY(content.size() >= 64);

    m_desk.rules(u"msgbox leave a message => Yes\n"
                 "form Message Center => txtMsg_0=Sorry; txtMsg_1=Call me back; chkMsg=checked; cmdMsg"_s);
    QList<short> seen;
    connect(k.get(), CallStatusEvent, this, [&](short s) { seen << s; });
    k->setRemoteHost(bob.ip());
    k->DataPass(u"LEAVEMSG|Bob|1"_s); // not calling: nothing to refuse
    QVERIFY(seen.isEmpty() && m_desk.prompt->log().isEmpty());
    k->setCallStatus(short(CallState::WaitingToEnter));
    k->DataPass(u"LEAVEMSG|Bob|1"_s);
    QCOMPARE(seen, (QList<short>{short(CallState::Connected), short(CallState::Idle)}));
    QCOMPARE(bob.next(MonitorDatagramPort), u"MESSAGE|"_s + own + u"|Sorry|Call me back|1|"_s + content);
    QVERIFY(!m_desk.prompt->log().last().unmatched);
    QCOMPARE(ReadSetting(Deliverable::Quillon, settings::AutoEnter), u"0"_s);

    // Without the Peerslip, empty fields still make a message; Cancel sends nothing and
    // leaves the admission preselection alone; any other flag does nothing.
    for (const auto& [form, flag, message] :
         {std::tuple{u"cmdMsg"_s, u"1"_s, u"MESSAGE|"_s + own + u"|||0"_s},
          {u"cmdFile_1"_s, u"1"_s, QString()},
          {u"cmdMsg"_s, u"2"_s, QString()}}) {
        m_desk.rules(u"msgbox leave a message => Yes\nform Message Center => "_s + form);
        k->setCallStatus(short(CallState::Calling));
        seen.clear();
        k->DataPass(u"LEAVEMSG|Bob|"_s + flag);
        if (!message.isEmpty()) QCOMPARE(bob.next(MonitorDatagramPort), message);
        QVERIFY(bob.quiet());
        QCOMPARE(ReadSetting(Deliverable::Quillon, settings::AutoEnter), u"0"_s);
        QCOMPARE(seen.isEmpty(), flag == u"2"_s);
        QCOMPARE(CallState(k->CallStatus()), flag == u"2"_s ? CallState::Calling : CallState::Idle);
    }

    // The form closed while ringing: the party called is told, and the busy pointer comes back.
    Kivara* closing = k.release();
    whenCalling(*closing, [closing] { closing->deleteLater(); });
    QCOMPARE(closing->Connect(bob.ip(), 8086), -2);
    QCOMPARE(QApplication::overrideCursor(), nullptr);
    QVERIFY(bob.heard(u"GIVEUP|Ann"_s));

    // No network: no call is placed, and no call state shown, not even for a caller knocking.
    bob.drain(MonitorDatagramPort); // the closed form's rings
    QCOMPARE(WriteKeyValue(RegRoot::LocalMachine, NameServerKey.toString(), NameServerValue.toString(),
                           u"255.255.255.255"_s),
             0);
    k = control();
    QVERIFY(k);
    QSignalSpy offline(k.get(), CallStatusEvent);
    QCOMPARE(k->Connect(bob.ip(), 8086), -1);
    QCOMPARE(m_desk.promptTexts().last(),
             u"No network services were detected.\r\rYou must connect to the network to connect a call."_s);
    QCOMPARE(k->panelText(3), u"Offline"_s);
    k->DataPass(u"HELLO|"_s + PartyRecord(u"Bob"_s, bob.ip()).text());
    QCOMPARE(offline.size(), 0);
    QVERIFY(bob.drain(MonitorDatagramPort).isEmpty());
}

void TestCalls::admittedByRoomList_data()
{
    QTest::addColumn<QString>("callee");
    QTest::addColumn<bool>("keyboard"); // placed, then used to the end, with keys alone
    QTest::newRow("by address") << QString() << false;
    // The room list comes from the address the name resolved to.
    QTest::newRow("by computer name") << u"Bob-PC"_s << false;
    QTest::newRow("from the keyboard") << QString() << true;
}

void TestCalls::admittedByRoomList()
{
    QFETCH(QString, callee);
    QFETCH(bool, keyboard);
    computer(3);
    CallPeer bob(address(3, 3)), carl(address(3, 4));
    platform::HostLookup::forgetAll();
    platform::HostLookup::setResolver([ip = bob.ip()](const QString& name) {
        return name == u"bob-pc"_s ? platform::HostLookup::Answer(QHostAddress(ip)) : std::nullopt;
    });
    const auto resolver = qScopeGuard([] { platform::HostLookup::setResolver({}); });
    WriteSetting(settings::EnterMsg, u"Hello all"_s);
    KivaraTimings timings = fast();
    timings.admissionRefuseMs = 60000; // time for keys
    auto k = control(timings);
    QVERIFY(k);
    QList<short> seen;
    connect(k.get(), CallStatusEvent, this, [&](short s) {
        seen << s;
        // Bob's monitor answers once the HELLO reached it, which a name must first resolve for.
        if (CallState(s) == CallState::Calling && seen.count(short(CallState::Calling)) == 1)
            when(
                k.get(), [&] { return bob.waiting(MonitorDatagramPort) > 0; },
                [&] { bob.sendTo(m_ip, u"HELLOWAIT|Bob"_s); });
        if (CallState(s) == CallState::WaitingToEnter) {
            UserRecord own = PartyRecord(u"Ann"_s, m_ip); // the own entry, by identifier
            own.serialNum = u"KV-ANN"_s;
            // A trailing partial entry is no participant and stops nothing.
            bob.sendTo(m_ip, BuildRoomList({PartyRecord(u"Bob"_s, bob.ip()), own,
                                            PartyRecord(u"Carl"_s, carl.ip(), u"On the Phone"_s)}) +
                                 u'|' +
                                 QStringList(PartyRecord(u"Dan"_s, bob.ip()).fields().mid(0, 7)).join(u'|'));
        }
    });
    if (keyboard) {
        k->setRemoteHost(bob.ip()); // as the contact form aims the control
        k->setRemotePort(8086);
        k->show();
        QVERIFY(QTest::qWaitForWindowActive(k.get()));
        // From the message box past the list to the transcript, whose menu places the call.
        press({Qt::Key_Tab, Qt::Key_Tab});
        QCOMPARE(QApplication::focusWidget(), k->roomView(0).transcript);
        press({Qt::Key_F10}, Qt::ShiftModifier);
        press({Qt::Key_Down, Qt::Key_Return}); // its first item, "&Place Call", shares its P with "&Print..."
        QVERIFY(
            platform::WaitUntil([&] { return CallState(k->CallStatus()) == CallState::Connected; }, 5000));
    } else {
        QCOMPARE(k->Connect(callee.isEmpty() ? bob.ip() : callee, 8086), 0);
    }
    QCOMPARE(seen.mid(0, 3), (QList<short>{short(CallState::Calling), short(CallState::WaitingToEnter),
                                           short(CallState::Connected)}));
    QCOMPARE(CallState(k->CallStatus()), CallState::Connected);
    QCOMPARE(names(k->rooms().publicRoom()), (QStringList{u"Ann"_s, u"Bob"_s, u"Carl"_s}));
    QCOMPARE(k->rooms().publicRoom().row(3).availability(), u"On the Phone"_s);
    QVERIFY(!k->rooms().publicRoom().row(3).dimmed()); // room lists do not dim
    QCOMPARE(k->panelText(3), u"Connected"_s);
    // The own row is the user's to edit again once the list is written.
    ParticipantModel& rows = k->rooms().publicRoom().participants;
    rows.setData(rows.index(0, ColName), u"Anna"_s);
    for (CallPeer* p : {&bob, &carl})
        QCOMPARE(p->take(2), (QStringList{u"PUBCHAT|Ann|0|Hello all"_s, u"NICKNAME|Ann|Anna"_s}));
    QVERIFY(!k->findChild<QPushButton*>(u"cmdCancel"_s)->isVisible());
    if (keyboard) return keyboardToTheEnd(*k, bob);
    // The call menu entry now ends the call.
    k->FileMenu_Click(0);
    QVERIFY(bob.heard(u"LEAVE|Anna|Public"_s));
}

// In the call placed from the keyboard: a caller let in, a line sent, a private
// room opened from the participant list's menu, a file offered and the call left.
void TestCalls::keyboardToTheEnd(Kivara& k, CallPeer& bob)
{
    CallPeer dan(address(3, 5));
    const UserRecord d = PartyRecord(u"Dan"_s, dan.ip());
    WriteSetting(settings::AutoEnter, u"1"_s); // refusing is preselected
    when(
        &k, [&k] { return k.entryDialog() && k.entryDialog()->isActiveWindow(); },
        [] {
            press({Qt::Key_Up, Qt::Key_Return});
        });
    bob.drain();
    dan.sendTo(m_ip, u"HELLO|"_s + d.text());
    QVERIFY(bob.heard(u"ENTER|"_s + d.text()));
    QCOMPARE(names(k.rooms().publicRoom()).last(), u"Dan"_s);
    k.activateWindow(); // as the desktop does once the dialog is gone
    QVERIFY(QTest::qWaitForWindowActive(&k));
    QCOMPARE(QApplication::focusWidget(), k.findChild<QWidget*>(u"txtSend"_s));

    QTest::keyClicks(QApplication::focusWidget(), u"by keys"_s);
    press({Qt::Key_Return});
    QVERIFY(bob.heard(u"PUBCHAT|Anna|0|by keys"_s));

    // Bob's row in the list, his menu, its Open Private Room.
    press({Qt::Key_Tab});
    QCOMPARE(QApplication::focusWidget()->objectName(), u"lstMain_0"_s);
    press({Qt::Key_Home, Qt::Key_Down});
    QCOMPARE(k.SelectedUser().value(0), u"Bob"_s);
    // An item of the focused widget's menu by its key; offscreen, the window then takes the
    // activation back from the menu, as a desktop's window manager does on its own.
    const auto fromMenu = [&k](Qt::Key key) {
        press({Qt::Key_F10}, Qt::ShiftModifier);
        press({key});
        k.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&k));
    };
    fromMenu(Qt::Key_O);
    QVERIFY(bob.heard(u"PRICHAT|Anna|Available|ann@example.org|%1|hi there|KV-ANN||2|0|OPENPRI"_s.arg(m_ip)));

    // Back from the message box, where the menu's command left the focus, for Send File...
    // with the file dialog answered as a person would.
    press({Qt::Key_Tab});
    const QString file = m_computer->root() + u"/notes.txt"_s;
    QVERIFY(test::WriteBytes(file, "notes"));
    m_desk.rules(u"open . => "_s + file);
    fromMenu(Qt::Key_F);
    QVERIFY(bob.heard(u"FILEPREP|Anna|notes.txt|5|%1|8087"_s.arg(m_ip)));

    // Leaving: /quit in the message box.
    QTest::keyClicks(QApplication::focusWidget(), u"/quit"_s);
    press({Qt::Key_Return});
    QVERIFY(bob.heard(u"LEAVE|Anna|Public"_s));
}

// ---- The answering side --------------------------------------------------------------

void TestCalls::answeringCallers()
{
    CallPeer bob(address(10, 3)), carl(address(10, 4));
    auto k = start(10);
    QVERIFY(k);
    {
        // The admission dialog itself.
        WriteSetting(settings::AutoEnter, u"2"_s);
        WriteSetting(settings::UseCallSnd, u"1"_s);
        frmEntry f(600, 45000);
        QVERIFY(f.findChild<QRadioButton*>(u"optEnter_2"_s)->isChecked());
        QCOMPARE(test::FormFaults(&f), QString());
        f.setMode(frmEntry::Entering);
        f.setSender(u"Bob"_s);
        QCOMPARE(f.findChild<QLabel*>(u"lblEnter_0"_s)->text(), u"Bob is entering your Public room..."_s);
        QVERIFY(f.findChild<QTimer*>(u"tmrCancel"_s)->isActive());
        // The ring: the sound at the first tick (counter 0), the counter then at 64.
        f.ring();
        QCOMPARE(f.ringCounter(), 64);
        QCOMPARE(m_desk.sound->events().size(), 1);
        // The close box acts as OK on the option chosen at that moment.
        f.show();
        f.findChild<QRadioButton*>(u"optEnter_0"_s)->click();
        f.close();
        QCOMPARE(f.button(), short(0));
        QCOMPARE(f.selection(), short(0));
        f.unload();
        QCOMPARE(ReadSetting(Deliverable::Quillon, settings::AutoEnter), u"0"_s);
    }
    k->setTrayOpened(true);
    const QString hello = u"HELLO|"_s + PartyRecord(u"Bob"_s, bob.ip()).text();
    // Unanswered: refused after the interval, and "refuse" becomes the preselection.
    k->DataPass(hello);
    QCOMPARE(bob.next(), u"LEAVEMSG|Ann|0"_s);
    QCOMPARE(ReadSetting(Deliverable::Quillon, settings::AutoEnter), u"1"_s);
    QCOMPARE(CallState(k->CallStatus()), CallState::Idle);
    QVERIFY(m_desk.prompt->log().last().unmatched);

    // The caller gives up while the dialog is open: nothing is replied, the choice is kept.
    WriteSetting(settings::AutoEnter, u"0"_s);
    when(
        k.get(), [&] { return k->entryDialog() != nullptr; }, [&] { bob.sendTo(m_ip, u"GIVEUP|Bob"_s); });
    QList<short> seen;
    connect(k.get(), CallStatusEvent, this, [&](short s) { seen << s; });
    k->DataPass(hello);
    // Idle from the GIVEUP, and again as the admission ends without a choice.
    QCOMPARE(seen,
             (QList<short>{short(CallState::Incoming), short(CallState::Idle), short(CallState::Idle)}));
    QCOMPARE(ReadSetting(Deliverable::Quillon, settings::AutoEnter), u"0"_s);
    QVERIFY(k->entryDialog() == nullptr);
    // A GIVEUP from someone not in the list changes nothing.
    seen.clear();
    k->DataPass(u"GIVEUP|Zed"_s);
    QVERIFY(seen.isEmpty());

    // Refused by the user: passed by the host, no HELLOWAIT before the refusal; from the network, one.
    m_desk.rules(u"form entering room => optEnter_1=checked; cmdFile_0"_s);
    k->DataPass(hello);
    QCOMPARE(bob.next(), u"LEAVEMSG|Ann|0"_s);
    bob.sendTo(m_ip, hello);
    QCOMPARE(bob.take(2), (QStringList{u"HELLOWAIT|Ann"_s, u"LEAVEMSG|Ann|0"_s}));
    QCOMPARE(k->rooms().publicRoom().rowCount(), 1);
    QCOMPARE(CallState(k->CallStatus()), CallState::Idle);
    WriteSetting(settings::Messages, u"1"_s);
    k->DataPass(hello);
    QCOMPARE(bob.next(), u"LEAVEMSG|Ann|1"_s);
    // A caller with the own name is refused at once instead of being left waiting.
    k->DataPass(u"HELLO|"_s + PartyRecord(u"Ann"_s, bob.ip()).text());
    QCOMPARE(bob.next(),
             u"ROOMLIST|PUBLIC|Ann|I cannot talk now.  Please call back later.|ann@example.org|%1|hi there|KV-ANN||2"_s
                 .arg(m_ip));
    QCOMPARE(k->rooms().publicRoom().rowCount(), 1);

    // Let in: the room list to the caller, the others told.
    const UserRecord b = PartyRecord(u"Bob"_s, bob.ip());
    const UserRecord c = PartyRecord(u"Carl"_s, carl.ip());
    Participant cr = addParty(k->rooms().publicRoom(), c);
    k->setCallStatus(short(CallState::Connected));
    WriteSetting(settings::AutoAdd, u"2"_s);
    m_desk.rules(u"form ^Bob entering room => optEnter_0=checked; cmdFile_0"_s);
    seen.clear();
    k->SetStatus(u"Unavailable"_s);
    QCOMPARE(carl.next(), u"STATUS|Ann|Unavailable"_s);
    k->DataPass(u"HELLO|"_s + b.text());
    QCOMPARE(seen, (QList<short>{short(CallState::Incoming), short(CallState::Connected)}));
    QCOMPARE(k->profile().UserStatus, u"Available"_s); // entering makes the user available
    const QString ownEntry = u"Ann|Available|ann@example.org|%1|hi there|KV-ANN||2"_s.arg(m_ip);
    const QString list = u"ROOMLIST|PUBLIC|"_s + ownEntry + u"|"_s + c.text() + u"|"_s + b.text();
    // The caller's row is in the room already when the user becomes available.
    QCOMPARE(bob.take(3), (QStringList{u"STATUS|Ann|Available"_s, list, u"ENTER|"_s + b.text()}));
    QCOMPARE(carl.take(2), (QStringList{u"STATUS|Ann|Available"_s, u"ENTER|"_s + b.text()}));
    QCOMPARE(ReadSetting(Deliverable::Quillon, settings::AutoEnter), u"0"_s);
    QCOMPARE(m_desk.prompt->log().last().title, u"Bob entering room..."_s);
    QVERIFY(bob.quiet() && carl.quiet());

    // A private room in front and Carl ignored: the caller still gets the public room,
    // with Carl's availability rather than the local mark.
    k->rooms().publicRoom().removeRow(u"Bob"_s);
    k->ToggleIgnore(cr);
    k->OpenPrivateRoom(PriChatFields(PartyRecord(u"Dan"_s, address(10, 5))));
    QCOMPARE(k->rooms().current, 1);
    k->DataPass(u"HELLO|"_s + b.text());
    QCOMPARE(bob.take(2), (QStringList{list, u"ENTER|"_s + b.text()}));
    QVERIFY(bob.quiet() && carl.quiet());
    k->ClosePrivateRoom(u"Dan"_s);
    k->ToggleIgnore(cr);

    // AutoAdd 1: the user is asked before the Peerslip is (AutoAdd 0: below).
    k->rooms().publicRoom().removeRow(u"Bob"_s);
    WriteSetting(settings::AutoAdd, u"1"_s);
    m_desk.rules(u"form ^Bob entering room => cmdFile_0\nmsgbox has entered your chat room => No"_s);
    k->DataPass(u"HELLO|"_s + b.text());
    QVERIFY(m_desk.promptTexts().contains(
        u"Bob has entered your chat room.\r\n\r\nDo you want to add this Contact to your 'Kivara' folder ?"_s));
    QCOMPARE(bob.take(2), (QStringList{list, u"ENTER|"_s + b.text()})); // no GETUSER
    QVERIFY(bob.quiet());

    // AutoEnter 2: to a private room, once the caller opens its side; AutoAdd 0: its Peerslip asked.
    k->rooms().publicRoom().keepOnlyOwnRow();
    k->setCallStatus(short(CallState::Idle));
    carl.drain(); // Bob's entering
    WriteSetting(settings::AutoEnter, u"2"_s);
    WriteSetting(settings::AutoAdd, u"0"_s);
    m_desk.rules(u"form entering room => cmdFile_0"_s); // the preselection is taken
    when(
        k.get(),
        [&] {
            return k->rooms().publicRoom().rowCount() == 1 &&
                   CallState(k->CallStatus()) == CallState::Connected;
        },
        [&] { bob.sendTo(m_ip, u"PRICHAT|"_s + b.text() + u"|255|OPENPRI"_s); });
    k->DataPass(u"HELLO|"_s + b.text());
    // The room is made and answers once more; then the new contact's Peerslip.
    const QString openPri = u"PRICHAT|"_s + ownEntry + u"|0|OPENPRI"_s;
    QCOMPARE(bob.take(3), (QStringList{openPri, openPri, u"GETUSER|Ann|SIMPLE|Bob|SILENT"_s}));
    QVERIFY(bob.quiet());
    QCOMPARE(k->rooms().at(1).tag + QString::number(k->rooms().count()), u"Bob2"_s);
    QCOMPARE(CallState(k->CallStatus()), CallState::Connected);
    QCOMPARE(ReadSetting(Deliverable::Quillon, settings::AutoEnter), u"2"_s);

    // A caller that never opens its side: the wait ends, the control is idle again.
    k->ClosePrivateRoom(u"Bob"_s);
    QCOMPARE(CallState(k->CallStatus()), CallState::Idle);
    k->DataPass(u"HELLO|"_s + c.text());
    QCOMPARE(carl.next(), openPri);
    QVERIFY(platform::WaitUntil([&] { return CallState(k->CallStatus()) == CallState::Idle; }, 5000));
    QCOMPARE(k->rooms().currentTag + QString::number(k->rooms().count()), u"Public1"_s);
}

// ---- Inbound messages --------------------------------------------------------------

void TestCalls::inboundMessages()
{
    CallPeer bob(address(19, 3)), mallory(address(19, 4)), carl(address(19, 6));
    auto k = start(19);
    QVERIFY(k);
    Room& pub = k->rooms().publicRoom();
    addParty(k->rooms().publicRoom(), PartyRecord(u"Bob"_s, bob.ip()));
    k->setCallStatus(short(CallState::Connected));
    // From a host in no call with this user: no rows, no rooms, and by default no log line.
    test::LogCapture log;
    mallory.sendTo(m_ip, BuildRoomList({PartyRecord(u"Eve"_s, mallory.ip())}));
    mallory.sendTo(m_ip, u"ENTER|"_s + PartyRecord(u"Eve"_s, mallory.ip()).text());
    mallory.sendTo(m_ip, u"PRICHAT|"_s + PartyRecord(u"Eve"_s, mallory.ip()).text() + u"|0|OPENPRI"_s);
    mallory.sendTo(m_ip, u"HELLOWAIT|Eve"_s); // not calling: no waiting state
    // The same from a participant (a drag to a room sends exactly such a room list).
    bob.sendTo(m_ip, BuildRoomList({PartyRecord(u"Dan"_s, u"127.51.19.5"_s)}));
    QVERIFY(platform::WaitUntil([&] { return k->rooms().publicRoom().rowCount() == 3; }, 5000));
    QVERIFY(mallory.quiet());
    QCOMPARE(log.lines(), QStringList());
    QCOMPARE(names(k->rooms().publicRoom()), (QStringList{u"Ann"_s, u"Bob"_s, u"Dan"_s}));
    QCOMPARE(k->rooms().count(), 1);
    // With the control's debug lines on, a dropped message says why in one line.
    log.setRules(u"kivara.control.debug=true"_s);
    mallory.sendTo(m_ip, u"ENTER|"_s + PartyRecord(u"Eve"_s, mallory.ip()).text());
    QVERIFY(platform::WaitUntil([&] { return !log.lines().isEmpty(); }, 5000));
    QCOMPARE(log.lines(),
             QStringList{u"kivara.control: ENTER from 127.51.19.4 ignored: sender in no call here"_s});
    // A refusal that answers no call being placed changes nothing.
    k->DataPass(BuildRoomList({PartyRecord(u"Bob"_s, bob.ip(), u"Out of Office"_s)}));
    QCOMPARE(CallState(k->CallStatus()), CallState::Connected);
    QVERIFY(m_desk.prompt->log().isEmpty());
    // Short messages stop where a field is missing; what came before stays. Words are
    // matched exactly: an unknown one, or a known one in other letters, does nothing.
    k->DataPass(u"HELLO|Zed"_s);
    QCOMPARE(CallState(k->CallStatus()), CallState::Incoming);
    QCOMPARE(k->rooms().publicRoom().rowCount(), 3);
    const QString lowerCase = u"enter|"_s + PartyRecord(u"Gil"_s, bob.ip()).text();
    const QStringList shortOrUnknown{
        u"HELLOWAIT"_s,    u"ENTER|X|Y"_s,        u"PUBCHAT|Bob"_s, u"PRICHAT|Q"_s, u"STATUS"_s,
        u"NICKNAME|Bob"_s, u"UPDATE|Bob|x"_s,     u"GETUSER|Bob"_s, u"LEAVE|Bob"_s, u"DUMPUSER|Bob"_s,
        u"LEAVEMSG|Bob"_s, u"ROOMLIST|PUBLIC"_s,  u"NOFILE"_s,      u""_s,          u"NOSUCH|Bob|Public"_s,
        lowerCase,         u"DUMPUSER |Ann|Bob"_s};
    log.lines().clear();
    for (const QString& text : shortOrUnknown)
        k->DataPass(text);
    QCOMPARE(names(k->rooms().publicRoom()), (QStringList{u"Ann"_s, u"Bob"_s, u"Dan"_s}));
    // Each leaves one line on why it changed nothing.
    QCOMPARE(log.lines().size(), shortOrUnknown.size());
    QVERIFY(log.lines().contains(u"kivara.control: LEAVE from this computer stopped at missing field 2"_s));
    QVERIFY(log.lines().contains(
        u"kivara.control: message \"NOSUCH\" from this computer ignored: no handler for its word"_s));
    // An address that is not a dotted literal is never taken (it would be looked up by name).
    k->DataPass(u"ENTER|"_s + PartyRecord(u"Fay"_s, u"name.example"_s).text());
    QCOMPARE(k->rooms().publicRoom().findRow(u"Fay"_s).address(), QString());

    // Inbound messages in a call afresh.
    pub.keepOnlyOwnRow();
    k->setCallStatus(short(CallState::Idle));
    addParty(pub, PartyRecord(u"Bob"_s, bob.ip()));
    const auto shows = [&](int room, const QString& text) {
        return k->rooms().at(room).transcript.toPlainText().contains(text);
    };
    // A line holding the separator, from a peer that lets one through, is shown whole.
    QStringList pri = PriChatFields(PartyRecord(u"Carl"_s, carl.ip()), u"first | words"_s);
    k->DataPass(pri.join(u'|')); // creates Carl's room and shows the line there
    QCOMPARE(k->rooms().currentTag + QString::number(k->rooms().count()), u"Carl2"_s);
    QVERIFY(shows(1, u"Carl\tfirst | words\n"_s));
    QCOMPARE(CallState(k->CallStatus()), CallState::Connected);
    // PUBCHAT: public room (marked once), Carl's private room, nobody's.
    for (const QString& line :
         {u"Bob|0|hello|world"_s, u"Bob|0|again"_s, u"Carl|0|to the private room"_s, u"Zed|0|nobody"_s})
        k->DataPass(u"PUBCHAT|"_s + line);
    QVERIFY(shows(0, u"Bob\thello|world\nBob\tagain\n"_s));
    QCOMPARE(k->roomView(0).button->text(), u"* Public room *"_s);
    QVERIFY(shows(1, u"Carl\tto the private room"_s));
    QVERIFY(!shows(0, u"nobody"_s) && !shows(1, u"nobody"_s));
    // Ignored senders are dropped.
    k->ToggleIgnore(pub.findRow(u"Bob"_s));
    k->DataPass(u"PUBCHAT|Bob|0|ignored line"_s);
    QVERIFY(!shows(0, u"ignored line"_s));
    // A line in Carl's room while the public room is in front marks Carl's button once.
    k->SwitchRoom(0);
    pri[10] = u"more"_s;
    const qsizetype sounds = m_desk.sound->events().size();
    k->DataPass(pri.join(u'|'));
    k->DataPass(pri.join(u'|'));
    QCOMPARE(k->roomView(1).button->text(), u"* Carl's room *"_s);
    QVERIFY(m_desk.sound->events().size() > sounds);

    // Removed by Bob: Bob's row goes, everything else stays.
    k->setTrayOpened(true);
    addParty(pub, PartyRecord(u"Carl"_s, carl.ip()));
    k->DataPass(u"DUMPUSER|Bob|Ann"_s);
    QCOMPARE(names(pub), (QStringList{u"Ann"_s, u"Carl"_s}));
    QCOMPARE(k->rooms().count(), 2);
    // A LEAVE for the private room closes it; the last participant's public LEAVE leaves the user alone.
    k->DataPass(u"LEAVE|Carl|Carl"_s);
    QCOMPARE(k->rooms().count(), 1);
    QCOMPARE(CallState(k->CallStatus()), CallState::Connected);
    k->OpenPrivateRoom(pri);
    k->SwitchRoom(0); // the notice goes to the room in front
    k->DataPass(u"LEAVE|Carl|Public"_s);
    QCOMPARE(k->rooms().count(), 1);
    QCOMPARE(CallState(k->CallStatus()), CallState::Idle);
    QVERIFY(shows(0, u"[Carl]\tleft the chat."_s));
    // Absent rows: nothing happens; the own row is never removed.
    for (const QString& text : {u"LEAVE|Ann|Public"_s, u"DUMPUSER|Zed|Ann"_s, u"DUMPUSER|Zed|Ann"_s})
        k->DataPass(text);
    QCOMPARE(names(pub), QStringList{u"Ann"_s});

    // Peerslips asked and given, files offered, and news of a participant.
    addParty(pub, PartyRecord(u"Bob"_s, bob.ip()));
    bob.drain();
    const QString slip = ProfileFieldString(k->profile());
    k->DataPass(u"GETUSER|Bob|SIMPLE|Ann|NORMAL"_s);
    QCOMPARE(bob.next(), u"SAVEUSER|"_s + slip);
    QVERIFY(shows(0, u"[Bob]\thas added you to their Kivara folder."_s));
    k->DataPass(u"GETUSER|Bob|PROFILE|Ann"_s);
    QCOMPARE(bob.next(), u"SHOWUSER|"_s + slip);
    QVERIFY(shows(0, u"[Bob]\thas requested your Peerslip."_s));
    k->DataPass(u"GETUSER|Bob|OTHER|Ann"_s);
    QVERIFY(bob.quiet());

    k->DataPass(u"SHOWUSER|a|b|c"_s);
    k->DataPass(u"FILEPREP|Bob|notes.txt|1234|%1|8087"_s.arg(bob.ip()));
    k->DataPass(u"FILEPREP|Bob|short"_s); // too short to offer anything
    const auto& calls = m_desk.shell->calls();
    QCOMPARE(calls.size(), 2);
    QCOMPARE(calls.at(0).target, SystemFolder() + u"/dorvan"_s);
    QCOMPARE(calls.at(0).arguments, QStringList{u"SHOWUSER|a|b|c"_s});
    QCOMPARE(calls.at(1).arguments, QStringList{u"FILEPREP|Bob|notes.txt|1234|%1|8087|Ann"_s.arg(bob.ip())});

    // A Peerslip answer is stored as a contact; the one asked for on entry without questions.
    const ProfileRecord bp{u"Bob Example"_s, {},       {},   {},          {},       {}, {}, u"Bob"_s,
                           u"Available"_s,   bob.ip(), 8086, u"KV-BOB"_s, QString()};
    m_desk.rules(u"msgbox ^Saved => OK"_s);
    k->DataPass(u"SAVEUSER|"_s + ProfileFieldString(bp));
    QCOMPARE(m_desk.promptTexts(), QStringList{u"Saved 'Bob' in 'Kivara' folder."_s});
    QCOMPARE(test::ProductFolder().Items().Find(u"[SerialNumber] = 'KV-BOB'"_s).FullName(), u"Bob Example"_s);
    k->DataPass(u"SAVEUSER|x"_s); // no address: not saved
    QCOMPARE(m_desk.promptTexts().last(),
             u"No network address was specified for this contact.\r\rCannot save this contact."_s);
    k->DataPass(u"NOFILE|Bob"_s);
    QCOMPARE(m_desk.promptTexts().last(), u"The file transfer was cancelled by Bob."_s);
    QCOMPARE(k->state().sendFilePath, QString());

    // The contact shown on the form is Bob's: his rows' news reach its user properties.
    k->OpenPrivateRoom(PriChatFields(PartyRecord(u"Bob"_s, bob.ip())));
    StoreAccess access(Deliverable::Quillon);
    QCOMPARE(access.OpenFolder(access.folderName()), 0);
    const outlook::Item shown = access.currentFolder().Items().Add(outlook::KivaraContactClass.toString());
    QVERIFY(shown.UserProperties().Find(u"SerialNumber"_s).setValue(u"KV-BOB"_s));
    k->setParentInspector(shown.GetInspector());
    const auto property = [&](const QString& name) {
        return shown.UserProperties().Find(name).Value().toString();
    };
    k->DataPass(u"STATUS|Bob|On the Phone"_s);
    QCOMPARE(property(u"UserStatus"_s) + u'/' + property(u"QuillonName"_s), u"On the Phone/Bob"_s);
    for (int i = 0; i < 2; ++i) {
        Participant row = k->rooms().at(i).findRow(u"Bob"_s);
        QCOMPARE(row.availability(), u"On the Phone"_s);
        QVERIFY(row.dimmed());
        QVERIFY(shows(i, u"[Bob]\thas changed status to 'On the Phone'."_s));
    }
    k->DataPass(u"NICKNAME|Bob|Robert"_s);
    QCOMPARE((QStringList{k->rooms().at(1).tag, k->rooms().currentTag, k->panelText(1)}),
             (QStringList{u"Robert"_s, u"Robert"_s, u"Robert's room"_s}));
    QCOMPARE(names(k->rooms().publicRoom()), (QStringList{u"Ann"_s, u"Robert"_s}));
    QVERIFY(shows(0, u"[Bob]\tchanged Chat Name to 'Robert'."_s));
    // A rename onto the own name or onto a listed name is not made.
    k->DataPass(u"NICKNAME|Robert|Ann"_s);
    QCOMPARE(names(k->rooms().publicRoom()), (QStringList{u"Ann"_s, u"Robert"_s}));
    UserRecord r = PartyRecord(u"Robert"_s, bob.ip(), u"Available"_s);
    r.comment = u"new comment"_s;
    r.serialNum = u"KV-BOB"_s;
    k->DataPass(u"UPDATE|"_s + r.text());
    QCOMPARE((QStringList{k->rooms().publicRoom().row(2).comment(),
                          k->rooms().at(1).findRow(u"Robert"_s).comment(), shown.Body(),
                          shown.Email1Address(), property(u"LocalHost"_s)}),
             (QStringList{u"new comment"_s, u"new comment"_s, u"new comment"_s, u"robert@example.org"_s,
                          bob.ip()}));
    // Someone else's update leaves the contact alone.
    k->DataPass(u"UPDATE|"_s + PartyRecord(u"Zed"_s, bob.ip()).text());
    QCOMPARE(property(u"QuillonName"_s), u"Robert"_s);
    // Own row: untouched by others' messages naming the local user.
    k->DataPass(u"UPDATE|"_s + PartyRecord(u"Ann"_s, bob.ip(), u"Unavailable"_s).text());
    k->DataPass(u"STATUS|Ann|Unavailable"_s);
    const Participant own = k->rooms().publicRoom().row(1);
    QCOMPARE(own.availability() + u'/' + own.address(), u"Available/"_s + m_ip);
}

KV_TEST_MAIN(TestCalls)
#include "tst_calls.moc"
