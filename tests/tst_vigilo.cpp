// The tray monitor in one simulated computer (127.80.<case>.2) with callers
// played at the protocol level by datagram sockets on 127.80.<case>.3, and the
// contact form's chat control played by a recording stand-in on a headless
// window side. The offscreen desktop has no tray: the window stays on it,
// minimised, and notices go to the desktop's notification service.
#include "Vigilo/Monitor/CommandLine.h"
#include "Vigilo/Monitor/MonitorStore.h"
#include "Vigilo/Monitor/NetworkCheck.h"
#include "Vigilo/Monitor/frmOptions.h"
#include "Vigilo/Monitor/frmTray.h"
#include "Vigilo/Monitor/modTray.h"

#include "Platform/HostLookup.h"
#include "Platform/LauncherBadge.h"
#include "Platform/Notify.h"
#include "Platform/Outlook/FormRegistry.h"
#include "Platform/Outlook/Store.h"
#include "Platform/Outlook/WindowSide.h"
#include "Platform/Shell.h"
#include "Platform/Socket.h"
#include "Platform/Sound.h"
#include "Shared/Protocol.h"
#include "Shared/modMisc.h"
#include "Shared/modReg.h"
#include "Shared/modUser.h"
#include "testing/CallPeer.h"
#include "testing/Desk.h"
#include "testing/FormCheck.h"
#include "testing/SimComputer.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDBusConnection>
#include <QDialog>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QUdpSocket>
#include <chrono>
#include <functional>
#include <thread>
#include <utility>

using namespace Qt::StringLiterals;
using namespace kv;
using namespace kv::vigilo;
namespace ol = kv::outlook;
using kv::test::PartyRecord;
using Caller = kv::test::CallPeer;

namespace {

QString address(int testCase, int host)
{
    return u"127.80.%1.%2"_s.arg(testCase).arg(host);
}

ProfileRecord storedProfile()
{
    ProfileRecord p;
    LoadProfile(Deliverable::Vigilo, p);
    return p;
}

QString monitorSetting(const QString& name)
{
    return ReadSetting(u"Vigilo"_s, name, QString());
}

// The chat control on a contact form, as the monitor reaches it: by member name.
class FakeControl : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool TrayOpened READ TrayOpened WRITE setTrayOpened)
    Q_PROPERTY(QString RemoteHost MEMBER remoteHost)
    Q_PROPERTY(int RemotePort MEMBER remotePort)
public:
    static inline QList<FakeControl*> all;
    // Runs inside DataPass, while the monitor waits for the form to take the call.
    static inline std::function<void()> duringDataPass;
    FakeControl() { all << this; }
    ~FakeControl() override { all.removeAll(this); }
    bool TrayOpened() const { return trayOpened; }
    void setTrayOpened(bool v)
    {
        trayOpened = v;
        calls << u"TrayOpened=%1"_s.arg(v);
    }
    Q_INVOKABLE int DataPass(const QString& text)
    {
        record(u"DataPass "_s + text);
        if (duringDataPass) std::exchange(duringDataPass, nullptr)();
        return 0;
    }
    Q_INVOKABLE void SetStatus(const QString& s) { record(u"SetStatus "_s + s); }
    Q_INVOKABLE int ChangeUserName(const QString& s) { return record(u"ChangeUserName "_s + s); }
    Q_INVOKABLE int Connect(const QString& = QString(), int = 0)
    {
        return record(u"Connect "_s + remoteHost + u':' + QString::number(remotePort));
    }
    int record(const QString& call)
    {
        calls << call;
        return 0;
    }
    bool trayOpened = false;
    QString remoteHost;
    int remotePort = 0;
    QStringList calls;
};

using Actions = QList<std::pair<QString, QString>>;
const Actions CallActions{{u"answer"_s, u"Answer"_s}, {u"ignore"_s, u"Ignore"_s}};
const Actions MessageActions{{u"open"_s, u"Open"_s}};

// The desktop's notification service, as far as the monitor uses it.
class NotificationService : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
    Q_PROPERTY(bool Inhibited MEMBER inhibited SCRIPTABLE true)
public:
    static constexpr uint Id = 41;
    Q_SCRIPTABLE uint Notify(const QString&, uint, const QString&, const QString&, const QString& body,
                             const QStringList& actions, const QVariantMap&, int timeout)
    {
        notified << body + u'|' + actions.join(u'|') + u'|' + QString::number(timeout);
        return Id;
    }
    Q_SCRIPTABLE void CloseNotification(uint) {}
    bool inhibited = true;
    QStringList notified;
Q_SIGNALS:
    Q_SCRIPTABLE void ActionInvoked(uint id, const QString& key);
};

// firewalld's zones as its bus interface answers them: eth0 is in "home", which
// opens the datagram ports only; the default zone has the product's service.
class FirewalldStandIn : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.fedoraproject.FirewallD1.zone")
public:
    Q_SCRIPTABLE QString getZoneOfInterface(const QString& name)
    {
        return name == u"eth0" ? u"home"_s : QString();
    }
    Q_SCRIPTABLE bool queryService(const QString& zone, const QString& service)
    {
        return zone.isEmpty() && service == u"kivara";
    }
    Q_SCRIPTABLE bool queryPort(const QString& zone, const QString&, const QString& protocol)
    {
        return zone == u"home" && protocol == u"udp";
    }
};

// The window as a list of what the port asked of it, in order.
struct Recorder : CallPortWindow {
    QStringList calls;
    bool parked() const override { return true; }
    void park() override { calls << u"park"_s; }
    void applyStatus(const QString& text) override { calls << u"status "_s + text; }
    void callRinging() override { calls << u"ringing"_s; }
    void playRing() override { calls << u"ring"_s; }
    void callShown(const QString& name) override { calls << u"shown "_s + name; }
    void handOff(const QStringList& f, const QString& ip) override { calls << f[1] + u" from "_s + ip; }
    void callEnded() override { calls << u"ended"_s; }
    void handOffReturned(bool wasParked) override { calls << u"returned %1"_s.arg(wasParked ? 1 : 0); }
    void notify(NoticeKind, const QString& text) override { calls << u"notify "_s + text; }
};

} // namespace

class TestVigilo : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void cleanup();
    void commandLine();
    void applyStatusAndCombos();
    void startingUp();
    void ringingAndHandOff();
    void callPortDatagrams();
    void optionsDialog();
    void closingPath();
    void networkCheck();

private:
    void computer(int testCase, bool withProfile = true);
    std::unique_ptr<frmTray> monitor(bool load = true);

    // A datagram handed to the monitor's call port as its socket hands it on.
    static void deliver(frmTray& tray, const QString& text, const QString& from, bool enciphered = true)
    {
        tray.callPort().HandleDatagram(enciphered ? FrameDatagram(text) : PlainDatagram(text), from);
    }

    std::unique_ptr<test::SimComputer> m_computer;
    std::shared_ptr<ol::HeadlessWindowSide> m_side;
    test::Desk m_desk;
    platform::RecordingNotifier* m_notifier = nullptr;
    QString m_ip;
};

void TestVigilo::cleanup()
{
    FakeControl::duringDataPass = nullptr;
    m_side.reset();
    ol::WindowSide::install(std::make_shared<ol::HeadlessWindowSide>());
    m_computer.reset();
}

void TestVigilo::computer(int testCase, bool withProfile)
{
    m_ip = address(testCase, 2);
    m_computer = std::make_unique<test::SimComputer>(m_ip, u"KV-ANN"_s);
    m_computer->activate();
    WriteSetting(settings::FirstRun, u"0"_s);
    m_side = std::make_shared<ol::HeadlessWindowSide>();
    m_side->setPageBuilder(ol::KivaraContactClass.toString(), u"Kivara"_s,
                           [](const std::shared_ptr<ol::Inspector>&, ol::HeadlessWindowSide::Page& page) {
                               page.addControl(u"Kivara1"_s, new FakeControl);
                           });
    ol::WindowSide::install(m_side);
    m_desk.install();
    auto notifier = std::make_unique<platform::RecordingNotifier>();
    m_notifier = notifier.get();
    platform::Notifier::install(std::move(notifier));
    if (withProfile) QCOMPARE(SaveProfile(test::AnnProfile(m_ip), QString()), 0);
}

std::unique_ptr<frmTray> TestVigilo::monitor(bool load)
{
    // A ring every tenth of a second; polled by hand.
    auto tray = std::make_unique<frmTray>(MonitorTimings{100, 3600000});
    if (load) tray->Load(QString());
    return tray;
}

void TestVigilo::commandLine()
{
    QCOMPARE(RawCommandLine({}), QString());
    // Each line as the arguments are written into it, and read back; a path that holds "-m" is a path.
    for (const auto& [line, path, addOnly] :
         {std::tuple{u"\"/home/a b/x.kvp\""_s, u"/home/a b/x.kvp"_s, false},
          {u"-m \"/p/bob.kvp\""_s, u"/p/bob.kvp"_s, true},
          {u"\"/home/jean-marc/x.kvp\""_s, u"/home/jean-marc/x.kvp"_s, false}}) {
        QCOMPARE(RawCommandLine(addOnly ? QStringList{u"-m"_s, path} : QStringList{path}), line);
        const auto parsed = ParsePeerslipArgument(line);
        QVERIFY2(parsed && parsed->path == path && parsed->addOnly == addOnly, qPrintable(line));
    }
    // The user's own Peerslip, in any case, is left alone; a line too short to hold a path is nothing,
    // and nothing is read out of range.
    for (const QString& line : {u"\"/p/Address.KVP\""_s, u"-m \"/x/ADDRESS.kvp\""_s, QString(), u"\""_s,
                                u"\"\""_s, u"-m"_s, u"-m \""_s, u"-m \"\""_s})
        QVERIFY2(!ParsePeerslipArgument(line), qPrintable(line));
}

void TestVigilo::applyStatusAndCombos()
{
    computer(1);
    WriteSetting(settings::MsgPrompt, u"1"_s);
    m_desk.rules(u"msgbox new Kivara message => No\n"_s);
    auto tray = monitor();
    QVERIFY(!tray->isUnloaded() && tray->isVisible() && tray->isMinimized());
    auto* combo = tray->findChild<QComboBox*>(u"cboUserName_1"_s);
    auto* names = tray->findChild<QComboBox*>(u"cboUserName_0"_s);
    auto* check = tray->popupMenu()->findChild<QAction*>(u"mnuS_4"_s);
    QVERIFY(check);
    // The chat names offered: the chat name and the full name, no more.
    QCOMPARE((QStringList{names->itemText(0), names->itemText(1), names->itemText(2)}),
             (QStringList{u"Ann"_s, u"Ann Example"_s, QString()}));
    // What the monitor shows of the availability: combo row, icon, tooltip, availability, stored one, and
    // whether the menu's "On the Phone" is checked.
    const auto shown = [&] {
        return u"%1|%2|%3|%4|%5|%6"_s.arg(combo->currentIndex())
            .arg(tray->iconIndex())
            .arg(tray->toolTip(), tray->availability(), storedProfile().UserStatus)
            .arg(check->isChecked() ? 1 : 0);
    };
    QCOMPARE(shown(), u"0|0|Available|Available|Available|0"_s);

    // The chat-name box: a cleared name or one holding "|" is refused and the name stays;
    // a name with blanks around it is saved without them.
    const auto commit = [&](const QString& text) {
        names->setEditText(text);
        QFocusEvent out(QEvent::FocusOut);
        QCoreApplication::sendEvent(names->lineEdit(), &out);
        return storedProfile().ChatName;
    };
    QCOMPARE(commit(u"  "_s), u"Ann"_s);
    QCOMPARE(names->currentText(), u"Ann"_s);
    QCOMPARE(commit(u"A|nn"_s), u"Ann"_s);
    QCOMPARE(m_desk.promptTexts().last(), SeparatorRefusalText(u"Chat Name"_s));
    QVERIFY(QFile::exists(PeerslipPath(u"Ann"_s)) && !QFile::exists(PeerslipPath(QString())));
    QCOMPARE(commit(u" Anna "_s), u"Anna"_s);
    QCOMPARE(commit(u"Ann"_s), u"Ann"_s);
    ProfileRecord empty = storedProfile();
    empty.ChatName.clear();
    QCOMPARE(SaveProfile(empty, u"Ann"_s), -1); // whoever asks
    QVERIFY(QFile::exists(PeerslipPath(u"Ann"_s)));

    // A change through the combo applies and saves the availability; the tray shows index 64.
    combo->setCurrentIndex(4);
    QCOMPARE(shown(), u"4|64|On the Phone|On the Phone|On the Phone|1"_s);
    QCOMPARE(storedProfile().IPAddress, m_ip);

    // The separator row stands for "Be Right Back".
    combo->setCurrentIndex(2);
    QCOMPARE(shown(), u"3|64|Be Right Back|Be Right Back|Be Right Back|0"_s);

    // The submenu applies its caption.
    tray->StatusMenuClick(6);
    QCOMPARE(shown(), u"6|64|Out of Office|Out of Office|Out of Office|0"_s);

    // A profile saved in the options dialog is stored as available, and the monitor shows so
    // (long texts are cut where the boxes end, so the profile fits its Peerslip).
    m_desk.rules(u"form Options => txtMyInfo_0=Ann Other; txtMyInfo_1=Harbour Freight and Logistics International Incorporated; "
                 u"txtMyInfo_2=ann.example.from.the.harbour.freight.office@logistics.example.org; txtMyInfo_5=Usually at my desk between nine and five, except on Fridays when I work from home; cmdOptions_0\n"_s);
    tray->OptionClick(1);
    QCOMPARE(shown(), u"0|0|Available|Available|Available|0"_s);
    tray->StatusMenuClick(6);

    // An unknown text from an old profile: row 0 and icon 0, but the text stays the availability.
    tray->ApplyStatus(u"Gone Fishing"_s);
    QCOMPARE(shown(), u"0|0|Gone Fishing|Gone Fishing|Gone Fishing|0"_s);

    // A new chat name typed and committed with Enter is saved, the rows refreshed, the window hidden.
    tray->ShowMonitor();
    names->setEditText(u"Annie"_s);
    QTest::keyClick(names->lineEdit(), Qt::Key_Return);
    QCOMPARE(storedProfile().ChatName + u'|' + names->itemText(0), u"Annie|Annie"_s);
    QVERIFY(tray->isVisible() && tray->isMinimized() && QFile::exists(PeerslipPath(u"Annie"_s)));

    auto* counter = tray->findChild<QLabel*>(u"lblMessages_0"_s);
    // A new store has no Messages folder: the first poll makes it (one welcome message) and counts 1.
    const int beepsAtStart = int(m_desk.sound->events().count(u"beep"_s));
    tray->ApplyStatus(u"On the Phone"_s);
    for (const QString& subject : {u"one"_s, u"two"_s})
        deliver(*tray, BuildMessage(PartyRecord(u"Bob"_s, address(1, 3)), subject, u"1"_s), address(1, 3));
    MonitorStore& store = tray->store();
    m_desk.rules(u"msgbox new Kivara message => No\n"_s);
    const int unread = store.messagesFolder().Items().Restrict(u"[MsgRead] = False"_s).Count();
    // The launcher's badge, on the desktop until now.
    auto recordingBadge = std::make_unique<platform::RecordingLauncherBadge>();
    const QStringList& badge = recordingBadge->counts();
    platform::LauncherBadge::install(std::move(recordingBadge));
    tray->Poll();
    // One beep and one question for the two (or three) new messages.
    QCOMPARE(int(m_desk.sound->events().count(u"beep"_s)) - beepsAtStart, 1);
    QCOMPARE(m_desk.promptTexts(),
             QStringList{u"A new Kivara message has arrived.  Would you like to read it now ?"_s});
    QCOMPARE(counter->text(), QString::number(unread) + u" unread"_s);
    // The icon's index even while not "Available".
    QVERIFY(tray->iconFamily() == IconFamily::Msg && tray->iconIndex() == iconindex::Available);

    // Reading one: no beep, the icon stays.
    const ol::Item first = store.messagesFolder().Items().Find(u"[MsgRead] = False"_s);
    first.UserProperties().Find(u"MsgRead"_s).setValue(true);
    QVERIFY(first.Save());
    tray->Poll();
    QCOMPARE(int(m_desk.sound->events().count(u"beep"_s)) - beepsAtStart, 1);
    QCOMPARE(counter->text(), QString::number(unread - 1) + u" unread"_s);
    QCOMPARE(tray->iconFamily(), IconFamily::Msg);
    tray->ApplyStatus(u"On the Phone"_s);
    QCOMPARE(tray->iconIndex(), iconindex::Other);

    // Reading all: the plain icon and "No new messages".
    for (const ol::Item& item : store.messagesFolder().Items()) {
        item.UserProperties().Find(u"MsgRead"_s).setValue(true);
        item.Save();
    }
    tray->Poll();
    tray->Poll();
    QCOMPARE(counter->text(), u"No new messages"_s);
    // The launcher's badge follows the count when it changes, and goes at none.
    const auto entry = [](int count) { return u"kivara-vigilo.desktop "_s + QString::number(count); };
    QCOMPARE(badge, (QStringList{entry(unread), entry(unread - 1), entry(0)}));
    QVERIFY(tray->iconFamily() == IconFamily::Plain && !tray->hasUnread() && tray->lastUnreadCount() == 0);

    // The counter label and the menu entries start the opener with their command words.
    QTest::mouseClick(counter, Qt::LeftButton);
    tray->MenuClick(1);
    tray->popupMenu()->findChild<QAction*>(u"mnuReceivedFiles"_s)->trigger();
    QList<QStringList> words;
    for (const auto& call : m_desk.shell->calls())
        words << call.arguments;
    QCOMPARE(words, (QList<QStringList>{{u"openkvmessage"_s}, {u"openkvfolder"_s}, {u"receivedfiles"_s}}));
    QVERIFY(m_desk.shell->calls()[0].target.endsWith(u"/dorvan"_s));

    // Mute and display-on-call toggle their check marks; both are saved when the monitor ends.
    tray->MenuClick(7);
    tray->MenuClick(8);
    for (const QString& entry : {u"mnuP_7"_s, u"mnuP_8"_s})
        QVERIFY(tray->popupMenu()->findChild<QAction*>(entry)->isChecked());
    // The network check shows its findings in a window of its own.
    tray->popupMenu()->findChild<QAction*>(u"mnuNetworkCheck"_s)->trigger();
    const auto* findings = tray->findChild<QDialog*>(u"frmNetworkCheck"_s);
    QTRY_VERIFY(findings->findChild<QPlainTextEdit*>()->toPlainText().contains(u"Announced: "_s + m_ip));
    QCOMPARE(test::FormFaults(tray.get()), QString()); // the window and the check it holds

    // A tray that appears later takes the window at the next poll; from then on it hides there.
    tray->setTrayProbe([] { return true; });
    tray->Poll();
    QVERIFY(tray->hasTrayIcon() && !tray->isVisible());
    tray->ShowMonitor();
    tray->findChild<QPushButton*>(u"cmdTray_1"_s)->click();
    QVERIFY(!tray->isVisible());
    m_desk.rules(u"msgbox Are you sure => Yes\n"_s);
    QVERIFY(tray->RequestClose());
    QCOMPARE(monitorSetting(u"UseMonSnd"_s) + monitorSetting(u"AutoAnswer"_s), u"01"_s);
}

void TestVigilo::startingUp()
{
    computer(3, false);
    WriteSetting(settings::FirstRun, u"1"_s);
    WriteSetting(settings::MsgBeep, u"0"_s);
    // The profile dialog cancelled: told, and the monitor ends without the exit question.
    m_desk.rules(u"form Options => cmdOptions_1\n"_s);
    auto failed = monitor(false);
    QVERIFY(!failed->Load(QString()) && failed->isUnloaded());
    QCOMPARE(m_desk.promptTexts(),
             (QStringList{u"form:Options"_s,
                          u"Your Kivara Profile was not found.\r\rYou must create a profile before "
                          "using Kivara for Microsoft Outlook."_s}));
    m_desk.rules(u"form Options => cboUserName=Zed; txtMyInfo_0=Zed Zero; cmdOptions_0\n"_s);
    auto tray = monitor(false);
    QVERIFY(tray->Load(u"\"/nowhere/address.kvp\""_s));
    // The first run opens the help page at its first-run topic and the product's folder, once.
    QCOMPARE(m_desk.shell->calls().size(), 2);
    QCOMPARE(m_desk.shell->calls()[0].target,
             u"file://"_s + m_computer->installDir() + u"quillon.htm#1005"_s);
    QCOMPARE(m_desk.shell->calls()[1].arguments, QStringList{u"openkvfolder"_s});
    // The Today page and the message settings the chat control reads (its own "Messages" default is
    // off) are stored once; a choice already made stays.
    QCOMPARE(ReadKeyValue(RegRoot::CurrentUser, TodayKey.toString(), TodayUrlValue.toString(), QString()),
             u"res://"_s + m_computer->installDir() + u"pellum.dll/Outlook.htm"_s);
    // The first run is over.
    QCOMPARE(ReadSetting(Deliverable::Quillon, settings::Messages) +
                 ReadSetting(Deliverable::Vigilo, settings::MsgBeep) +
                 ReadSetting(Deliverable::Vigilo, settings::FirstRun),
             u"100"_s);
    const ProfileRecord p = storedProfile();
    // The port others call and the chat type are the catalogue's, as a fresh system has them.
    QCOMPARE((QStringList{p.ChatName, p.FullName, p.UserStatus, p.IPAddress, p.SerialNum,
                          QString::number(p.LocalPort), QString::number(p.ChatType)}),
             (QStringList{u"Zed"_s, u"Zed Zero"_s, u"Available"_s, m_ip, u"KV-ANN"_s, u"8086"_s, u"1"_s}));
    QCOMPARE(tray->findChild<QComboBox*>(u"cboUserName_0"_s)->itemText(0), u"Zed"_s);
    // The user's own Peerslip on the command line is ignored: only the dialog was shown.
    QCOMPARE(m_desk.promptTexts(), QStringList{u"form:Options"_s});
    QCOMPARE(tray->callerLine(), u"Waiting for call..."_s);

    // This monitor holds the call port: a second one reports it and ends, without the exit question.
    m_desk.rules(QString());
    QVERIFY(!monitor(false)->Load(QString()));
    QCOMPARE(m_desk.promptTexts(), QStringList{u"Kivara Monitor is already running."_s});

    // No network at start: reported, the monitor keeps running and rebinds when the network returns.
    m_desk.rules(QString());
    const auto nameServer = [](const QString& server) {
        WriteKeyValue(RegRoot::LocalMachine, NameServerKey.toString(), NameServerValue.toString(), server);
    };
    nameServer(u"255.255.255.255"_s);
    tray = monitor(false);
    QVERIFY(tray->Load(QString()));
    QCOMPARE(m_desk.promptTexts(),
             QStringList{u"You are not connected to the network or Internet.\r\rYou must connect to "
                         "the network to receive incoming calls."_s});
    // Network state, icon, tooltip and the caller line.
    const auto shown = [&] {
        return u"%1|%2|%3|%4"_s.arg(tray->networkState())
            .arg(tray->iconIndex())
            .arg(tray->toolTip(), tray->callerLine());
    };
    QCOMPARE(shown(), u"1|2|No network available|No network available."_s);
    tray->ResetCallDisplay();
    QCOMPARE(tray->callerLine(), u"No network detected."_s);

    nameServer(u"127.0.0.1"_s);
    tray->Poll();
    // The tooltip is kept until the availability is next applied.
    QCOMPARE(shown(), u"0|0|No network available|Waiting for call..."_s);
    QCOMPARE(tray->socket().LocalPort(), MonitorDatagramPort);
    Caller bob(address(3, 3));
    // A word that is not the call port's is passed over; the HELLO queued behind it is answered.
    bob.sendToMonitor(m_ip, u"PUBCHAT|Bob|0|x"_s);
    bob.sendToMonitor(m_ip, BuildHello(PartyRecord(u"Bob"_s, bob.ip())));
    QCOMPARE(bob.next(), u"HELLOWAIT|Zed"_s);

    // Another program takes the call port while the network is away: told once when it returns,
    // shown on the caller line, and bound again at the first poll after the port is free.
    nameServer(u"255.255.255.255"_s);
    tray->Poll();
    tray->socket().Close();
    {
        QUdpSocket holder;
        QVERIFY(holder.bind(QHostAddress(m_ip), quint16(MonitorDatagramPort)));
        nameServer(u"127.0.0.1"_s);
        const QString taken = u"Another program holds the call port: no calls can arrive."_s;
        const qsizetype noticesBefore = m_notifier->shown().size();
        for (int poll = 0; poll < 2; ++poll) {
            tray->Poll();
            QCOMPARE(tray->callerLine(), taken);
        }
        QCOMPARE(m_notifier->shown().size(), noticesBefore + 1);
        QCOMPARE(m_notifier->shown().last().notice.text, taken);
    }
    tray->Poll();
    QCOMPARE(shown(), u"0|0|No network available|Waiting for call..."_s);
    bob.sendToMonitor(m_ip, BuildHello(PartyRecord(u"Bob"_s, bob.ip())));
    QCOMPARE(bob.next(), u"HELLOWAIT|Zed"_s);

    // A probe host by a name the resolver never answers: the check gives up within the lookup's
    // bound, and a call that comes meanwhile is answered at once.
    platform::HostLookup::setResolver([](const QString&) {
        std::this_thread::sleep_for(std::chrono::seconds(5));
        return platform::HostLookup::Answer();
    });
    const auto resolver = qScopeGuard([] { platform::HostLookup::setResolver({}); });
    nameServer(u"ns.kivara.test"_s);
    Caller carl(address(3, 4));
    QElapsedTimer clock;
    qint64 answeredMs = -1;
    QTimer watch;
    connect(&watch, &QTimer::timeout, this, [&] {
        if (answeredMs < 0 && carl.waiting() > 0) answeredMs = clock.elapsed();
    });
    QTimer::singleShot(200, this, [&] {
        clock.start();
        watch.start(5);
        carl.sendToMonitor(m_ip, BuildHello(PartyRecord(u"Carl"_s, carl.ip())));
    });
    tray->Poll();
    QVERIFY2(answeredMs >= 0 && answeredMs < 1000, qPrintable(QString::number(answeredMs)));
    QCOMPARE(tray->networkState(), short(1));
    QCOMPARE(carl.next(), u"HELLOWAIT|Zed"_s);
}

void TestVigilo::ringingAndHandOff()
{
    computer(5);
    auto tray = monitor();
    Caller bob(address(5, 3));
    // The form takes longer than the time-out to take the call: the waiting notice shows its texts.
    FakeControl::duringDataPass = [&] {
        QCOMPARE(tray->handOff().pendingTitle(), u"Kivara Monitor - Incoming Call..."_s);
        QCOMPARE(tray->handOff().pendingTimeoutMs(), 2500);
        QTRY_VERIFY(tray->handOff().pendingNotice() && tray->handOff().pendingNotice()->isVisible());
        QCOMPARE(tray->handOff().pendingNotice()->findChild<QLabel*>(u"lblPending"_s)->text(),
                 u"Kivara Monitor is waiting for you to respond to an incoming call.\n\nPlease switch "
                 "to the Kivara Contact Form window, and respond to the prompt."_s);
    };
    // A plain HELLO is answered plainly; the caller's stated address is replaced by the datagram's source.
    UserRecord r = PartyRecord(u"Bob"_s, u"10.9.9.9"_s);
    deliver(*tray, BuildHello(r), bob.ip(), false);
    QCOMPARE(bob.next(), u"<plain>HELLOWAIT|Ann"_s);
    r.ipAddress = bob.ip();
    QCOMPARE(FakeControl::all[0]->calls, (QStringList{u"TrayOpened=1"_s, u"DataPass HELLO|"_s + r.text()}));
    QTRY_VERIFY(!tray->handOff().pendingNotice()->isVisible());
    QVERIFY(tray->handOff().pendingTimeoutMs() == 5000 && tray->handOff().pendingTitle().isEmpty());

    // The caller's new contact is filled from the HELLO and left unsaved.
    const auto inspectors = m_side->openInspectors();
    QCOMPARE(inspectors.size(), 1);
    const ol::Item contact = inspectors[0]->CurrentItem();
    QStringList fields{contact.MessageClass(), contact.FullName(), contact.Email1Address()};
    for (const QString& name : {u"LocalHost"_s, u"LocalPort"_s, u"SerialNumber"_s})
        fields << contact.UserProperties().Find(name).Value().toString();
    QCOMPARE(fields, (QStringList{ol::KivaraContactClass.toString(), u"Bob"_s, u"bob@example.org"_s, bob.ip(),
                                  u"8086"_s, u"KV-BOB"_s}));
    QVERIFY(contact.EntryID().isEmpty() && !tray->ringing() && tray->isEnabled() && tray->isMinimized());
    QCOMPARE(m_notifier->notices().last(), u"Kivara for Microsoft Outlook: Incoming call from Bob"_s);

    // The host ended since the monitor connected: the hand-off connects afresh, starting a
    // new host, instead of failing on the connection that went with the old one.
    // Not to be disturbed meanwhile: no bell, and a notice that does not insist.
    QVERIFY(tray->store().HoldsFolder());
    m_side->setRunning(false);
    m_notifier->setInhibited(true);
    const qsizetype sounds = m_desk.sound->events().size();
    deliver(*tray, BuildHello(PartyRecord(u"Fay"_s, bob.ip())), bob.ip(), false);
    QCOMPARE(bob.next(), u"<plain>HELLOWAIT|Ann"_s);
    QVERIFY(!tray->ringing() && m_side->IsRunning() && m_desk.sound->events().size() == sounds);
    const platform::Notice quiet = m_notifier->shown().last().notice;
    QVERIFY(quiet.urgency == platform::Notice::Urgency::Low && quiet.transient && !quiet.persistent &&
            quiet.actions == CallActions && m_desk.promptTexts().isEmpty());

    // Display on call, and the desktop no longer asks for quiet.
    tray->MenuClick(8);
    m_notifier->setInhibited(false);
    auto* caller = tray->findChild<QLabel*>(u"lblCaller"_s);
    // The window's title and caller line, the line bold or not.
    const auto shown = [&] {
        return tray->windowTitle() + u'|' + caller->text() + (caller->font().bold() ? u"|bold"_s : u""_s);
    };
    const QString ringing = u"Incoming call from:  Bob|Bob|bold"_s;
    const QString idle = u"Kivara for Microsoft Outlook|Waiting for call..."_s;
    const QString cannot = u"<plain>ROOMLIST|PUBLIC|Ann|I cannot talk now.  Please call back later.|"
                           "ann@example.org|127.80.5.2|hi there|KV-ANN||2"_s;
    // The form holds the call (its admission dialog) while the caller gives up (DONEHELLO does the
    // same), or the user ignores or answers it on its notification: the bell stops and the notification
    // goes. Each row: how the ringing ends, what the window then shows, what the caller is sent.
    for (const auto& [end, after, reply] : {std::tuple{u"GIVEUP|Bob"_s, idle, QString()},
                                            {u"DONEHELLO"_s, idle, QString()},
                                            {u"ignore"_s, idle, cannot},
                                            {u"answer"_s, ringing, QString()}}) {
        const qsizetype soundsBefore = m_desk.sound->events().size();
        const qsizetype noticesBefore = m_notifier->shown().size();
        FakeControl::duringDataPass = [&] {
            // Display on call: the window shows who calls.
            QVERIFY(tray->ringing() && !tray->isEnabled() && tray->isVisible());
            QCOMPARE(shown(), ringing);
            // The ring repeats meanwhile, and one notice stays with its actions.
            QTRY_VERIFY(m_desk.sound->events().size() >= soundsBefore + 3);
            QCOMPARE(m_notifier->shown().size(), noticesBefore + 1);
            const auto& notice = m_notifier->shown().last();
            QVERIFY(notice.open && notice.notice.persistent &&
                    notice.notice.urgency == platform::Notice::Urgency::Critical);
            QCOMPARE(notice.notice.actions, CallActions);
            if (end == u"answer") {
                // Another window has come forward since; answering brings the caller's form back.
                QVERIFY(ol::Application::GetObject().CreateItem(ol::olMailItem).Display());
                m_notifier->invoke(end);
                QCOMPARE(m_side->ActiveInspector()->CurrentItem().FullName(), u"Bob"_s);
            } else if (end == u"ignore") {
                m_notifier->invoke(end);
                // The form stops asking whether to let Bob in.
                QCOMPARE(FakeControl::all.last()->calls.last(), u"DataPass GIVEUP|Bob"_s);
            } else {
                bob.sendToMonitor(m_ip, end);
            }
            QTRY_VERIFY(!tray->ringing());
            QCOMPARE(shown(), after);
            QCOMPARE(tray->callFields().isEmpty(), after == idle);
            QVERIFY(!m_notifier->shown().last().open);
        };
        deliver(*tray, BuildHello(PartyRecord(u"Bob"_s, bob.ip())), bob.ip());
        QCOMPARE(bob.next(), u"HELLOWAIT|Ann"_s);
        if (!reply.isEmpty()) QCOMPARE(bob.next(), reply);
        QVERIFY2(!FakeControl::duringDataPass && tray->isEnabled() && bob.quiet(0), qPrintable(end));
    }

    // A click on the call's notification shows the monitor; on a message's, the Messages folder opens.
    QCOMPARE(tray->notices().last().first, NoticeKind::Call);
    tray->noticeClicked();
    QVERIFY(tray->isVisible());
    deliver(*tray, BuildMessage(PartyRecord(u"Cy"_s, address(5, 4)), u"s"_s, u"t"_s), address(5, 4));
    tray->Poll();
    QCOMPARE(tray->notices().last().first, NoticeKind::Message);
    const qsizetype opened = m_desk.shell->calls().size();
    tray->noticeClicked();
    // Its notice opens the folder too.
    QCOMPARE(m_notifier->shown().last().notice.actions, MessageActions);
    m_notifier->invoke(u"open"_s);
    QCOMPARE(m_desk.shell->calls().size(), opened + 2);
    for (const auto& call : m_desk.shell->calls().mid(opened))
        QCOMPARE(call.arguments, QStringList{u"openkvmessage"_s});

    // The desktop's service, played on this suite's bus by a connection of its own: the next
    // message's notice reaches it with its action, and the action chosen there comes back.
    // With none on the bus, the monitor learns so (its tray would show the notices).
    platform::Notifier::install(platform::Notifier::desktop());
    QTRY_VERIFY(!platform::Notifier::current().available());
    NotificationService service;
    QDBusConnection serviceBus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, u"service"_s);
    const auto gone = qScopeGuard([] { QDBusConnection::disconnectFromBus(u"service"_s); });
    QVERIFY(serviceBus.registerObject(u"/org/freedesktop/Notifications"_s, &service,
                                      QDBusConnection::ExportScriptableContents |
                                          QDBusConnection::ExportAllProperties));
    QVERIFY(serviceBus.registerService(u"org.freedesktop.Notifications"_s));
    // It asks not to be disturbed, which the monitor learns without waiting for it.
    QTRY_VERIFY(platform::Notifier::current().available() && platform::Notifier::current().inhibited());
    deliver(*tray, BuildMessage(PartyRecord(u"Dee"_s, address(5, 4)), u"s"_s, u"t"_s), address(5, 4));
    tray->Poll();
    QTRY_COMPARE(service.notified, QStringList{u"A new Kivara message has arrived.|open|Open|-1"_s});
    Q_EMIT service.ActionInvoked(NotificationService::Id, u"open"_s);
    QTRY_VERIFY(m_desk.shell->calls().size() == opened + 3);

    // Another user's Kivara form is open and active: it takes the call, not opened by the monitor.
    ol::MAPIFolder folder = tray->store().contactsFolder();
    ol::Item cora = folder.Items().Add(ol::KivaraContactClass.toString());
    cora.setFullName(u"Cora"_s);
    const qsizetype forms = FakeControl::all.size() + 1; // Cora's too
    QVERIFY(cora.Save() && cora.Display());
    FakeControl* coraControl = FakeControl::all.last();

    // Bob's record names another computer: the form is handed the address the call came from.
    deliver(*tray, BuildHello(PartyRecord(u"Bob"_s, address(5, 9))), bob.ip());
    QCOMPARE(bob.next(), u"HELLOWAIT|Ann"_s);
    QCOMPARE(coraControl->calls.value(0), u"TrayOpened=0"_s);
    QVERIFY2(coraControl->calls.value(1).startsWith(u"DataPass HELLO|Bob|Available|bob@example.org|"_s +
                                                    bob.ip() + u'|'),
             qPrintable(coraControl->calls[1]));
    QCOMPARE(FakeControl::all.size(), forms);

    // Availability and chat-name changes go to the open form.
    tray->ApplyStatus(u"Stepped Out"_s);
    QCOMPARE(tray->handOff().NotifyFormUserName(u"Annie"_s), 0);
    QCOMPARE(coraControl->calls.mid(2), (QStringList{u"SetStatus Stepped Out"_s, u"ChangeUserName Annie"_s}));

    // A mail open and active: the caller's own contact form is opened instead.
    QVERIFY(ol::Application::GetObject().CreateItem(ol::olMailItem).Display());
    QCOMPARE(tray->handOff().NotifyFormStatus(u"Available"_s), ol::ErrNo::NotSupported);
    deliver(*tray, BuildHello(PartyRecord(u"Bob"_s, bob.ip())), bob.ip());
    QCOMPARE(bob.next(), u"HELLOWAIT|Ann"_s);
    QCOMPARE(FakeControl::all.size(), forms + 1);
    QCOMPARE(FakeControl::all.last()->calls.value(0), u"TrayOpened=1"_s);

    // A Peerslip on the command line: stored, its form opened and called; "-m" only stores it.
    ProfileRecord dora = test::UserProfile(u"Dora"_s, u"127.80.6.9"_s, u"KV-DORA"_s);
    const QString slip = m_computer->root() + u"/dora.kvp"_s;
    QVERIFY(WritePeerslipFile(slip, dora));
    tray->HandleCommandLine(u"\""_s + slip + u"\""_s);
    QCOMPARE(FakeControl::all.size(), forms + 2);
    QCOMPARE(FakeControl::all.last()->calls.last(), u"Connect 127.80.6.9:8086"_s);
    QVERIFY(FakeControl::all.last()->trayOpened && folder.Items().Find(u"[SerialNumber] = 'KV-DORA'"_s));

    dora.SerialNum = u"KV-DORA2"_s;
    QVERIFY(WritePeerslipFile(slip, dora));
    tray->HandleCommandLine(u"-m \""_s + slip + u"\""_s);
    QVERIFY(folder.Items().Find(u"[SerialNumber] = 'KV-DORA2'"_s) && FakeControl::all.size() == forms + 2);
    QCOMPARE(m_desk.promptTexts().last(), u"The Peerslip was successfully added to your Contact folder."_s);
    tray->HandleCommandLine(u"-m \"/no/such.kvp\""_s);
    QCOMPARE(m_desk.promptTexts().last(),
             u"The Peerslip you are trying to add was not found.\r\r/no/such.kvp"_s);

    // A hand-off that reaches no chat control fails with its message and lets the store go: the form
    // has none, or the contact form is not installed, so no contact can be made for the caller.
    for (const bool formInstalled : {true, false}) {
        cleanup();
        computer(formInstalled ? 14 : 18);
        if (formInstalled) ol::WindowSide::install(m_side = std::make_shared<ol::HeadlessWindowSide>());
        tray = monitor();
        if (!formInstalled)
            QVERIFY(ol::UnregisterForm(tray->store().application(), ol::KivaraContactClass.toString()));
        Caller eve(address(formInstalled ? 14 : 18, 3));
        deliver(*tray, BuildHello(PartyRecord(u"Eve"_s, eve.ip())), eve.ip());
        QCOMPARE(eve.next(), u"HELLOWAIT|Ann"_s);
        QCOMPARE(m_desk.promptTexts(),
                 QStringList{u"Could not open the specified contact form.\r\rPlease restart Microsoft "
                             "Outlook and try again."_s});
        QVERIFY(tray->isEnabled() && !tray->ringing() && !tray->store().HoldsFolder());
    }
}

void TestVigilo::callPortDatagrams()
{
    // The call port alone, its window a recorder.
    computer(7);
    MonitorStore store;
    Recorder window;
    CallPort port(store, window, 60000);
    port.profile() = test::AnnProfile(m_ip);
    QCOMPARE(port.Bind(), 0);
    Caller bob(address(7, 3), 300);
    const QString ringing = u"ringing|ring|notify Incoming call from Bob|shown Bob|"
                            "Bob from 127.80.7.3|ended|returned 1"_s;
    const QByteArrayList hello{FrameDatagram(BuildHello(PartyRecord(u"Bob"_s, u"10.9.9.9"_s)))};
    const QByteArrayList plain{PlainDatagram(UnframeDatagram(hello[0]))};
    const QByteArrayList others{FrameDatagram(u"HELLO|Dan|Available"_s), FrameDatagram(u"HELLO"_s),
                                FrameDatagram(u"ROOMLIST|PUBLIC"_s), "1"};
    const QString busy = u"<plain>ROOMLIST|PUBLIC|Ann|%1|ann@example.org|127.80.7.2|hi there|KV-ANN||2"_s;
    const QString cannot = busy.arg(u"I cannot talk now.  Please call back later."_s);
    const QString a = u"Available"_s, u = u"Unavailable"_s, no = u"msgbox is calling => No"_s;
    // The port holds Available; the stored availability (chosen here or in a chat control) is adopted.
    // Each row: stored availability, decline set, prompt rules, datagrams; the caller's reply, what
    // the window was asked, and whether the user was asked about the call.
    for (const auto& [stored, autoIgnore, rules, datagrams, reply, calls, asked] :
         {// An enciphered HELLO gets an enciphered HELLOWAIT, a plain one a plain one.
          std::tuple{a, false, QString(), hello, u"HELLOWAIT|Ann"_s, ringing, false},
          {a, false, QString(), plain, u"<plain>HELLOWAIT|Ann"_s, ringing, false},
          // Short HELLOs and other names are ignored without a reply.
          {a, false, QString(), others, u"<none>"_s, QString(), false},
          // Unavailable with decline set: the busy reply at once, plain even for an enciphered HELLO.
          {u, true, no, hello, cannot, u"status Unavailable"_s, false},
          // Without decline: the question; No sends the busy reply, Yes makes the user available and rings.
          {u, false, no, hello, cannot, u"status Unavailable|park"_s, true},
          {u, false, u"msgbox is calling => Yes"_s, hello, u"HELLOWAIT|Ann"_s,
           u"status Unavailable|status Available|"_s + ringing, true},
          // Out of Office: the refusal carries the availability itself; no question, no ring.
          {u"Out of Office"_s, false, no, hello, busy.arg(u"Out of Office"_s), u"status Out of Office"_s,
           false}}) {
        WriteSetting(u"Profile"_s, u"UserStatus"_s, stored);
        port.profile().UserStatus = a;
        port.setAutoIgnore(autoIgnore);
        m_desk.rules(rules);
        window.calls.clear();
        for (const QByteArray& d : datagrams)
            port.HandleDatagram(d, bob.ip());
        QCOMPARE(bob.next(), reply);
        QCOMPARE(window.calls.join(u'|'), calls);
        QCOMPARE(m_desk.promptTexts(),
                 asked ? QStringList{u"Bob is calling, but your status indicates you are "
                                     "unavailable.\r\rWould you like to answer the call ?"_s}
                       : QStringList());
        QVERIFY(bob.quiet(0) && !port.ringing() && !port.inUnavailablePrompt());
    }

    // Left messages.
    window.calls.clear();
    const UserRecord r = PartyRecord(u"Bob"_s, u"127.80.7.3"_s, u"Stepped Out"_s);
    // Short: the record alone (subject and text read empty); shorter still: ignored.
    for (const QString& m : {BuildMessage(r, u"Lunch?"_s, u"Call me back."_s),
                             BuildMessage(r, u"Slip"_s, u"Here is mine."_s, QByteArray("raw|peerslip")),
                             u"MESSAGE|Cy|Available|c@x|127.80.7.3|c|KV-CY||1"_s, u"MESSAGE|Dee|Available"_s})
        port.HandleDatagram(FrameDatagram(m), r.ipAddress);
    // Any welcome message of a new folder comes first; the three left messages follow, each as
    // "sender|subject|body|IPAddress|ChatName|Availability|MsgRead|attachments".
    QStringList left;
    for (const ol::Item& i : store.messagesFolder().Items()) {
        if (i.SentOnBehalfOfName() == u"Kivara"_s || i.MessageClass() != ol::KivaraMessageClass.toString())
            continue;
        QStringList row{i.SentOnBehalfOfName(), i.Subject(), i.Body()};
        for (const QString& name : {u"IPAddress"_s, u"ChatName"_s, u"Availability"_s, u"MsgRead"_s})
            row << i.UserProperties().Find(name).Value().toString();
        left << (row << QString::number(i.Attachments().Count())).join(u'|');
    }
    const QString footer = u"\r\r\r\r\r\r\r"_s + QString(53, u'=') +
                           u"\r\nOpen the attached Peerslip below to add it to your Kivara Contacts.\r\n"
                           "Kivara for Microsoft Outlook"_s +
                           QChar(0xAE) + u": http://www.kivara.com\r\n"_s;
    QCOMPARE(left,
             (QStringList{u"Bob|Lunch?|Call me back.|127.80.7.3|Bob|Stepped Out|false|0"_s,
                          u"Bob|Slip|Here is mine."_s + footer + u"|127.80.7.3|Bob|Stepped Out|false|1"_s,
                          u"Cy|||127.80.7.3|Cy|Available|false|0"_s}));
    const ol::Attachment slip =
        store.messagesFolder().Items().Find(u"[Subject] = 'Slip'"_s).Attachments().Item(1);
    QCOMPARE(slip.DisplayName() + u" at "_s + QString::number(slip.Position()), u"Bob's Peerslip at 1024"_s);
    const auto decoded = DecodePeerslip(slip.Data());
    QVERIFY(decoded && decoded->ChatName == u"Bob"_s && decoded->SerialNum == u"KV-BOB"_s);

    // The Messages folder renamed behind the port's back: the next message makes it again.
    const ol::MAPIFolder kivara = store.messagesFolder().Parent();
    store.Release();
    QVERIFY(kivara.Folders().Item(u"Messages"_s).setName(u"Old"_s));
    port.HandleDatagram(FrameDatagram(BuildMessage(r, u"Again"_s, u"x"_s)), r.ipAddress);
    QVERIFY(kivara.Folders().Item(u"Messages"_s).Items().Find(u"[ChatName] = 'Bob'"_s) &&
            window.calls.isEmpty());
}

void TestVigilo::optionsDialog()
{
    computer(11);
    // The tab under a click, at each edge of the tab row.
    const QList<std::pair<int, int>> edges = {{0, -1},   {1, 0},    {1229, 0}, {1230, 1},
                                              {1934, 1}, {1935, 2}, {2534, 2}, {2535, -1}};
    for (const auto& [twips, tab] : edges)
        QCOMPARE(frmOptions::TabForTwips(twips), tab);

    MonitorStore store;
    MonitorFlags flags{true, u"/x/ring.wav"_s, false, false, 0};
    const auto ok = [](frmOptions& d) { d.findChild<QPushButton*>(u"cmdOptions_0"_s)->click(); };
    const auto setText = [](frmOptions& d, const QString& box, const QString& text) {
        d.findChild<QLineEdit*>(box)->setText(text);
    };
    // One round of the dialog: what the user does in it, then OK.
    const auto round = [&](const std::function<void(frmOptions&)>& edit) {
        frmOptions dialog(false, m_ip, flags, store);
        QCOMPARE(test::FormFaults(&dialog), QString());
        edit(dialog);
        ok(dialog);
    };
    // Only a monitor setting changed: the profile is not rewritten.
    WriteSetting(u"Profile"_s, u"UserStatus"_s, u"Stepped Out"_s);
    round([&](frmOptions& d) {
        QVERIFY(!d.profileChanged() && !d.settingsChanged());
        d.findChild<QCheckBox*>(u"chkMon_1"_s)->click();
        d.findChild<QCheckBox*>(u"chkMon_3"_s)->setChecked(true);
        QVERIFY(d.settingsChanged() && !d.profileChanged());
    });
    QVERIFY(flags.autoIgnore);
    QCOMPARE(monitorSetting(u"AutoIgnore"_s) + u'|' + ReadSetting(u"Profile"_s, u"UserStatus"_s, QString()),
             u"1|Stepped Out"_s);
    QCOMPARE(ReadKeyValue(RegRoot::CurrentUser, RunKey.toString(), u"Vigilo"_s, QString()),
             SystemFolder() + u"/vigilo"_s);
    QVERIFY(QFile::exists(AutostartFilePath()) && AutostartFilePath().startsWith(m_computer->root()));

    // Only the profile changed: saved as "Available", monitor settings untouched; the start entry removed
    // by unchecking it in a second round.
    WriteSetting(u"Vigilo"_s, u"AutoIgnore"_s, u"7"_s);
    round([&](frmOptions& d) {
        // "|" in a profile field is refused and the dialog stays; without it, OK saves.
        setText(d, u"txtMyInfo_1"_s, u"Sales | Support"_s);
        ok(d);
        QCOMPARE(m_desk.promptTexts().last(), SeparatorRefusalText(u"Company"_s));
        setText(d, u"txtMyInfo_1"_s, u"Acme"_s);
        QVERIFY(d.profileChanged() && !d.settingsChanged());
    });
    QCOMPARE(storedProfile().Company + u'|' + storedProfile().UserStatus, u"Acme|Available"_s);
    QCOMPARE(monitorSetting(u"AutoIgnore"_s), u"7"_s);
    round([&](frmOptions& d) {
        d.findChild<QCheckBox*>(u"chkMon_3"_s)->setChecked(false);
        setText(d, u"txtMon"_s, u"Inbox2"_s);
    });
    QCOMPARE(ReadKeyValue(RegRoot::CurrentUser, RunKey.toString(), u"Vigilo"_s, u"<gone>"_s), u"<gone>"_s);
    QVERIFY(!QFile::exists(AutostartFilePath()));
    // No Messages folder to rename yet: the new name is taken when it is made.
    QCOMPARE(store.CreateMessages(), 0);
    QCOMPARE(monitorSetting(u"MsgFolder"_s) + u'|' + store.messagesFolder().Name(), u"Inbox2|Inbox2"_s);
    // An existing folder is renamed in the store.
    round([&](frmOptions& d) { setText(d, u"txtMon"_s, u"Calls"_s); });
    QCOMPARE(monitorSetting(u"MsgFolder"_s), u"Calls"_s);
    QVERIFY(store.contactsFolder().Folders().Item(u"Calls"_s) &&
            !store.contactsFolder().Folders().Item(u"Inbox2"_s));

    // Empty chat name: the message, the dialog stays; Cancel stores nothing.
    {
        frmOptions dialog(false, m_ip, flags, store);
        dialog.show();
        dialog.findChild<QComboBox*>(u"cboUserName"_s)->setEditText(u"  "_s);
        ok(dialog);
        QCOMPARE(m_desk.promptTexts().last(), u"You must supply a Username."_s);
        QVERIFY(dialog.isVisible());
        dialog.findChild<QPushButton*>(u"cmdOptions_1"_s)->click();
        QVERIFY(!dialog.isVisible());
        // Unchecking "Ringing:" greys the file box and the browse button.
        dialog.findChild<QCheckBox*>(u"chkSound"_s)->setChecked(false);
        QVERIFY(!dialog.findChild<QLineEdit*>(u"txtSound"_s)->isEnabled());
        QVERIFY(!dialog.findChild<QPushButton*>(u"cmdSound"_s)->isEnabled());
        // The page strip is a picture: Ctrl+Tab moves through its pages.
        dialog.show();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        for (const int tab : {1, 2, 0}) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, Qt::ControlModifier);
            QCOMPARE(dialog.currentTab(), tab);
        }
    }
    QCOMPARE(storedProfile().ChatName, u"Ann"_s);

    // The folder row: chosen unchanged, no folder message; another folder with standard contacts:
    // asked, converted, told.
    ol::MAPIFolder contacts = store.contactsFolder().Parent().Folders().Item(u"Contacts"_s);
    ol::Item plain = contacts.Items().Add(u"IPM.Contact"_s);
    plain.setFullName(u"Plain Person"_s);
    QVERIFY(plain.Save());
    m_desk.rules(u"msgbox Standard Outlook contacts => Yes\n"_s);
    round([&](frmOptions& d) {
        QCOMPARE(d.findChild<QComboBox*>(u"cboFolder"_s)->itemText(0), u"'Kivara' folder"_s);
        setText(d, u"txtMyInfo_2"_s, u"ann@x.org"_s);
    });
    QVERIFY(m_desk.promptTexts().isEmpty());
    round([&](frmOptions& d) {
        auto* folders = d.findChild<QComboBox*>(u"cboFolder"_s);
        folders->setCurrentIndex(folders->findText(u"'Contacts' folder"_s));
        QVERIFY(folders->currentIndex() > 0 && d.profileChanged());
    });
    QCOMPARE(m_desk.promptTexts(),
             (QStringList{
                 u"Standard Outlook contacts were found in this folder.\r\rWould you like to update these "
                 "contacts to Kivara contacts ?"_s,
                 u"The 'Contacts' contacts were updated successfully."_s,
                 u"The default Outlook folder for your Kivara contacts is now 'Contacts'."_s}));
    QCOMPARE(ReadSetting(u"Settings"_s, u"Folder"_s, QString()), u"Contacts"_s);
    QCOMPARE(contacts.Items().Find(u"[FullName] = 'Plain Person'"_s).MessageClass(),
             ol::KivaraContactClass.toString());
}

void TestVigilo::closingPath()
{
    computer(12);
    WriteSetting(settings::Left, u"-120"_s);
    WriteSetting(settings::Top, u"-80"_s);
    auto tray = monitor();
    QCOMPARE(tray->pos(), QPoint(120, 80));
    QSignalSpy unloaded(tray.get(), &frmTray::unloaded);
    m_desk.rules(u"msgbox Are you sure => No\n"_s);
    QVERIFY(!tray->close());
    QCOMPARE(m_desk.promptTexts(),
             QStringList{u"If you close the Kivara Monitor you will not receive incoming calls.\r\rAre "
                         "you sure you want to exit ?"_s});
    // "E&xit Monitor" restores the window, so its position is written.
    m_desk.rules(u"msgbox Are you sure => Yes\n"_s);
    tray->move(30, 40);
    tray->MenuClick(10);
    QVERIFY(tray->isUnloaded() && unloaded.count() == 1 && !tray->socket().State());
    QCOMPARE(monitorSetting(u"Left"_s) + u',' + monitorSetting(u"Top"_s), u"30,40"_s);

    // A later start keeps a Today page of the user's own.
    const QString ownPage = u"res://elsewhere/Outlook.htm"_s;
    WriteKeyValue(RegRoot::CurrentUser, TodayKey.toString(), TodayUrlValue.toString(), ownPage);
    tray = monitor();
    QCOMPARE(ReadKeyValue(RegRoot::CurrentUser, TodayKey.toString(), TodayUrlValue.toString(), QString()),
             ownPage);

    // The host goes away while the monitor runs, its folder still held (the store file outlives the
    // host): the poll notices, says so, lets the connection go and leaves the counter as it was.
    QVERIFY(tray->store().HoldsFolder());
    auto* counter = tray->findChild<QLabel*>(u"lblMessages_0"_s);
    const QString before = counter->text();
    m_side->setStartable(false);
    // While no host can be started, every poll tries again and says so; when it comes back, the next poll
    // connects again. Each poll: the error, the caller line, the counter and whether the folder is held.
    for (const bool running : {false, false, true}) {
        m_side->setRunning(running);
        tray->Poll();
        QCOMPARE(u"%1|%2|%3|%4"_s.arg(tray->outlookError())
                     .arg(tray->callerLine(), counter->text())
                     .arg(tray->store().HoldsFolder() ? 1 : 0),
                 (running ? u"0|Waiting for call...|"_s : u"1|No Outlook connection.|"_s) + before +
                     (running ? u"|1"_s : u"|0"_s));
    }

    // Minimised at exit: the position is not written; the bus's Close takes the same path.
    tray->move(50, 60);
    tray->setWindowState(Qt::WindowMinimized);
    QVERIFY(tray->RequestClose());
    QCOMPARE(monitorSetting(u"Left"_s), u"30"_s);

    // No mail host to attach to, and none can be started: reported, and the monitor ends without the exit
    // question.
    m_desk.rules(QString());
    m_side->setRunning(false);
    tray = monitor(false);
    QVERIFY(!tray->Load(QString()) && tray->isUnloaded());
    QCOMPARE(m_desk.promptTexts(),
             QStringList{u"Kivara Monitor encountered one or more errors connecting to Outlook.\r\r"
                         "Please resolve the errors and restart Kivara Monitor."_s});
}

void TestVigilo::networkCheck()
{
    // firewalld is asked on the session bus, standing in for the system's (see SimComputer); where it is
    // absent it is not in use, else its stand-in answers from a thread of its own, as the check's calls
    // block.
    QThread busThread;
    FirewalldStandIn firewalld;
    firewalld.moveToThread(&busThread);
    busThread.start();
    QDBusConnection bus = QDBusConnection::sessionBus();
    QVERIFY(bus.registerObject(u"/org/fedoraproject/FirewallD1"_s, &firewalld,
                               QDBusConnection::ExportScriptableInvokables));
    const auto stop = qScopeGuard([&] {
        bus.unregisterObject(u"/org/fedoraproject/FirewallD1"_s);
        busThread.quit();
        busThread.wait();
    });
    QUdpSocket held;
    // On an address of this suite's own, so that suites running beside it hold none of the ports there.
    const QHostAddress ports(address(30, 1));
    QVERIFY(held.bind(ports, ChatDatagramPort));
    const QString heldBy = u"in use by tst_vigilo (pid %1)"_s.arg(QCoreApplication::applicationPid());
    const QString udp = u"-A ufw-user-input -p udp -m multiport --dports 8085,8086 -j ACCEPT\n"_s;
    // ufw enabled with these rules; nftables dropping all but the datagram ports and this rule.
    const auto ufw = [](const QString& rules) {
        return QStringList{u"ufw.conf=ENABLED=yes\n"_s, u"user.rules="_s + rules};
    };
    const auto nft = [](const QString& rule) {
        return QStringList{u"nftables.conf=chain input { type filter hook input priority 0; policy drop;\n"
                           u"udp dport { 8085, 8086 } accept\n"_s +
                           rule + u" accept }"_s};
    };
    const auto [admits, blocks, unused, unknown] =
        std::array{FirewallStateText(FirewallState::Admits), FirewallStateText(FirewallState::Blocks),
                   FirewallStateText(FirewallState::NotInUse), FirewallStateText(FirewallState::Unknown)};
    // Files as "path=content" under a stand-in root; content "/" makes a folder, which cannot be
    // read as a file even by root.
    const struct {
        QStringList files;
        QString subject; // an interface, a firewall, or "ports"
        QString expected;
    } rows[] = {
        {{u"net/eth0/type=1"_s}, u"eth0"_s, u"physical"_s},
        {{u"net/lo/type=772"_s}, u"lo"_s, u"loopback"_s},
        {{u"net/vpn0/type=65534"_s}, u"vpn0"_s, u"VPN/tunnel"_s},
        {{u"net/x0/type=1"_s, u"net/x0/tun_flags=0x1002"_s}, u"x0"_s, u"VPN/tunnel"_s},
        {{}, u"wg0"_s, u"VPN/tunnel"_s},
        {{u"net/lan/type=1"_s, u"net/lan/bridge=/"_s}, u"lan"_s, u"container/bridge"_s},
        {{u"net/veth9/type=1"_s}, u"veth9"_s, u"container/bridge"_s},
        {{}, u"firewalld"_s, unused},
        {{},
         u"firewalld@eth0"_s,
         u"firewalld (zone home): "_s + blocks +
             u"\n    to open the ports: sudo firewall-cmd --permanent --zone=home --add-service=kivara && "
             u"sudo firewall-cmd --reload"_s},
        {{}, u"firewalld@wlan0"_s, u"firewalld: "_s + admits},
        {{u"ufw.conf=ENABLED=no\n"_s, u"user.rules="_s + udp}, u"ufw"_s, unused},
        {ufw(udp), u"ufw"_s, blocks},
        {ufw(udp + u"-A ufw-user-input -p tcp --dport 8087 -j ACCEPT"_s), u"ufw"_s, admits},
        {ufw(u"-A ufw-user-input --dport 8080:8090 -j ACCEPT"_s), u"ufw"_s, admits},
        {ufw(u"/"_s), u"ufw"_s, unknown},
        {{u"nftables.conf=/"_s}, u"nftables"_s, unknown},
        {{u"nftables.conf=chain input { type filter hook input priority 0; policy accept; }"_s},
         u"nftables"_s,
         unused},
        {nft(u"tcp dport 8087"_s), u"nftables"_s, admits},
        {nft(u"tcp dport 80"_s), u"nftables"_s, blocks},
        {{}, u"ports"_s, u"free, "_s + heldBy + u", free"_s},
    };
    for (const auto& row : rows) {
        QTemporaryDir root;
        NetworkCheckSources sources;
        sources.sysClassNet = root.filePath(u"net"_s);
        sources.ufwConfig = root.filePath(u"ufw.conf"_s);
        sources.ufwRules = root.filePath(u"user.rules"_s);
        sources.nftablesConfig = root.filePath(u"nftables.conf"_s);
        sources.portAddress = ports;
        sources.monitorRunning = [] { return false; };
        for (const QString& file : row.files) {
            const QString path = root.filePath(file.section(u'=', 0, 0));
            const QString content = file.section(u'=', 1);
            QVERIFY(content == u"/" ? QDir().mkpath(path) : test::WriteBytes(path, content.toUtf8()));
        }
        QStringList actual;
        const QString iface = row.subject.section(u'@', 1);
        if (!iface.isEmpty()) QVERIFY(bus.registerService(u"org.fedoraproject.FirewallD1"_s));
        NetworkReport report;
        report.firewalls = DetectFirewalls(sources, iface);
        if (!iface.isEmpty()) {
            QVERIFY(bus.unregisterService(u"org.fedoraproject.FirewallD1"_s));
            actual << report.Text().section(u"Firewalls:\n"_s, 1).section(u"\n  ufw"_s, 0, 0).trimmed();
        }
        for (const FirewallReport& f : report.firewalls)
            if (f.name == row.subject) actual << FirewallStateText(f.state);
        if (row.subject == u"ports") {
            for (const PortReport& p : ProbePorts(sources))
                actual << PortStateText(p);
        } else if (actual.isEmpty()) {
            actual << KindText(ClassifyInterface(row.subject, sources.sysClassNet));
        }
        QCOMPARE(actual.join(u", "), row.expected);
    }
}

KV_TEST_MAIN(TestVigilo)
#include "tst_vigilo.moc"
