// The chat control in one simulated computer (127.50.<case>.2) with the other
// parties played at the protocol level by plain datagram sockets on
// 127.50.<case>.3 and up: the automation interface by name, session start,
// rooms and fan-out, every send mode, the menus and every slash command.
#include "Control/Kivara.h"
#include "Control/Session/ChatName.h"
#include "Control/Session/FanOut.h"
#include "Control/Session/MessageEntry.h"
#include "Platform/Events.h"
#include "Platform/Socket.h"
#include "Shared/Protocol.h"
#include "testing/CallPeer.h"
#include "testing/Desk.h"

#include <QAction>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTextEdit>
#include <QTimer>
#include <QTreeView>

#include <algorithm>
#include <memory>

using namespace Qt::StringLiterals;
using namespace kv;
using namespace kv::control;
using kv::test::PartyRecord;
using kv::test::PriChatFields;
using Peer = kv::test::CallPeer;

namespace {

QString address(int testCase, int host)
{
    return u"127.50.%1.%2"_s.arg(testCase).arg(host);
}

Participant addParty(Room& room, const UserRecord& r)
{
    Participant p = room.addRow(r.chatName, r.iconCode + u"_0"_s);
    p.setDetails(r);
    return p;
}

} // namespace

class TestControl : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void cleanup();
    void startInterfaceAndRooms();
    void sendingAndLeaving();
    void menusClosingAndDropping();
    void everySlashCommand();
    void entryBoxAndChatNames();

private:
    // A fresh computer for the case, with a profile for "Ann" unless told otherwise.
    void computer(int testCase, bool withProfile = true, const QString& profileIp = QString());
    std::unique_ptr<Kivara> control(bool start = true);
    // A computer for the case and its control in session.
    std::unique_ptr<Kivara> start(int testCase)
    {
        computer(testCase);
        return QTest::currentTestFailed() ? nullptr : control();
    }

    const platform::PromptLogEntry& lastPrompt() const { return m_desk.prompt->log().last(); }

    std::unique_ptr<test::SimComputer> m_computer;
    test::Desk m_desk;
    QString m_ip;
};

void TestControl::cleanup()
{
    m_computer.reset();
}

void TestControl::computer(int testCase, bool withProfile, const QString& profileIp)
{
    m_ip = address(testCase, 2);
    m_computer = std::make_unique<test::SimComputer>(m_ip, u"KV-ANN"_s);
    m_computer->activate();
    m_desk.install();
    if (!withProfile) return;
    QCOMPARE(SaveProfile(test::AnnProfile(profileIp.isEmpty() ? m_ip : profileIp), QString()), 0);
}

std::unique_ptr<Kivara> TestControl::control(bool start)
{
    auto k = std::make_unique<Kivara>();
    k->resize(640, 420);
    if (start && k->ChatInit() != 0) return nullptr;
    return k;
}

// ---- Interface -------------------------------------------------------------------

void TestControl::startInterfaceAndRooms()
{
    computer(1);
    auto k = control(false);
    // Before the session starts.
    QCOMPARE((QStringList{k->property("KivaraName").toString(), k->property("LocalHost").toString(),
                          k->property("LocalPort").toString(), k->property("CallStatus").toString(),
                          k->panelText(2), k->findChild<QAction*>(u"mnuFile_0"_s)->text()}),
             (QStringList{QString(), QString(), u"0"_s, u"0"_s, u"Available"_s, u"Place &Call"_s}));
    // DataPass of nothing reaches nothing; of a message, the dispatcher.
    QCOMPARE(k->DataPass(QString()), 0);
    // Invoked by name, as a host does.
    int result = 99;
    QVERIFY(QMetaObject::invokeMethod(k.get(), "DataSend", Q_RETURN_ARG(int, result), Q_ARG(short, 1)));
    QCOMPARE(result, 0);
    bool alone = false;
    QVERIFY(QMetaObject::invokeMethod(k.get(), "Alone", Q_RETURN_ARG(bool, alone), Q_ARG(short, 0)));
    QVERIFY(!alone); // no own row before the session starts
    QSignalSpy events(k.get(), qOverload<short>(&Kivara::CallStatus));
    QVERIFY(k->setProperty("CallStatus", 7));
    QCOMPARE(k->property("CallStatus").toInt(), 7);
    QCOMPARE(events.count(), 0); // let stores the code only
    QVERIFY(k->setProperty("Appearance", 1));
    QVERIFY(k->findChild<QWidget*>(u"linBorder_0"_s)->isVisibleTo(k.get()));
    QVERIFY(k->setProperty("Appearance", 0));
    QVERIFY(!k->findChild<QWidget*>(u"linBorder_1"_s)->isVisibleTo(k.get()));
    QVERIFY(k->setProperty("RemoteHost", address(1, 3)) && k->setProperty("RemotePort", 8085));
    QCOMPARE(k->chatSocket().RemoteHost() + u':' + QString::number(k->chatSocket().RemotePort()),
             address(1, 3) + u":8085"_s);

    // The form is closed through the inspector, saving its item.
    struct FakeInspector : outlook::Inspector {
        QList<int> closes;
        outlook::Item CurrentItem() override { return outlook::Item(); }
        bool Display(bool) override { return true; }
        bool Close(int saveMode) override { return closes << saveMode, true; }
        bool SetCurrentFormPage(const QString&) override { return true; }
        std::shared_ptr<outlook::FormPage> ModifiedFormPages(const QString&) override { return nullptr; }
        QString CurrentFormPage() override { return {}; }
        bool IsDisplayed() override { return true; }
    };
    auto inspector = std::make_shared<FakeInspector>();
    k->setParentInspector(inspector);
    QVERIFY(k->CloseParentForm());
    QCOMPARE(inspector->closes, QList<int>{0});
    k.reset(); // terminating releases the form's references
    QCOMPARE(inspector.use_count(), 1);

    // Session start on a computer whose address changed.
    computer(3, true, address(3, 9));
    k = std::make_unique<Kivara>();
    QSignalSpy starting(k.get(), qOverload<short>(&Kivara::CallStatus));
    QCOMPARE(k->ChatInit(), 0);
    QCOMPARE(starting.count(), 1);
    QCOMPARE(starting.at(0).at(0).toInt(), 4);
    QCOMPARE((QStringList{k->panelText(1), k->panelText(3), k->panelPicture(3),
                          k->findChild<QAction*>(u"mnuFile_0"_s)->text()}),
             (QStringList{u"Public room"_s, u"Waiting for call..."_s, u"waiting"_s, u"&Place Call"_s}));
    // The new address is in the profile and in the Peerslip, with the chat port.
    ProfileRecord saved;
    LoadProfile(Deliverable::Quillon, saved);
    QCOMPARE(saved.IPAddress + u':' + QString::number(saved.LocalPort) + u'/' +
                 ReadPeerslipFile(PeerslipPath(u"Ann"_s)).value().IPAddress,
             m_ip + u":8086/"_s + m_ip);
    QStringList shown;
    for (const char* name : {"LocalHost", "KivaraName", "PeerslipFile", "Service", "Folder"})
        shown << k->property(name).toString();
    QCOMPARE(shown, (QStringList{m_ip, u"Ann"_s, m_computer->installDir() + u"Ann.kvp"_s,
                                 u"Personal Folders"_s, u"Kivara"_s}));
    // Own row with the own icon and the profile's columns.
    const Participant own = k->rooms().publicRoom().row(1);
    QCOMPARE((QStringList{own.name(), own.iconKey(), own.address(), own.email(), own.serial()}),
             (QStringList{u"Ann"_s, u"2_1"_s, m_ip, u"ann@example.org"_s, u"KV-ANN"_s}));
    QVERIFY(k->Alone(0));
    QVERIFY(m_desk.prompt->log().isEmpty());
    // A second control on this computer is refused; the first keeps its port.
    QCOMPARE(std::make_unique<Kivara>()->ChatInit(), -1);
    QCOMPARE(
        m_desk.promptTexts(),
        QStringList{
            u"A chat session is already in progress.\r\rPlease close the chat session and try again."_s});
    QCOMPARE(k->chatSocket().State(), platform::Socket::sckOpen);

    // Private rooms opened and closed in any order.
    const QStringList names = {u"Bob"_s, u"Carl"_s, u"Dora"_s};
    QList<int> order = {0, 1, 2};
    do {
        for (const QString& n : names)
            k->OpenPrivateRoom(PriChatFields(PartyRecord(n, QString())));
        QCOMPARE(k->rooms().count(), 4);
        QCOMPARE(k->rooms().current, 3); // a new room comes to the front
        // Opening again finds the room rather than making a second one.
        QCOMPARE(k->OpenPrivateRoom(PriChatFields(PartyRecord(u"Carl"_s, QString()))), short(2));
        k->SwitchRoom(1);
        QStringList closed;
        for (int idx : order) {
            QCOMPARE(k->ClosePrivateRoom(names[idx]), 0);
            closed << names[idx];
            // Every room left is found, has its own widgets, and only the current button is hidden.
            for (const QString& n : names) {
                const int pos = k->rooms().FindRoom(n);
                QCOMPARE(pos < 1, closed.contains(n));
                if (pos < 1) continue;
                QCOMPARE((QStringList{k->rooms().at(pos).tag, k->rooms().at(pos).row(2).name(),
                                      k->roomView(pos).button->objectName()}),
                         (QStringList{n, n, u"cmdMain_"_s + QString::number(pos)}));
            }
            const RoomTable& rooms = k->rooms();
            QVERIFY(rooms.valid(rooms.current));
            QCOMPARE(rooms.currentTag, rooms.at(rooms.current).tag);
            for (int i = 0; i < rooms.count(); ++i)
                QCOMPARE(k->roomView(i).button->isVisibleTo(k.get()),
                         rooms.count() > 1 && i != rooms.current);
        }
        QCOMPARE(k->rooms().count(), 1);
        QCOMPARE(k->panelText(1), u"Public room"_s);
        QCOMPARE(CallState(k->CallStatus()), CallState::Idle); // alone again: the call is over
    } while (std::next_permutation(order.begin(), order.end()));
    QCOMPARE(k->ClosePrivateRoom(u"Bob"_s), -1);
    QCOMPARE(k->ClosePrivateRoom(u"Public"_s), -1);
    QCOMPARE(k->rooms().FindRoom(u"PUBLIC"_s), 0);
    // A PRICHAT short of the record opens nothing.
    QCOMPARE(k->OpenPrivateRoom({u"PRICHAT"_s, u"Bob"_s}), short(-1));

    // The slots of the buttons: the previous room's button takes the place of the current one.
    k->OpenPrivateRoom(PriChatFields(PartyRecord(u"Bob"_s, QString())));
    k->OpenPrivateRoom(PriChatFields(PartyRecord(u"Carl"_s, QString())));
    QCOMPARE(k->roomView(0).button->text() + u'/' + k->roomView(1).button->text(),
             u"Public room/Bob's room"_s);
    k->roomView(0).button->click();
    QCOMPARE(k->rooms().current, 0);
    QVERIFY(!k->roomView(0).button->isVisibleTo(k.get()));
    QVERIFY(k->roomView(2).button->isVisibleTo(k.get()));
    QCOMPARE(k->Alone(0), false);

    // The first start on a computer without a profile.
    k.reset();
    computer(5, false);
    // Without the profile completed: bound all the same, no own row, no nameless Peerslip left.
    m_desk.rules(u"form New Profile => cmdOptions_1\n"_s);
    k = std::make_unique<Kivara>();
    QSignalSpy started(k.get(), qOverload<short>(&Kivara::CallStatus));
    QCOMPARE(k->ChatInit(), 0);
    QCOMPARE(m_desk.promptTexts(),
             (QStringList{u"form:Kivara - New Profile"_s,
                          u"Your Kivara Profile was not found.\r\rYou must create a profile before "
                          u"using Kivara for Microsoft Outlook."_s}));
    QCOMPARE(CallState(k->CallStatus()), CallState::NoProfile);
    QCOMPARE(started.count(), 1);
    QCOMPARE(k->rooms().publicRoom().rowCount(), 0);
    QCOMPARE(k->chatSocket().State(), platform::Socket::sckOpen);
    QVERIFY(!QFile::exists(m_computer->installDir() + u".kvp"_s));
    k.reset();

    m_desk.rules(
        u"form ^Kivara - New Profile$ => txtProfile_0=Ann Example; txtProfile_3=Springfield, Oregon; "
        // Long texts are cut where the boxes end, so the profile fits its Peerslip.
        u"txtProfile_1=Harbour Freight and Logistics International Incorporated; txtProfile_2=ann.example.from.the.harbour.freight.office@logistics.example.org; "
        u"txtProfile_5=Usually at my desk between nine and five, except on Fridays when I work from home; cboUserName=Ann; cmdOptions_0\n"
        u"msgbox successfully created => OK\n"_s);
    k = control(false);
    QCOMPARE(k->ChatInit(), 0);
    QCOMPARE(m_desk.promptTexts(), (QStringList{u"form:Kivara - New Profile"_s,
                                                u"Your Kivara Profile was successfully created."_s}));
    QCOMPARE(CallState(k->CallStatus()), CallState::Idle);
    QCOMPARE(k->rooms().publicRoom().row(1).name(), u"Ann"_s);
    saved = ProfileRecord();
    QVERIFY(!LoadProfile(Deliverable::Quillon, saved));
    QCOMPARE((QStringList{saved.FullName, saved.City, saved.State, saved.UserStatus, saved.IPAddress,
                          QString::number(saved.LocalPort), saved.SerialNum}),
             (QStringList{u"Ann Example"_s, u"Springfield"_s, u"Oregon"_s, u"Available"_s, m_ip, u"8086"_s,
                          u"KV-ANN"_s}));
    QVERIFY(QFile::exists(m_computer->installDir() + u"Ann.kvp"_s));
}

// ---- Sending -------------------------------------------------------------------------

void TestControl::sendingAndLeaving()
{
    Peer bob(address(8, 3)), carl(address(8, 4)), dora(address(8, 5));
    auto k = start(8);
    QVERIFY(k);
    Room& pub = k->rooms().publicRoom();
    platform::Socket& socket = k->chatSocket();
    const auto toAll = [&](const QString& line) { return BroadcastToRoom(socket, k->rooms(), 0, line); };
    // Alone: nothing goes out.
    QCOMPARE(toAll(u"PUBCHAT|Ann|0|x"_s), 0);
    addParty(pub, PartyRecord(u"Bob"_s, bob.ip()));
    Participant c = addParty(pub, PartyRecord(u"Carl"_s, carl.ip()));
    addParty(pub, PartyRecord(u"Dora"_s, dora.ip(), u"Unavailable"_s));
    Participant eve = addParty(pub, PartyRecord(u"Eve"_s, QString()));
    k->ToggleIgnore(c);
    QVERIFY(c.dimmed());
    QCOMPARE(toAll(u"PUBCHAT|Ann|0|one"_s), 1);
    QCOMPARE(bob.next(), u"PUBCHAT|Ann|0|one"_s);
    QVERIFY(eve.dimmed()); // no address: dimmed, not sent to
    // Un-ignored (what it restores: the slash commands' case), Carl hears again.
    k->ToggleIgnore(c);
    QCOMPARE(toAll(u"PUBCHAT|Ann|0|two"_s), 2);
    QCOMPARE((QStringList{bob.next(), carl.next()}), QStringList(2, u"PUBCHAT|Ann|0|two"_s));

    // To one party by name, to its monitor, and by fallback: the result, and who hears it at that port.
    const auto toOne = [&](const QString& name, bool monitor, int result, Peer* hears) {
        const auto send = monitor ? SendToParticipantMonitor : SendToParticipant;
        QCOMPARE(send(socket, k->rooms(), 0, name, u"GIVEUP|Ann"_s), result);
        if (hears) QCOMPARE(hears->next(monitor ? MonitorDatagramPort : ChatDatagramPort), u"GIVEUP|Ann"_s);
    };
    toOne(u"Carl"_s, false, 0, &carl);
    toOne(u"Bob"_s, true, 0, &bob);
    toOne(u"Nobody"_s, false, -1, nullptr);
    // Empty name: the last destination stays (Bob's monitor host, now the chat port).
    toOne(QString(), false, 0, &bob);
    QCOMPARE(SendToPeerMonitor(socket, u"HELLO|x"_s), 0);
    QCOMPARE(bob.next(MonitorDatagramPort), u"HELLO|x"_s);
    // No remote host: the sender of the last datagram received.
    dora.sendTo(m_ip, u"STATUS|Dora|Unavailable"_s);
    QVERIFY(platform::WaitUntil([&] { return socket.RemoteHostIP() == dora.ip(); }, 5000));
    for (const bool monitor : {false, true}) {
        socket.setRemoteHost(QString());
        toOne(QString(), monitor, 0, &dora);
    }
    QVERIFY(bob.quiet() && carl.quiet() && dora.quiet());

    // Every send mode, to Bob alone in the public room.
    pub.keepOnlyOwnRow();
    const QString own = u"Ann|Available|ann@example.org|%1|hi there|KV-ANN||2"_s.arg(m_ip);
    const UserRecord b = PartyRecord(u"Bob"_s, bob.ip());
    addParty(k->rooms().publicRoom(), b);
    k->setProperty("RemoteHost", bob.ip());
    // Sends in a mode; Bob gets the line at the chat port.
    auto sends = [&](short mode, const QString& data, const QString& data2, const QString& line) {
        QCOMPARE(k->DataSend(mode, data, data2), 0);
        QCOMPARE(bob.next(), line);
    };

    QCOMPARE(k->DataSend(0), 0);
    QCOMPARE(bob.next(MonitorDatagramPort), u"HELLO|"_s + own);
    k->setProperty("RemoteHost", bob.ip());
    sends(3, {}, {}, u"ROOMLIST|PUBLIC|"_s + own + u'|' + b.text());
    sends(5, u"Bob"_s, u"SILENT"_s, u"GETUSER|Ann|SIMPLE|Bob|SILENT"_s);
    sends(5, u"Bob"_s, u"NORMAL"_s, u"GETUSER|Ann|SIMPLE|Bob|NORMAL"_s);
    sends(7, u"Hello, Bob"_s, {}, u"PUBCHAT|Ann|0|Hello, Bob"_s);
    QVERIFY(k->rooms().publicRoom().transcript.toPlainText().endsWith(u"Ann\tHello, Bob\n"_s));
    sends(9, {}, {}, u"STATUS|Ann|Available"_s);
    QVERIFY(k->rooms().publicRoom().transcript.toPlainText().endsWith(
        u"[Ann]\thas changed status to 'Available'.\n"_s));
    sends(10, u"Ann|Anna"_s, {}, u"NICKNAME|Ann|Anna"_s);
    sends(11, u"Bob"_s, {}, u"GETUSER|Ann|PROFILE|Bob"_s);
    sends(18, u"Bob"_s, {}, u"NOFILE|Ann"_s);
    sends(20, {}, {}, u"UPDATE|"_s + own);
    k->setProperty("RemoteHost", bob.ip());
    sends(19, {}, {}, u"GIVEUP|Ann"_s);

    // File offer: the path's file title and size, the own address and the file port.
    const QString path = QDir::tempPath() + u"/notes.txt"_s;
    QVERIFY(test::WriteBytes(path, "12345"));
    sends(14, u"Bob"_s, path, u"FILEPREP|Ann|notes.txt|5|%1|8087"_s.arg(m_ip));
    QCOMPARE(k->panelText(1), u"Sending file notes.txt to Bob..."_s);
    QVERIFY(k->findChild<QPushButton*>(u"cmdCancel"_s)->isVisibleTo(k.get()));
    // Without a path the file dialog asks; cancelling it sends nothing.
    QCOMPARE(k->DataSend(14, u"Bob"_s), -1);
    QCOMPARE(lastPrompt().kind + u':' + lastPrompt().title, u"open:Select file to send..."_s);

    // Removal: asked first; Yes sends the line, then DUMPUSER (No: /kick in everySlashCommand).
    m_desk.rules(u"msgbox ^Disconnect 'Bob' \\?$ => Yes"_s);
    QCOMPARE(k->DataSend(12, u"Bob"_s), 0);
    QCOMPARE(bob.take(2), (QStringList{u"PUBCHAT|Ann|0|disconnected Bob"_s, u"DUMPUSER|Ann|Bob"_s}));
    QVERIFY(k->rooms().publicRoom().findRow(u"Bob"_s).isNull());

    // Leaving the public room: the farewell line first, when set.
    addParty(k->rooms().publicRoom(), b);
    WriteSetting(settings::LeaveMsg, u"Bye all"_s);
    QCOMPARE(k->DataSend(4, u"Public"_s, u"0"_s), 0);
    QCOMPARE(bob.take(2), (QStringList{u"PUBCHAT|Ann|0|Bye all"_s, u"LEAVE|Ann|Public"_s}));
    WriteSetting(settings::LeaveMsg, QString());

    // Private: PRICHAT with the own record; OPENPRI is not echoed; LEAVE names the sender.
    QCOMPARE(k->OpenPrivateRoom(PriChatFields(b)), short(1));
    sends(8, u"OPENPRI"_s, {}, u"PRICHAT|"_s + own + u"|0|OPENPRI"_s);
    sends(8, u"just us"_s, {}, u"PRICHAT|"_s + own + u"|0|just us"_s);
    // Modes without a message, and blank chat lines (modes 7 and 8), send nothing.
    for (short m : {1, 2, 6, 13, 15, 16, 17, 21, 99, -1, 7, 8})
        QCOMPARE(k->DataSend(m, m == 7 || m == 8 ? u"   "_s : u"Bob"_s, u"x"_s), 0);
    QCOMPARE(k->rooms().at(1).transcript.toPlainText(),
             u"Now chatting in Bob's private room...\nAnn\tjust us\n"_s);
    sends(4, u"Bob"_s, u"1"_s, u"LEAVE|Ann|Ann"_s);

    pub.keepOnlyOwnRow();
    // In a call with Bob in the public room and in a private room, and Carl in another.
    const auto inCall = [&](bool bobsRoom) {
        addParty(k->rooms().publicRoom(), PartyRecord(u"Bob"_s, bob.ip()));
        if (bobsRoom) k->OpenPrivateRoom(PriChatFields(PartyRecord(u"Bob"_s, bob.ip())));
        k->OpenPrivateRoom(PriChatFields(PartyRecord(u"Carl"_s, carl.ip())));
        k->setCallStatus(short(CallState::Connected));
    };
    inCall(true);
    k->setProperty("RemoteHost", bob.ip());
    m_desk.rules(u"msgbox currently in a call => No"_s);
    QCOMPARE(k->Disconnect(true), -1);
    QCOMPARE(lastPrompt().text,
             u"You are currently in a call.  If you exit, you will be diconnected.\r\rExit now?"_s);
    m_desk.rules(u"msgbox currently in a call => Yes"_s);
    QCOMPARE(k->Disconnect(true), 0);
    QCOMPARE(bob.take(3), (QStringList{u"GIVEUP|Ann"_s, u"LEAVE|Ann|Ann"_s, u"LEAVE|Ann|Public"_s}));
    QCOMPARE(carl.next(), u"LEAVE|Ann|Ann"_s);
    QCOMPARE(k->rooms().count(), 1);
    QCOMPARE(k->rooms().publicRoom().rowCount(), 1);
    // Out of the call, ready to place another.
    QCOMPARE(CallState(k->CallStatus()), CallState::Idle);
    QCOMPARE(k->panelText(3), u"Waiting for call..."_s);

    // Closing the form in a call leaves every room, as /quit does.
    inCall(false);
    k.reset();
    QCOMPARE(carl.next(), u"LEAVE|Ann|Ann"_s);
    QCOMPARE(bob.next(), u"LEAVE|Ann|Public"_s);
    QVERIFY(bob.quiet() && carl.quiet());
}

// ---- Rooms ---------------------------------------------------------------------------

void TestControl::menusClosingAndDropping()
{
    Peer bob(address(10, 3)), carl(address(10, 4));
    auto k = start(10);
    QVERIFY(k);
    const UserRecord b = PartyRecord(u"Bob"_s, bob.ip());
    addParty(k->rooms().publicRoom(), b);
    QMenu* menu = k->findChild<QMenu*>(u"mnuUser"_s);
    QTreeView* list = k->roomView(0).list;
    // The menu as prepared for the row: its visible items, its default.
    const auto menuFor = [&](int row) {
        list->setCurrentIndex(list->model()->index(row, 0));
        k->PrepareUserMenu();
        QStringList items;
        for (QAction* a : menu->actions())
            if (a->isVisible()) items << a->objectName().section(u'_', -1);
        return items << menu->defaultAction()->objectName();
    };

    QCOMPARE(menuFor(0), (QStringList{u"0"_s, u"1"_s, u"14"_s, u"mnuUser_0"_s}));
    QCOMPARE(k->property("SelectedUser").toStringList().value(0), u"Ann"_s);
    // "View Peerslip" on oneself asks to edit the profile instead.
    m_desk.rules(u"msgbox chosen yourself => No"_s);
    k->UserMenu_Click(5);
    QCOMPARE(lastPrompt().text, u"You have chosen yourself.\r\rWould you like to edit your profile ?"_s);
    k->UserMenu_Click(6);
    QCOMPARE(m_desk.prompt->log().size(), 2);

    QCOMPARE(menuFor(1), (QStringList{u"2"_s, u"3"_s, u"4"_s, u"5"_s, u"6"_s, u"7"_s, u"8"_s, u"9"_s, u"10"_s,
                                      u"11"_s, u"13"_s, u"14"_s, u"mnuUser_5"_s}));
    QCOMPARE(k->property("SelectedUser").toStringList(),
             (QStringList{u"Bob"_s, u"Available"_s, u"bob@example.org"_s, bob.ip(), u"note of Bob"_s,
                          u"KV-BOB"_s}));
    k->UserMenu_Click(5);
    k->UserMenu_Click(6);
    QCOMPARE(bob.take(2), (QStringList{u"GETUSER|Ann|PROFILE|Bob"_s, u"GETUSER|Ann|SIMPLE|Bob|NORMAL"_s}));
    for (const bool ignored : {true, false}) {
        k->UserMenu_Click(8);
        QCOMPARE(k->rooms().publicRoom().row(2).availability(), ignored ? u"Ignored"_s : u"Available"_s);
        QCOMPARE(k->findChild<QAction*>(u"mnuUser_8"_s)->isChecked(), ignored);
    }
    k->UserMenu_Click(11);
    QCOMPARE(bob.next().section(u'|', -1), u"OPENPRI"_s);
    QCOMPARE(k->rooms().currentTag, u"Bob"_s);
    // With a private room: "Close Private Room" instead of "Open".
    k->OpenPrivateRoom(PriChatFields(b));
    k->SwitchRoom(0);
    QCOMPARE(menuFor(1), (QStringList{u"2"_s, u"3"_s, u"4"_s, u"5"_s, u"6"_s, u"7"_s, u"8"_s, u"9"_s, u"10"_s,
                                      u"12"_s, u"13"_s, u"14"_s, u"mnuUser_5"_s}));
    // Room details: the detail columns as wide as the name column, then gone again.
    k->UserMenu_Click(14);
    for (int i = 0; i < k->rooms().count(); ++i) {
        QTreeView* l = k->roomView(i).list;
        QVERIFY(l->columnWidth(ColAvailability) > 0);
        QCOMPARE(l->columnWidth(ColSerial), l->columnWidth(ColName));
    }
    k->UserMenu_Click(14);
    QCOMPARE(list->columnWidth(ColComment), 0);

    // Availability menu: check mark, panel, own rows in every room, the announcement.
    k->StatusMenu_Click(4);
    QCOMPARE(bob.next(), u"STATUS|Ann|On the Phone"_s);
    QCOMPARE((QStringList{k->panelText(2), k->panelPicture(2), k->rooms().at(1).row(1).availability()}),
             (QStringList{u"On the Phone"_s, u"away"_s, u"On the Phone"_s}));
    QVERIFY(k->findChild<QAction*>(u"mnuStatus_4"_s)->isChecked());
    QVERIFY(!k->findChild<QAction*>(u"mnuStatus_0"_s)->isChecked());
    k->StatusMenu_Click(0);
    QCOMPARE(bob.next(), u"STATUS|Ann|Available"_s);
    QCOMPARE(k->panelPicture(2), u"available"_s);
    // Separator does nothing.
    k->StatusMenu_Click(2);
    // A row's tooltip is its availability.
    QCOMPARE(list->model()->index(1, ColEmail).data(Qt::ToolTipRole).toString(), u"Available"_s);

    const UserRecord c = PartyRecord(u"Carl"_s, carl.ip());
    k->OpenPrivateRoom(PriChatFields(c));
    // Closes the tag's room from its menu, answering the question.
    const auto closeFromMenu = [&](const QString& tag, const QString& answer) {
        m_desk.rules(u"msgbox ^Close => "_s + answer);
        k->rooms().menuTag = tag;
        k->PrivateMenu_Click(0);
        return lastPrompt().text;
    };
    QCOMPARE(closeFromMenu(u"Bob"_s, u"No"_s), u"Close Bob's private room ?"_s);
    QCOMPARE(k->rooms().count(), 3);
    // Carl is not in the public room: closing ends the call, and the question says so.
    QCOMPARE(closeFromMenu(u"Carl"_s, u"Yes"_s),
             u"Close Carl's private room ?\r\rClosing this private room will disconnect the call."_s);
    QCOMPARE(carl.next(), u"LEAVE|Ann|Ann"_s);
    k->ConfirmClosePrivateRoom(u"Carl"_s); // the room is gone
    QCOMPARE(lastPrompt().text, u"Private room not found."_s);
    // From the participant menu of the public room.
    k->SwitchRoom(0);
    list->setCurrentIndex(list->model()->index(1, 0));
    k->UserMenu_Click(12);
    QCOMPARE(bob.next(), u"LEAVE|Ann|Ann"_s);
    QCOMPARE(k->rooms().count(), 1);
    QVERIFY(!k->roomView(0).button->isVisibleTo(k.get()));

    // Dropped on Bob's room button, Carl learns Bob's availability, not that Bob is ignored here.
    addParty(k->rooms().publicRoom(), c);
    k->OpenPrivateRoom(PriChatFields(b));
    k->SwitchRoom(0);
    m_desk.rules(u"msgbox has been added => OK"_s);
    k->ToggleIgnore(k->rooms().at(1).findRow(u"Bob"_s));
    k->DropParticipantOnRoom(1, u"Carl"_s);
    const QString roomList =
        u"ROOMLIST|Bob|Ann|Available|ann@example.org|%1|hi there|KV-ANN||2|"_s.arg(m_ip) + b.text();
    QCOMPARE(carl.next(), roomList);
    QCOMPARE(m_desk.promptTexts(), QStringList{u"Carl has been added to Bob room."_s});
    QCOMPARE(k->rooms().at(1).findRow(u"Carl"_s).record(), c);
    // Again: the row is refreshed, not doubled, and nobody is told.
    k->DropParticipantOnRoom(1, u"Carl"_s);
    QCOMPARE(carl.next(), roomList + u'|' + c.text());
    QCOMPARE(k->rooms().at(1).rowCount(), 3);
    QCOMPARE(m_desk.promptTexts().size(), 1);

    // The availability announced, and kept in the profile and the Peerslip.
    k->SetStatus(u"Out of Office"_s);
    QCOMPARE((QStringList{bob.next(), carl.next()}), QStringList(2, u"STATUS|Ann|Out of Office"_s));
    ProfileRecord saved;
    LoadProfile(Deliverable::Quillon, saved);
    QCOMPARE(saved.UserStatus + u'/' + ReadPeerslipFile(PeerslipPath(u"Ann"_s))->UserStatus,
             u"Out of Office/Out of Office"_s);
    // Field, whose (none: the user's own), answer.
    addParty(k->rooms().publicRoom(), PartyRecord(u"Dan"_s, address(10, 5), u"Stepped Out"_s, u"4"_s));
    const std::tuple<int, QString, QString> fields[] = {
        {0, QString(), u"Ann"_s},        {3, u"Ann"_s, m_ip},         {7, QString(), u"2"_s},
        {1, u"Dan"_s, u"Stepped Out"_s}, {6, u"Dan"_s, QString()},    {7, u"Dan"_s, u"4"_s},
        {2, u"Nobody"_s, u"Unknown"_s},  {8, u"Dan"_s, u"Unknown"_s}, {-1, QString(), u"Unknown"_s}};
    for (const auto& [field, whose, answer] : fields)
        QCOMPARE(k->UserProfile(short(field), whose), answer);

    const QStringList slip = {u"SHOWUSER"_s, u"Bob B"_s, u""_s, u"bob@example.org"_s};
    QCOMPARE(k->ShowUser(slip), 0);
    const auto& shown = m_desk.shell->calls().at(0);
    QCOMPARE(shown.arguments, QStringList{u"SHOWUSER|Bob B||bob@example.org"_s});
    QCOMPARE(shown.workingDir, m_computer->home());
    m_desk.shell->result = false;
    QCOMPARE(k->ShowUser(slip), -1);
}

// ---- Entry -------------------------------------------------------------------------

void TestControl::everySlashCommand()
{
    Peer bob(address(12, 3)), carl(address(12, 4));
    auto k = start(12);
    QVERIFY(k);
    Room& pub = k->rooms().publicRoom();
    const UserRecord b = PartyRecord(u"Bob"_s, bob.ip());
    addParty(pub, b);
    addParty(pub, PartyRecord(u"Carl"_s, carl.ip()));
    const QString openPri =
        u"PRICHAT|Ann|Available|ann@example.org|%1|hi there|KV-ANN||2|0|OPENPRI"_s.arg(m_ip);

    QVERIFY(!k->RunCommandLine(u"hello /msg"_s));
    for (const QString& line : {u"/"_s, u"\\"_s, u"/frobnicate Bob"_s})
        QVERIFY(k->RunCommandLine(line));

    k->RunCommandLine(u"/cmdlist"_s);
    // Under its name, one paragraph a line, and an empty line after it.
    const QString list =
        CommandListName.toString() + u'\t' + CommandListText().replace(u"\r\n"_s, u"\n"_s) + u"\n\n"_s;
    QCOMPARE(pub.transcript.toPlainText(), list);
    k->RunCommandLine(u"/CMDLIST"_s);
    QCOMPARE(pub.transcript.toPlainText(), list + list);

    for (const QString& help : {u"/help"_s, u"/HELP"_s, u"\\help"_s, u"/?"_s, u"/Help me"_s})
        QVERIFY(k->RunCommandLine(help));
    QCOMPARE(m_desk.shell->calls().size(), 5);
    for (const auto& call : m_desk.shell->calls())
        QCOMPARE(call.kind + u' ' + call.target, u"open "_s + m_computer->installDir() + u"quillon.htm"_s);

    for (const QString& word : {u"msg"_s, u"query"_s, u"PRIVATE"_s})
        k->RunCommandLine(u"/"_s + word + u" Carl"_s);
    QCOMPARE(carl.take(3), QStringList(3, openPri));
    QCOMPARE(k->rooms().currentTag, u"Carl"_s);
    // No name: to the peer the last datagram came from.
    bob.sendTo(m_ip, u"STATUS|Bob|Available"_s);
    QVERIFY(platform::WaitUntil([&] { return k->chatSocket().RemoteHostIP() == bob.ip(); }, 5000));
    k->chatSocket().setRemoteHost(QString());
    k->RunCommandLine(u"/msg"_s);
    QCOMPARE(bob.next(), openPri);

    // Leaving the public room empties it and ends the call, ready for the next.
    auto rejoin = [&] {
        addParty(pub, b);
        addParty(pub, PartyRecord(u"Carl"_s, carl.ip()));
        k->setCallStatus(short(CallState::Connected));
    };
    for (const QString& word : {u"part"_s, u"leave"_s, u"Quit"_s, u"leave Public"_s}) {
        k->RunCommandLine(u"/"_s + word);
        QCOMPARE((QStringList{bob.next(), carl.next()}), QStringList(2, u"LEAVE|Ann|Public"_s));
        QCOMPARE(pub.rowCount(), 1);
        QCOMPARE(CallState(k->CallStatus()), CallState::Idle);
        QCOMPARE(k->panelText(3), u"Waiting for call..."_s);
        rejoin();
    }
    // A private room closes; the public room and its call stay.
    for (const QString& line : {u"/part"_s, u"/part Bob"_s}) {
        k->OpenPrivateRoom(PriChatFields(b));
        k->RunCommandLine(line);
        QCOMPARE(bob.next(), u"LEAVE|Ann|Ann"_s);
        QCOMPARE(k->rooms().count(), 1);
    }
    // The public room left while a private one is open: its call goes on there.
    k->OpenPrivateRoom(PriChatFields(b));
    k->RunCommandLine(u"/leave Public"_s);
    QCOMPARE((QStringList{bob.next(), carl.next()}), QStringList(2, u"LEAVE|Ann|Public"_s));
    QCOMPARE(CallState(k->CallStatus()), CallState::Connected);
    k->RunCommandLine(u"/part Nobody"_s);
    QCOMPARE(k->rooms().count(), 2);
    k->RunCommandLine(u"/part"_s);
    QCOMPARE(bob.next(), u"LEAVE|Ann|Ann"_s);
    QCOMPARE(CallState(k->CallStatus()), CallState::Idle);
    rejoin();
    k->SwitchRoom(0);

    k->RunCommandLine(u"/away"_s);
    QCOMPARE((QStringList{bob.next(), carl.next()}), QStringList(2, u"STATUS|Ann|Be Right Back"_s));
    QCOMPARE(k->panelText(2), u"Be Right Back"_s);

    const Participant carlRow = pub.findRow(u"Carl"_s);
    for (const QString& word : {u"ban"_s, u"IGNORE"_s}) {
        k->RunCommandLine(u"/"_s + word + u" Carl"_s);
        QCOMPARE(carlRow.availability() + u'/' + carlRow.savedAvailability(), u"Ignored/Available"_s);
        k->RunCommandLine(u"\\"_s + word + u" Carl"_s);
        QCOMPARE(carlRow.availability() + u'/' + carlRow.savedAvailability(), u"Available/"_s);
        QVERIFY(!carlRow.dimmed());
    }
    k->RunCommandLine(u"/ban"_s);
    k->RunCommandLine(u"/ignore carl"_s); // names are exact
    QCOMPARE(carlRow.availability(), u"Available"_s);
    k->RunCommandLine(u"/ignore Ann"_s); // row 1 is the user's own
    QVERIFY(!pub.row(1).isIgnored());

    m_desk.rules(u"msgbox ^Disconnect 'Carl' => No"_s);
    for (const QString& line : {u"/kick Carl"_s, u"/kick"_s, u"/kick Ann"_s})
        k->RunCommandLine(line);
    QCOMPARE(m_desk.promptTexts(), QStringList{u"Disconnect 'Carl' ?"_s});
    QCOMPARE(pub.row(1).name(), u"Ann"_s);
    m_desk.rules(u"msgbox ^Disconnect 'Carl' => Yes"_s);
    k->RunCommandLine(u"/disconnect Carl"_s);
    const QStringList removal = {u"PUBCHAT|Ann|0|disconnected Carl"_s, u"DUMPUSER|Ann|Carl"_s};
    QCOMPARE(bob.take(2), removal);
    QCOMPARE(carl.take(2), removal);
    QVERIFY(pub.findRow(u"Carl"_s).isNull());

    for (const QString& word : {u"user"_s, u"WhoIs"_s})
        k->RunCommandLine(u"/"_s + word + u" Bob"_s);
    QCOMPARE(bob.take(2), QStringList(2, u"GETUSER|Ann|PROFILE|Bob"_s));

    k->RunCommandLine(u"/nick"_s);
    QCOMPARE(k->property("KivaraName").toString(), u"Ann"_s);
    // Two blanks: the name keeps one leading blank.
    k->RunCommandLine(u"/nick  Annie"_s);
    QCOMPARE(bob.next(), u"NICKNAME|Ann| Annie"_s);
    QCOMPARE(k->property("KivaraName").toString() + u'/' + pub.row(1).name(), u" Annie/ Annie"_s);
    m_desk.rules(QString());
    k->RunCommandLine(u"/nick An|na"_s);
    QCOMPARE(m_desk.promptTexts().last(),
             u"A Chat name cannot contain the character \"|\".\r\rPlease choose another Chat name."_s);
    QCOMPARE(k->property("KivaraName").toString(), u" Annie"_s);
    QVERIFY(bob.quiet() && carl.quiet());
}

void TestControl::entryBoxAndChatNames()
{
    Peer bob(address(13, 3)), carl(address(13, 4));
    auto k = start(13);
    QVERIFY(k);
    const UserRecord b = PartyRecord(u"Bob"_s, bob.ip());
    addParty(k->rooms().publicRoom(), b);
    auto* box = k->findChild<QTextEdit*>(u"txtSend"_s);
    k->show();
    QVERIFY(QTest::qWaitForWindowExposed(k.get()));
    // Types the text and ends it with the key.
    const auto enter = [box](const QString& text, Qt::Key key = Qt::Key_Return) {
        QTest::keyClicks(box, text);
        QTest::keyClick(box, key);
    };

    enter(QString());
    QCOMPARE(m_desk.sound->events(), QStringList{u"beep"_s});
    enter(u"   "_s);
    QCOMPARE(box->toPlainText(), QString());
    QCOMPARE(k->rooms().publicRoom().transcript.toPlainText(), QString());

    enter(u"Hi Bob"_s, Qt::Key_Enter);
    QCOMPARE(bob.next(), u"PUBCHAT|Ann|0|Hi Bob"_s);
    QCOMPARE(box->toPlainText(), QString());
    enter(u"/whois Bob"_s);
    QCOMPARE(bob.next(), u"GETUSER|Ann|PROFILE|Bob"_s);

    k->OpenPrivateRoom(PriChatFields(b));
    enter(u"psst"_s);
    QCOMPARE(bob.next().section(u'|', 9), u"0|psst"_s);
    enter(u" "_s);

    // The edit menu follows the selection and the clipboard.
    QTest::keyClicks(box, u"abc"_s);
    box->selectAll();
    QTest::mouseClick(box->viewport(), Qt::RightButton);
    auto* editMenu = k->findChild<QMenu*>(u"mnuSendEdit"_s);
    QVERIFY(k->findChild<QAction*>(u"mnuSE_0"_s)->isEnabled());
    editMenu->hide();
    k->findChild<QAction*>(u"mnuSE_4"_s)->trigger();
    QCOMPARE(box->toPlainText(), QString());
    QTest::mouseClick(box->viewport(), Qt::RightButton);
    QVERIFY(!k->findChild<QAction*>(u"mnuSE_1"_s)->isEnabled());
    editMenu->hide();

    // Renamed with the private room in front: everybody in every room hears it, each once.
    addParty(k->rooms().publicRoom(), PartyRecord(u"Carl"_s, carl.ip()));
    m_desk.rules(u"input ^Enter new Chat name:$ => Anna"_s);
    QCOMPARE(k->ChangeUserName(), 0);
    QCOMPARE((QStringList{bob.next(), carl.next()}), QStringList(2, u"NICKNAME|Ann|Anna"_s));
    // So does the rest of the profile.
    QCOMPARE(k->DataSend(20), 0);
    const QString update = u"UPDATE|Anna|Available|ann@example.org|%1|hi there|KV-ANN||2"_s.arg(m_ip);
    QCOMPARE((QStringList{bob.next(), carl.next()}), QStringList(2, update));
    QCOMPARE(k->rooms().publicRoom().row(1).name() + u'/' + k->rooms().at(1).row(1).name(), u"Anna/Anna"_s);
    k->SwitchRoom(0);
    QVERIFY(QFile::exists(m_computer->installDir() + u"Anna.kvp"_s));
    QVERIFY(!QFile::exists(m_computer->installDir() + u"Ann.kvp"_s));
    // A participant's name is refused, whichever room holds it.
    const QString inUse = ChatNameInUseBefore.toString() + u"Carl"_s;
    QCOMPARE(k->ChangeUserName(u"Carl"_s), -1);
    QVERIFY(lastPrompt().text.startsWith(inUse));
    QVERIFY(bob.quiet() && carl.quiet());

    // In place: only the own row is editable; an edit renames, a bad one is put back.
    QTreeView* list = k->roomView(0).list;
    QAbstractItemModel* rows = list->model();
    const QModelIndex own = rows->index(0, ColName);
    QVERIFY(own.flags() & Qt::ItemIsEditable);
    QVERIFY(!(rows->index(1, ColName).flags() & Qt::ItemIsEditable));
    QVERIFY(rows->setData(own, u"Annie"_s));
    QCOMPARE(bob.next(), u"NICKNAME|Anna|Annie"_s);
    QCOMPARE(k->property("KivaraName").toString() + u'/' + own.data().toString(), u"Annie/Annie"_s);
    for (const QString& bad : {u"Ann|ie"_s, QString(), u"Bob"_s}) {
        rows->setData(own, bad);
        QCOMPARE(own.data().toString(), u"Annie"_s);
        if (bad.contains(u'|'))
            QCOMPARE(lastPrompt().text, u"A Chat name cannot contain the character \"|\".\r\r"
                                        u"Please choose another Chat name."_s);
    }
    QVERIFY(lastPrompt().text.startsWith(ChatNameInUseBefore.toString() + u"Bob"_s));
    // So is a participant's name chosen in the options dialog; it stays open until cancelled.
    m_desk.rules(u"form ^Options$ => cboUserName=Carl; cmdOptions_0\nmsgbox .* => OK\n"_s);
    QTimer cancel;
    connect(&cancel, &QTimer::timeout, this, [&] {
        if (m_desk.prompt->log().size() < 2) return;
        for (QDialog* d : k->findChildren<QDialog*>())
            if (d->isVisible()) d->reject();
    });
    cancel.start(10);
    list->setCurrentIndex(list->model()->index(0, 0));
    Q_EMIT list->doubleClicked(list->currentIndex());
    QVERIFY(lastPrompt().text.startsWith(inUse));
    QVERIFY(bob.next().startsWith(u"UPDATE|Annie|"_s)); // the settings are reloaded, the name kept
    QVERIFY(bob.quiet());
    ProfileRecord saved;
    LoadProfile(Deliverable::Quillon, saved);
    QCOMPARE(saved.ChatName, u"Annie"_s);
}

KV_TEST_MAIN(TestControl)
#include "tst_control.moc"
