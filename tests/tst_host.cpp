// The mail host across processes: this test is the second process. It attaches
// (429 while no host runs), starts outlook-standin, opens Kivara contact forms
// and reaches the hosted control "Kivara1" by member name over the session bus
// (a private one: the suite runs under dbus-run-session). The host runs from a
// system folder of its own: with the test control library, or without any.
// Logging out (SIGTERM) keeps what a form holds unsaved.
#include "Platform/Events.h"
#include "Platform/Outlook/Automation.h"
#include "Platform/Outlook/Outlook.h"
#include "Platform/Outlook/RemoteWindowSide.h"
#include "Platform/Outlook/Store.h"
#include "Platform/Outlook/WindowSide.h"
#include "Platform/Registry.h"
#include "testing/SimComputer.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <csignal>

using namespace Qt::StringLiterals;
using namespace kv::outlook;

namespace {
const QString ContactClass = KivaraContactClass.toString();
const QString MessageClass = KivaraMessageClass.toString();
const QString Hello = u"HELLO|Ann|Available|ann@example.com|127.70.1.2|Hi|KV-PEER-0001||1"_s;

bool copyExecutable(const QString& from, const QString& to)
{
    return QFile::copy(from, to) &&
           QFile::setPermissions(to, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}
} // namespace

class TestHost : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_sys;
    QString m_withControl;    // host program next to the test control library
    QString m_withoutControl; // host program alone
    QString m_withChat;       // host program next to the chat control library
    std::shared_ptr<RemoteWindowSide> m_side;

    NameSpace ns() const { return Application(DefaultStorePath()).GetNamespace(u"MAPI"_s); }
    MAPIFolder personal() const { return ns().Folders().Item(PersonalFoldersName.toString()); }
    MAPIFolder contacts() const { return personal().Folders().Item(ContactsFolderName.toString()); }

    bool startHost(const QString& program)
    {
        m_side->setProgram(program);
        return bool(Application::CreateObject());
    }

    void quitHost()
    {
        if (!m_side->IsRunning()) return;
        QDBusMessage quit = QDBusMessage::createMethodCall(
            HostServiceName.toString(), u"/Application"_s, u"org.kivara.Outlook.Application"_s, u"Quit"_s);
        QDBusConnection::sessionBus().call(quit);
        QVERIFY(kv::platform::WaitUntil([this] { return !m_side->IsRunning(); }, 30000));
    }

    // The caller's contact as the monitor makes it: found by identifier or
    // added, filled, not saved.
    Item callerContact(const QString& serial, const QString& name)
    {
        Item c = contacts().Items().Find(u"[SerialNumber] = '"_s + serial + u"'"_s);
        if (!c) c = contacts().Items().Add(ContactClass);
        c.setFullName(name);
        c.UserProperties().Find(u"QuillonName"_s).setValue(name);
        c.UserProperties().Find(u"LocalPort"_s).setValue(8086);
        c.UserProperties().Find(u"SerialNumber"_s).setValue(serial);
        return c;
    }

    QObject* kivaraControl(const std::shared_ptr<Inspector>& insp)
    {
        if (!insp || !insp->Display() || !insp->SetCurrentFormPage(u"Kivara"_s)) return nullptr;
        kv::platform::DoEvents();
        const auto page = insp->ModifiedFormPages(u"Kivara"_s);
        return page ? page->Controls(u"Kivara1"_s) : nullptr;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(QDBusConnection::sessionBus().isConnected());
        const QString bin = QCoreApplication::applicationDirPath();
        QDir root(m_sys.path());
        for (const auto& [host, folder] : {std::pair{&m_withControl, u"with"_s},
                                           {&m_withoutControl, u"without"_s},
                                           {&m_withChat, u"real"_s}}) {
            QVERIFY(root.mkpath(folder));
            *host = root.filePath(folder + u"/outlook-standin"_s);
            QVERIFY(copyExecutable(bin + u"/outlook-standin"_s, *host));
        }
        for (const auto& [plugin, folder] : {std::pair{QStringLiteral(KV_CHAT_CONTROL_PLUGIN), u"real/"_s},
                                             {QStringLiteral(KV_FAKE_CONTROL_PLUGIN), u"with/"_s}})
            QVERIFY(QFile::copy(plugin, root.filePath(folder + QFileInfo(plugin).fileName())));
        RemoteTimings t;
        t.startWaitMs = 60000; // the sanitizer build starts slowly
        m_side = InstallRemoteWindowSide(t);
    }

    void cleanup() { quitHost(); }

    void cleanupTestCase()
    {
        WindowSide::install(nullptr);
        m_side.reset();
    }

    void kivaraForm_controlReachedAndCalledByName()
    {
        QVERIFY(startHost(m_withControl));
        const Application app = Application::GetObject();
        // A new, unsaved contact travels to the host with its values.
        const Item caller = callerContact(u"KV-PEER-0001"_s, u"Ann Peer"_s);
        QVERIFY(caller.EntryID().isEmpty());
        const auto insp = caller.GetInspector();
        QVERIFY2(insp, qPrintable(Err().Description));
        QObject* ctl = kivaraControl(insp);
        QVERIFY2(ctl, qPrintable(Err().hex() + u' ' + Err().Description));
        QCOMPARE(insp->CurrentFormPage(), u"Kivara"_s);
        QVERIFY(insp->IsDisplayed());

        // The form's script gave the control its inspector and started it.
        QCOMPARE(CallByName(ctl, u"ContactName"_s, VbGet).toString(), u"Ann Peer"_s);
        QVERIFY(CallByName(ctl, u"CallLog"_s, VbGet).toStringList().contains(u"ChatInit"_s));

        CallByName(ctl, u"TrayOpened"_s, VbLet, {true});
        QCOMPARE(Err().Number, 0);
        QCOMPARE(CallByName(ctl, u"TrayOpened"_s, VbGet).toBool(), true);
        QCOMPARE(CallByName(ctl, u"DataPass"_s, VbMethod, {Hello}).toInt(), 0);
        QCOMPARE(Err().Number, 0);
        QCOMPARE(CallByName(ctl, u"datapass"_s, VbMethod, {QString()}).toInt(), -1); // names are case-blind
        CallByName(ctl, u"SetStatus"_s, VbMethod, {u"Be Right Back"_s});
        QCOMPARE(Err().Number, 0);
        CallByName(ctl, u"RemotePort"_s, VbLet, {u"8086"_s}); // converted as the automation layer does
        QCOMPARE(CallByName(ctl, u"RemotePort"_s, VbGet).toInt(), 8086);
        QCOMPARE(CallByName(ctl, u"Connect"_s, VbMethod).toInt(), 0); // optional arguments left out
        const QStringList log = CallByName(ctl, u"CallLog"_s, VbGet).toStringList();
        QVERIFY(log.contains(u"DataPass "_s + Hello));
        QVERIFY(log.contains(u"SetStatus Be Right Back"_s));
        QVERIFY(log.contains(u"Connect  0"_s));

        // Failures come back as numbers; the host carries on.
        CallByName(ctl, u"NoSuchMember"_s, VbMethod);
        QCOMPARE(Err().Number, ErrNo::NotSupported);
        CallByName(ctl, u"RemotePort"_s, VbLet, {u"not a port"_s});
        QCOMPARE(Err().Number, ErrNo::TypeMismatch);
        CallByName(ctl, u"DataPass"_s, VbMethod, {u"a"_s, u"b"_s});
        QCOMPARE(Err().Number, ErrNo::WrongArguments);
        QVERIFY(!insp->SetCurrentFormPage(u"No Such Page"_s));
        QVERIFY(Err());
        QVERIFY_ERR(insp->ModifiedFormPages(u"General2"_s), ErrNo::BadIndex);

        // The monitor's way in: the active inspector and its contact item.
        const auto active = app.ActiveInspector();
        QVERIFY(active);
        const Item shown = active->CurrentItem();
        QVERIFY(shown);
        shown.NickName();
        QCOMPARE(Err().Number, 0); // a contact: NickName can be read
        QCOMPARE(shown.FullName(), u"Ann Peer"_s);
        QVERIFY(shown.EntryID().isEmpty());

        // Close(0) saves the host's item into the store.
        QVERIFY(active->Close(olSave));
        const Item stored = contacts().Items().Find(u"[SerialNumber] = 'KV-PEER-0001'"_s);
        QVERIFY(stored);
        QCOMPARE(stored.FullName(), u"Ann Peer"_s);
        QCOMPARE(stored.UserProperties().Find(u"LocalPort"_s).Value().toInt(), 8086);
        // The window is gone: calls on it and its control fail, nothing crashes.
        QVERIFY_ERR(insp->Display(), ErrNo::NotFound);
        CallByName(ctl, u"TrayOpened"_s, VbGet);
        QVERIFY(Err());
        QVERIFY(!app.ActiveInspector());

        // A saved contact opens by reference, and a second GetInspector finds the open form.
        const auto again = stored.GetInspector();
        QVERIFY(again && again->Display());
        QVERIFY(kivaraControl(again));
        QVERIFY(stored.GetInspector() && stored.GetInspector()->IsDisplayed());

        // The explorer's folder set from this process.
        const MAPIFolder inbox = personal().Folders().Item(InboxFolderName.toString());
        const auto explorer = inbox.GetExplorer(0);
        QVERIFY(explorer);
        QVERIFY(!app.ActiveExplorer()); // made, not yet displayed
        QVERIFY(explorer->Display());
        const auto window = app.ActiveExplorer();
        QVERIFY(window);
        QCOMPARE(window->CurrentFolder().EntryID(), inbox.EntryID());

        QVERIFY(window->setCurrentFolder(contacts()));
        QCOMPARE(app.ActiveExplorer()->CurrentFolder().Name(), u"Contacts"_s);
        QVERIFY(app.ActiveExplorer()->Activate());

        // A folder made after the window opened.
        QVERIFY(window->setCurrentFolder(personal().Folders().Add(u"Short-lived"_s, olFolderContacts)));
        QCOMPARE(window->CurrentFolder().Name(), u"Short-lived"_s);
        QVERIFY(window->setCurrentFolder(personal()));
        QCOMPARE(window->CurrentFolder().EntryID(), personal().EntryID());
        QVERIFY(window->Close());
        QVERIFY(!app.ActiveExplorer());
        QVERIFY_ERR(window->Display(), ErrNo::NotFound);

        // A message form marks its message read.
        Item msg = inbox.Items().Add(MessageClass);
        QVERIFY(msg);
        msg.setSentOnBehalfOfName(u"Ann Peer"_s);
        msg.setSubject(u"Call me back"_s);
        msg.UserProperties().Find(u"MsgRead"_s).setValue(false);
        QVERIFY(msg.Save());
        QVERIFY(msg.Display());
        QCOMPARE(ns().GetItemFromID(msg.EntryID()).UserProperties().Find(u"MsgRead"_s).Value(),
                 QVariant(true));
        const auto message = app.ActiveInspector();
        QVERIFY(message);
        QCOMPARE(message->CurrentItem().Subject(), u"Call me back"_s);
        // A message form has no "Kivara" page.
        QVERIFY_ERR(message->ModifiedFormPages(u"Kivara"_s), ErrNo::BadIndex);
    }

    void longCall_callerKeepsProcessingAndIsToldItIsPending()
    {
        QVERIFY(startHost(m_withControl));
        const Item c = callerContact(u"KV-PEER-0002"_s, u"Bo Wait"_s);
        QVERIFY(c.Save());
        QObject* ctl = kivaraControl(c.GetInspector());
        QVERIFY(ctl);

        QList<bool> notices;
        m_side->setPendingHandler([&notices](bool pending) { notices.append(pending); });
        m_side->setPendingNoticeMs(300);
        int ticks = 0;
        QTimer tick;
        connect(&tick, &QTimer::timeout, this, [&ticks] { ++ticks; });
        tick.start(50);
        // The host answers only after a nested loop, as after a modal dialog.
        QCOMPARE(CallByName(ctl, u"HoldFor"_s, VbMethod, {1500}).toInt(), 1500);
        QCOMPARE(Err().Number, 0);
        tick.stop();
        QCOMPARE(notices, (QList<bool>{true, false}));
        QVERIFY2(ticks >= 5, qPrintable(QString::number(ticks)));

        // A quick call raises no notice.
        notices.clear();
        QCOMPARE(CallByName(ctl, u"TrayOpened"_s, VbGet).toBool(), false);
        QVERIFY(notices.isEmpty());
        m_side->setPendingHandler(nullptr);
        m_side->setPendingNoticeMs(RemoteTimings{}.pendingNoticeMs);

        // Every wait is bounded: past the call's time-out the caller gets an error.
        RemoteTimings shortTimes;
        shortTimes.callTimeoutMs = 500;
        auto impatient = InstallRemoteWindowSide(shortTimes);
        QObject* ctl2 = kivaraControl(Application::GetObject().ActiveInspector());
        QVERIFY(ctl2);
        CallByName(ctl2, u"HoldFor"_s, VbMethod, {3000});
        QCOMPARE(Err().Number, ErrNo::ServerUnavailable);
        WindowSide::install(m_side);
        // The host is still there once its nested loop has ended.
        QVERIFY(kv::platform::WaitUntil(
            [&] { return CallByName(ctl, u"CallLog"_s, VbGet).toStringList().contains(u"HoldFor 3000"_s); }, 20000));
    }

    void controlLibraryMissingOrInTheInstalledLayout()
    {
        QVERIFY(startHost(m_withoutControl));
        const Item c = callerContact(u"KV-PEER-0003"_s, u"Cy Nolib"_s);
        const auto insp = c.GetInspector();
        QVERIFY(insp && insp->Display());
        QVERIFY(insp->SetCurrentFormPage(u"Kivara"_s));
        const auto page = insp->ModifiedFormPages(u"Kivara"_s);
        QVERIFY(page);
        QVERIFY_ERR(page->Controls(u"Kivara1"_s), ErrNo::BadIndex);
        // The host lives on.
        QVERIFY(m_side->IsRunning());
        QVERIFY(Application::GetObject().ActiveInspector());
        QCOMPARE(Application::GetObject().ActiveInspector()->CurrentItem().FullName(), u"Cy Nolib"_s);
        quitHost();

        // Installed, the libraries sit under the prefix's library folder, reached from the program's own.
        QDir root(m_sys.path());
        const QString controls =
            QDir::cleanPath(root.filePath(u"prefix/bin/"_s + QStringLiteral(KV_CONTROL_DIR)));
        QVERIFY(root.mkpath(u"prefix/bin"_s) && QDir().mkpath(controls));
        const QString host = root.filePath(u"prefix/bin/outlook-standin"_s);
        QVERIFY(copyExecutable(QCoreApplication::applicationDirPath() + u"/outlook-standin"_s, host));
        const QString plugin = QStringLiteral(KV_FAKE_CONTROL_PLUGIN);
        QVERIFY(QFile::copy(plugin, controls + u'/' + QFileInfo(plugin).fileName()));
        QVERIFY(startHost(host));
        QVERIFY2(kivaraControl(callerContact(u"KV-PEER-0004"_s, u"Di Prefix"_s).GetInspector()),
                 qPrintable(Err().Description));
    }

    void chatControl_isHostedOnTheKivaraPage()
    {
        // The chat control binds its ports on this computer's address, finds
        // a profile, and any prompt it shows is answered and logged.
        qputenv("KIVARA_LOCAL_IP", "127.70.3.2");
        const QString profileKey = u"Software\\Brindlewood\\Kivara\\Profile"_s;
        for (const auto& [name, value] :
             {std::pair{u"ChatName"_s, u"Gil"_s}, {u"UserStatus"_s, u"Available"_s}})
            QVERIFY(kv::platform::Registry::setValue(kv::platform::RegRoot::CurrentUser, profileKey, name,
                                                     value));
        const QString rules = m_sys.filePath(u"prompts.rules"_s);
        const QString log = m_sys.filePath(u"prompts.log"_s);
        QVERIFY(kv::test::WriteBytes(rules, "msgbox .* => OK\n"));
        qputenv("KIVARA_PROMPTS", rules.toLocal8Bit());
        qputenv("KIVARA_PROMPT_LOG", log.toLocal8Bit());
        const bool started = startHost(m_withChat);
        qunsetenv("KIVARA_PROMPTS");
        qunsetenv("KIVARA_PROMPT_LOG");
        QVERIFY(started);
        const Item c = callerContact(u"KV-PEER-0006"_s, u"Fay Real"_s);
        QObject* ctl = kivaraControl(c.GetInspector());
        QVERIFY2(ctl, qPrintable(Err().Description));
        // Started by the form's script: past its first state, with the settings read.
        QCOMPARE(CallByName(ctl, u"CallStatus"_s, VbGet).toInt(), 4); // "Waiting for call..."
        QCOMPARE(CallByName(ctl, u"KivaraName"_s, VbGet).toString(), u"Gil"_s);
        QCOMPARE(Err().Number, 0);
        QCOMPARE(CallByName(ctl, u"Service"_s, VbGet).toString(), u"Personal Folders"_s);
        CallByName(ctl, u"TrayOpened"_s, VbLet, {true});
        QCOMPARE(CallByName(ctl, u"TrayOpened"_s, VbGet).toBool(), true);
        CallByName(ctl, u"RemoteHost"_s, VbLet, {u"127.70.3.3"_s});
        QCOMPARE(CallByName(ctl, u"RemoteHost"_s, VbGet).toString(), u"127.70.3.3"_s);
        QCOMPARE(CallByName(ctl, u"Personal"_s, VbGet).toBool(), false);
        qputenv("KIVARA_LOCAL_IP", "127.0.0.1");
    }

    void controlClosesItsOwnForm_andHostGoingAwayIsAnError()
    {
        QVERIFY(startHost(m_withControl));
        const Item c = callerContact(u"KV-PEER-0004"_s, u"Di Closer"_s);
        const auto insp = c.GetInspector();
        QObject* ctl = kivaraControl(insp);
        QVERIFY(ctl);
        // From inside one of its members, through objParent.Close(0).
        QCOMPARE(CallByName(ctl, u"CloseForm"_s, VbMethod).toBool(), true);
        QCOMPARE(Err().Number, 0);
        QVERIFY(!insp->IsDisplayed() || Err());
        QVERIFY(contacts().Items().Find(u"[SerialNumber] = 'KV-PEER-0004'"_s));

        const auto other = callerContact(u"KV-PEER-0005"_s, u"Ed Gone"_s).GetInspector();
        QVERIFY(other && other->Display());
        quitHost();
        QVERIFY_ERR(other->Display(), ErrNo::ServerUnavailable);
        QVERIFY(!contacts().Items().Find(u"[SerialNumber] = 'KV-PEER-0005'"_s)); // quitting drops it

        // The session ends instead: the open form's new contact is kept, nobody asked.
        QVERIFY(startHost(m_withControl));
        QVERIFY(callerContact(u"KV-PEER-0007"_s, u"Gus Draft"_s).GetInspector()->Display());
        const uint pid =
            QDBusConnection::sessionBus().interface()->servicePid(HostServiceName.toString()).value();
        QVERIFY(pid > 0);
        QCOMPARE(::kill(pid_t(pid), SIGTERM), 0);
        QVERIFY(kv::platform::WaitUntil([this] { return !m_side->IsRunning(); }, 30000));
        const Item kept = contacts().Items().Find(u"[SerialNumber] = 'KV-PEER-0007'"_s);
        QVERIFY(kept);
        QCOMPARE(kept.FullName(), u"Gus Draft"_s);
        QVERIFY_ERR(Application::GetObject(), ErrNo::CannotCreateObject);
    }
};

KV_TEST_MAIN(TestHost)
#include "tst_host.moc"
