// The uninstaller against a simulated computer with the product set up: the
// questions and their No and Cancel answers, a running monitor (a stand-in
// owning the monitor's bus name on this suite's private bus), what is removed
// and what is kept, and the guard on the installation folder. The shipped
// program removing a running product is tst_uninstallprocess's.
#include "Platform/Outlook/Outlook.h"
#include "Platform/Outlook/Store.h"
#include "Platform/Outlook/WindowSide.h"
#include "Platform/Registry.h"
#include "Shared/modReg.h"
#include "Vigilo/Opener/frmOpen.h"
#include "testing/Desk.h"
#include "testing/SimComputer.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QFile>
#include <QTest>
#include <QTimer>
#include <unistd.h>

using namespace Qt::StringLiterals;
using kv::test::WriteBytes;
using namespace kv;
using namespace kv::outlook;
using namespace kv::dorvan;

namespace {

const QString StoreName = u"Personal Folders"_s;
const QString KivaraClass = u"IPM.Contact.Kivara Contact"_s;
const QString StandardClass = u"IPM.Contact"_s;
const QString Question = u"This will remove Kivara for Microsoft Outlook 1.1\r\rDo you wish to continue ?"_s;
const QString CloseQuestion = u"You should close Kivara Monitor before uninstalling.\r\rClose now ?"_s;
const QString NotUninstalled = u"Kivara for Microsoft Outlook was not uninstalled."_s;
const QString Uninstalled = u"Kivara for Microsoft Outlook 1.1 was uninstalled."_s;
const QString Restored =
    u"All Kivara contacts are now standard Outlook contacts.\r\rThey remain in the folder 'Kivara'."_s;

// The monitor as the uninstaller sees it: the owner of its bus name, whose
// Close ends it (after a while, as a closing window does).
class FakeMonitor : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "Kivara.Vigilo")
public:
    explicit FakeMonitor(int closeDelayMs = 50) : m_closeDelayMs(closeDelayMs)
    {
        QDBusConnection bus = QDBusConnection::sessionBus();
        m_registered = bus.registerObject(u"/Vigilo"_s, this, QDBusConnection::ExportScriptableSlots) &&
                       bus.registerService(u"Kivara.Vigilo"_s);
    }
    ~FakeMonitor() override { End(); }
    bool registered() const { return m_registered; }
    int closeCalls() const { return m_closeCalls; }
    // The user closes the monitor by hand.
    void End()
    {
        if (!m_registered) return;
        QDBusConnection bus = QDBusConnection::sessionBus();
        bus.unregisterService(u"Kivara.Vigilo"_s);
        bus.unregisterObject(u"/Vigilo"_s);
        m_registered = false;
    }

public Q_SLOTS:
    Q_SCRIPTABLE void Close()
    {
        ++m_closeCalls;
        QTimer::singleShot(m_closeDelayMs, this, &FakeMonitor::End);
    }

private:
    int m_closeDelayMs;
    int m_closeCalls = 0;
    bool m_registered = false;
};

} // namespace

class TestUninstall : public test::HeadlessCase {
    Q_OBJECT

private:
    QString m_install; // ends with "/"
    QString m_sys;     // the system folder the control libraries sit in
    QString m_outside; // files that links in the installation folder point to
    QString m_data;
    QString m_config;

    // What the set-up leaves on the computer.
    void setUpProduct()
    {
        m_install = m_computer->installDir();
        m_sys = m_computer->root() + u"/sys"_s;
        m_outside = m_computer->root() + u"/outside"_s;
        m_data = m_computer->root() + u"/data"_s;
        m_config = m_computer->root() + u"/config"_s;
        for (const QString& path :
             {m_sys + u"/libquillonplugin.so"_s, m_sys + u"/libtallyoplugin.so"_s, m_sys + u"/libother.so"_s,
              m_install + u"trillo.wav"_s, m_install + u"Ann.kvp"_s, m_install + u".hidden"_s,
              m_install + u"Downloads/report.pdf"_s, m_data + u"/applications/kivara-vigilo.desktop"_s,
              m_data + u"/applications/kivara-dorvan.desktop"_s,
              m_data + u"/mime/packages/kivara-peerslip.xml"_s, m_config + u"/autostart/vigilo.desktop"_s,
              m_data + u"/kivara/history/history.sqlite"_s})
            QVERIFY(WriteBytes(path, "data"));
        QVERIFY(WriteBytes(m_sys + u"/vigilo"_s, "program"));
        QVERIFY(WriteBytes(m_outside + u"/keep.txt"_s, "precious"));
        QVERIFY(WriteBytes(m_outside + u"/inner/deep.txt"_s, "precious"));
        QVERIFY(WriteBytes(m_data + u"/applications/other.desktop"_s,
                           "[Desktop Entry]\nType=Application\nName=Other\nExec=true\n"));
        QFile::link(m_sys + u"/vigilo"_s, m_install + u"vigilo"_s);
        QFile::link(m_outside, m_install + u"linked-folder"_s);
        QFile::link(m_outside + u"/keep.txt"_s, m_install + u"linked-file.txt"_s);

        WriteSetting(settings::Service, StoreName);
        WriteSetting(settings::Folder, u"Kivara"_s);
        WriteSetting(settings::ChatName, u"Ann"_s);
        WriteKeyValue(RegRoot::CurrentUser, RunKey.toString(), RunValue.toString(), m_sys + u"/vigilo"_s);
        WriteKeyValue(RegRoot::CurrentUser, RunKey.toString(), u"Other"_s, u"/bin/true"_s);
        WriteKeyValue(RegRoot::CurrentUser, TodayKey.toString(), TodayUrlValue.toString(),
                      u"res://x/pellum.dll/Outlook.htm"_s);
        WriteKeyValue(RegRoot::CurrentUser, TodayKey.toString(), u"Stamp"_s, u"1"_s);
        WriteKeyValue(RegRoot::ClassesRoot, PeerslipExtensionKey.toString(), u"Class"_s, PeerslipClassKey.toString());
        WriteKeyValue(RegRoot::ClassesRoot, PeerslipClassKey.toString() + u"\\shell\\open\\command"_s, u"Command"_s,
                      u"vigilo"_s);
        WriteKeyValue(RegRoot::LocalMachine, UninstallKey.toString(), u"DisplayName"_s, u"Kivara"_s);
        WriteKeyValue(RegRoot::LocalMachine, AppPathsKey.toString(), u"Path"_s, m_sys + u"/vigilo"_s);

        const MAPIFolder root =
            Application(DefaultStorePath()).GetNamespace(u"MAPI"_s).Folders().Item(StoreName);
        const MAPIFolder folder = root.Folders().Add(u"Kivara"_s, olFolderContacts);
        for (const auto& [cls, name] :
             QList<std::pair<QString, QString>>{{KivaraClass, u"1. Welcome to Kivara!!!"_s},
                                                {KivaraClass, u"Bob Stone"_s},
                                                {StandardClass, u"Plain Ann"_s}}) {
            Item c = folder.Items().Add(cls);
            c.setFullName(name);
            c.Save();
        }
    }

    static void verifyExist(const QStringList& paths, bool exist = true)
    {
        for (const QString& path : paths)
            QVERIFY2(QFile::exists(path) == exist, qPrintable(path));
    }

    void verifyNothingRemoved()
    {
        QVERIFY(QFileInfo(m_install + u"vigilo"_s).isSymLink());
        verifyExist({m_install + u"trillo.wav"_s, m_install + u".hidden"_s, m_sys + u"/libquillonplugin.so"_s,
                     m_sys + u"/libtallyoplugin.so"_s, m_data + u"/applications/kivara-vigilo.desktop"_s,
                     m_data + u"/mime/packages/kivara-peerslip.xml"_s,
                     m_config + u"/autostart/vigilo.desktop"_s,
                     m_data + u"/kivara/history/history.sqlite"_s});
        QCOMPARE(ReadSetting(u"Profile"_s, u"ChatName"_s, QString()), u"Ann"_s);
        QVERIFY(platform::Registry::keyExists(RegRoot::LocalMachine, UninstallKey.toString()));
        QVERIFY(platform::Registry::keyExists(RegRoot::ClassesRoot, PeerslipClassKey.toString()));
        QCOMPARE(ReadKeyValue(RegRoot::CurrentUser, RunKey.toString(), RunValue.toString(), QString()),
                 m_sys + u"/vigilo"_s);
        QCOMPARE(test::ProductItemNames(KivaraClass),
                 (QStringList{u"1. Welcome to Kivara!!!"_s, u"Bob Stone"_s}));
    }

    void runUninstall(int monitorWaitMs = 20000)
    {
        frmOpen main;
        main.setSystemFolder(m_sys);
        main.setMonitorWaitMs(monitorWaitMs);
        QCOMPARE(main.Start(u"uninstall"_s), Route::Uninstall);
        QVERIFY(main.isUnloaded());
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(QDBusConnection::sessionBus().isConnected(), "the suite runs on a private session bus");
    }
    void init()
    {
        startCase();
        setUpProduct();
    }
    void cleanup() { endCase(); }

    // An unattended run takes the default answer, No, which keeps the product.
    void theDefaultAnswerKeepsTheProduct()
    {
        runUninstall();
        QCOMPARE(m_desk.promptTexts(), QStringList{Question});
        const auto& asked = m_desk.prompt->log().first();
        QCOMPARE((QStringList{asked.answer, asked.buttons, asked.icon}),
                 (QStringList{u"No"_s, u"YesNo"_s, u"Question"_s}));
        verifyNothingRemoved();
    }

    void removesTheProductAndKeepsTheRest()
    {
        m_desk.rules(u"msgbox Do you wish to continue => Yes"_s);
        runUninstall();

        // The questions and notices, in order.
        const QString kept = u"The uninstaller detected files in your 'Downloads' folder.\r\r"_s + m_install +
                             u"Downloads\r\rThey will not be removed.  "_s;
        QCOMPARE(m_desk.promptTexts(), (QStringList{Question, kept, Restored, Uninstalled}));

        // Files: the folder's own go, subfolders and the folder stay, links go without their targets.
        QCOMPARE(
            QDir(m_install).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
            QStringList{u"Downloads"_s});
        verifyExist({m_install + u"Downloads/report.pdf"_s, m_sys + u"/vigilo"_s, m_outside + u"/keep.txt"_s,
                     m_outside + u"/inner/deep.txt"_s, m_data + u"/applications/other.desktop"_s,
                     m_sys + u"/libother.so"_s});
        // Entries, type, autostart, control libraries and the conversation history.
        verifyExist({m_data + u"/kivara/history"_s, m_data + u"/applications/kivara-vigilo.desktop"_s,
                     m_data + u"/applications/kivara-dorvan.desktop"_s,
                     m_data + u"/mime/packages/kivara-peerslip.xml"_s,
                     m_config + u"/autostart/vigilo.desktop"_s, m_sys + u"/libquillonplugin.so"_s,
                     m_sys + u"/libtallyoplugin.so"_s},
                    false);
        // Contacts: the welcome item is gone, the product's contacts are standard ones.
        QCOMPARE(test::ProductItemNames(KivaraClass), QStringList());
        QCOMPARE(test::ProductItemNames(StandardClass), (QStringList{u"Bob Stone"_s, u"Plain Ann"_s}));

        // Settings and registrations.
        for (const auto& [root, key] : {std::pair{RegRoot::CurrentUser, CompanyKey},
                                        {RegRoot::ClassesRoot, PeerslipExtensionKey},
                                        {RegRoot::ClassesRoot, PeerslipClassKey},
                                        {RegRoot::LocalMachine, UninstallKey},
                                        {RegRoot::LocalMachine, AppPathsKey}})
            QVERIFY2(!platform::Registry::keyExists(root, key.toString()), qPrintable(key.toString()));
        QCOMPARE(ReadKeyValue(RegRoot::CurrentUser, RunKey.toString(), RunValue.toString(), u"<gone>"_s), u"<gone>"_s);
        QCOMPARE(ReadKeyValue(RegRoot::CurrentUser, RunKey.toString(), u"Other"_s, QString()), u"/bin/true"_s);
        QCOMPARE(ReadKeyValue(RegRoot::CurrentUser, TodayKey.toString(), TodayUrlValue.toString(), u"<gone>"_s),
                 u"<gone>"_s);
        QCOMPARE(ReadKeyValue(RegRoot::CurrentUser, TodayKey.toString(), u"Stamp"_s, QString()), u"1"_s);
    }

    // Without the monitor's link the folder is not the product's: its files stay.
    void aFolderWithoutTheMonitorKeepsItsFiles()
    {
        QFile::remove(m_install + u"vigilo"_s);
        m_desk.rules(u"msgbox Do you wish to continue => Yes"_s);
        runUninstall();
        verifyExist({m_install + u"trillo.wav"_s, m_install + u".hidden"_s});
        QCOMPARE(m_desk.promptTexts(), (QStringList{Question, Restored, Uninstalled}));
        QVERIFY(!platform::Registry::keyExists(RegRoot::CurrentUser, CompanyKey.toString()));
    }

    // A program folder that is not the user's own (a shared installation) keeps its control libraries.
    void aSharedProgramFolderKeepsItsLibraries()
    {
        const QByteArray sys = QFile::encodeName(m_sys);
        if (::chown(sys.constData(), 65534, 65534) != 0) QSKIP("needs root to give the folder to another user");
        m_desk.rules(u"msgbox Do you wish to continue => Yes"_s);
        runUninstall();
        QCOMPARE(::chown(sys.constData(), ::getuid(), ::getgid()), 0);
        verifyExist({m_sys + u"/libquillonplugin.so"_s, m_sys + u"/libtallyoplugin.so"_s});
        verifyExist({m_config + u"/autostart/vigilo.desktop"_s}, false); // the user's own part goes
    }

    // A running monitor: Cancel stops at once; Yes closes it through its bus name; No waits for the
    // user to close it (nothing removed until then), and a monitor that never closes ends the wait
    // with nothing removed.
    void aRunningMonitorIsClosedFirst_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<int>("closeByHandMs"); // -1: never
        QTest::addColumn<int>("waitMs");
        QTest::addColumn<int>("closeCalls");
        QTest::addColumn<bool>("removed");
        QTest::newRow("cancel") << u"Cancel"_s << -1 << 20000 << 0 << false;
        QTest::newRow("yes") << u"Yes"_s << -1 << 20000 << 1 << true;
        QTest::newRow("no, closed by hand") << u"No"_s << 300 << 20000 << 0 << true;
        QTest::newRow("no, stays") << u"No"_s << -1 << 200 << 0 << false;
    }
    void aRunningMonitorIsClosedFirst()
    {
        QFETCH(QString, answer);
        QFETCH(int, closeByHandMs);
        QFETCH(int, waitMs);
        QFETCH(int, closeCalls);
        QFETCH(bool, removed);
        FakeMonitor monitor;
        QVERIFY(monitor.registered());
        m_desk.rules(u"msgbox Do you wish to continue => Yes\nmsgbox Close now => "_s + answer);
        bool keptWhileWaiting = false;
        if (closeByHandMs >= 0)
            QTimer::singleShot(closeByHandMs, this, [&] {
                keptWhileWaiting = QFile::exists(m_install + u"trillo.wav"_s);
                monitor.End();
            });
        runUninstall(waitMs);
        QCOMPARE(monitor.closeCalls(), closeCalls);
        QCOMPARE(keptWhileWaiting, closeByHandMs >= 0);
        QCOMPARE(m_desk.prompt->log().at(1).buttons, u"YesNoCancel"_s);
        if (removed) {
            QVERIFY(!monitor.registered());
            QCOMPARE(m_desk.promptTexts().last(), Uninstalled);
            QVERIFY(!QFile::exists(m_install + u"trillo.wav"_s));
            return;
        }
        QCOMPARE(m_desk.promptTexts(), (QStringList{Question, CloseQuestion, NotUninstalled}));
        QCOMPARE(m_desk.prompt->log().at(2).icon, u"Information"_s);
        verifyNothingRemoved();
    }

    // ---- the guard on the installation folder

    void theGuard_data()
    {
        // "~" stands for this computer's home folder and "@" for its root, which exist only once the case
        // runs; @/to-usr and @/to-home are links to /usr and to the home folder.
        QTest::addColumn<QString>("folder");
        QTest::addColumn<bool>("removable");
        for (const QString& folder :
             {u"~/"_s, u"~"_s, u"~/../"_s, u"/"_s, u"/usr/"_s, u"/usr/share/kivara/"_s, u"/home/"_s,
              u"/usr/../etc/"_s, u"install/"_s, u"@/to-usr/"_s, u"@/to-home/"_s, u"  "_s})
            QTest::newRow(qPrintable(u'"' + folder + u'"')) << folder << false;
        QTest::newRow("inside home") << u"~/.local/share/kivara/"_s << true;
    }
    // A refused folder stops the uninstaller before anything changes.
    void theGuard()
    {
        QFETCH(QString, folder);
        QFETCH(bool, removable);
        QVERIFY(IsRemovableInstallFolder(m_install));
        QVERIFY(QFile::link(u"/usr"_s, m_computer->root() + u"/to-usr"_s));
        QVERIFY(QFile::link(QDir::homePath(), m_computer->root() + u"/to-home"_s));
        folder.replace(u'~', QDir::homePath()).replace(u'@', m_computer->root());
        QCOMPARE(IsRemovableInstallFolder(folder), removable);
        if (removable || folder.trimmed().isEmpty()) return;
        WriteSetting(settings::InstallDir, folder);
        QVERIFY(WriteBytes(QDir::homePath() + u"/notes.txt"_s, "data"));
        QFile::link(m_sys + u"/vigilo"_s, QDir::homePath() + u"/vigilo"_s);
        m_desk.rules(u"msgbox Do you wish to continue => Yes"_s);
        runUninstall();
        QCOMPARE(m_desk.promptTexts().size(), 2);
        QVERIFY(m_desk.promptTexts().at(0).startsWith(u"The installation folder '"_s + folder + u"'"_s));
        QCOMPARE(m_desk.promptTexts().at(1), NotUninstalled);
        QVERIFY(QFile::exists(QDir::homePath() + u"/notes.txt"_s));
        verifyNothingRemoved();
    }
};

KV_TEST_MAIN(TestUninstall)
#include "tst_uninstall.moc"
