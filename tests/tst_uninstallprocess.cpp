// Removing the product across processes: a simulated computer (127.125.1.2)
// with the product installed as the set-up does, the shipped monitor running
// on a private session bus, and the shipped opener started with "uninstall".
// The opener finds the monitor by its bus name and closes it through its
// normal closing path; afterwards the computer holds none of the product's
// files, settings, entries, type or control libraries, its contacts are
// standard ones and the welcome contact is gone.
#include "Platform/Events.h"
#include "Platform/Outlook/Outlook.h"
#include "Platform/Outlook/Store.h"
#include "Platform/Registry.h"
#include "Shared/Installed.h"
#include "Shared/PeerslipMail.h"
#include "Shared/Protocol.h"
#include "Shared/modReg.h"
#include "Shared/modUser.h"
#include "testing/Desk.h"
#include "testing/SimComputer.h"
#include "Shared/Setup.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <QUdpSocket>

using namespace Qt::StringLiterals;
using kv::test::WriteBytes;
using namespace kv;
using namespace kv::outlook;

namespace {

// Generous: two sanitizer-built programs start on a loaded machine.
constexpr int WaitMs = 60000;
const QString MonitorIp = u"127.125.1.2"_s;
const QString WriterIp = u"127.125.1.3"_s;
const QString KivaraClass = u"IPM.Contact.Kivara Contact"_s;
const QString Welcome = u"1. Welcome to Kivara!!!"_s;
const QString HostName = u"Outlook.Application"_s;
const QString MonitorName = u"Kivara.Vigilo"_s;

// Every value and key of one registry root, as "group/name".
QStringList RegistryContents(RegRoot root)
{
    const QString ini = test::FileText(platform::Registry::rootFile(root));
    QStringList lines;
    for (const QString& line : ini.split(u'\n'))
        if (!line.trimmed().isEmpty()) lines << line.trimmed();
    return lines;
}

} // namespace

class TestUninstallProcess : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void uninstallsARunningProduct();
    void theDefaultFolderHoldsOnlyTheProduct();
};

void TestUninstallProcess::uninstallsARunningProduct()
{
    test::SimComputer computer(MonitorIp, u"KV-ANN"_s);
    computer.activate();
    QVERIFY(computer.installProduct());
    const QString install = computer.installDir();
    const QString sys = computer.systemFolder();
    const QString data = computer.root() + u"/data"_s;
    const QString config = computer.root() + u"/config"_s;

    // The user has used the product: a profile, a contact of each kind.
    WriteSetting(settings::FirstRun, u"0"_s);
    QCOMPARE(SaveProfile(test::UserProfile(u"Ann"_s, MonitorIp, u"KV-ANN"_s), QString()), 0);
    for (const auto& [cls, name] : QList<std::pair<QString, QString>>{{KivaraClass, u"Bob Stone"_s},
                                                                      {u"IPM.Contact"_s, u"Plain Cy"_s}}) {
        Item c = test::ProductFolder().Items().Add(cls);
        c.setFullName(name);
        QVERIFY(c.Save());
    }

    // What the set-up left, all of which goes.
    QStringList removed{install + u"kivara.svg"_s, config + u"/autostart/vigilo.desktop"_s};
    for (QStringView library : installed::ControlLibraries)
        removed << sys + u'/' + library.toString();
    for (const QString& path : removed)
        QVERIFY2(QFile::exists(path), qPrintable(path));
    QVERIFY(QFileInfo(install + u"vigilo"_s).isSymLink());
    QVERIFY(test::FileText(data + u"/applications/kivara-vigilo.desktop"_s)
                .contains(u"MimeType=application/x-kivara-peerslip;"_s));
    QVERIFY(test::FileText(data + u"/applications/kivara-dorvan.desktop"_s)
                .contains(sys + u"/dorvan\" uninstall"_s));
    QVERIFY(test::FileText(data + u"/mime/packages/kivara-peerslip.xml"_s).contains(u"*.kvp"_s));
    QCOMPARE(ReadKeyValue(RegRoot::CurrentUser, TodayKey.toString(), TodayUrlValue.toString(), QString()),
             u"res://"_s + install + u"pellum.dll/Outlook.htm"_s);
    QVERIFY(platform::Registry::keyExists(RegRoot::ClassesRoot, PeerslipExtensionKey.toString()));
    QVERIFY(platform::Registry::keyExists(RegRoot::LocalMachine, UninstallKey.toString()));
    QCOMPARE(test::ProductItemNames(KivaraClass), (QStringList{Welcome, u"Bob Stone"_s}));

    // The desktop's cache tools, recorded instead of run, so nothing outlives the test.
    const QString tools = computer.root() + u"/tools"_s;
    const QString toolLog = computer.root() + u"/tools.log"_s;
    for (const QString& tool : {u"update-desktop-database"_s, u"update-mime-database"_s}) {
        QVERIFY(WriteBytes(tools + u'/' + tool,
                           "#!/bin/sh\necho \"$(basename \"$0\") $*\" >> '" + toolLog.toUtf8() + "'\n"));
        QFile::setPermissions(tools + u'/' + tool, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    const test::SessionBus bus;
    QVERIFY(!bus.address().isEmpty());
    const QString rules = computer.root() + u"/rules.txt"_s;
    QVERIFY(WriteBytes(rules, "msgbox Are you sure => Yes\n"
                              "msgbox Do you wish to continue => Yes\n"
                              "msgbox Close now => Yes\n"));
    QProcessEnvironment env = computer.environment();
    env.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, bus.address());
    env.insert(u"KIVARA_PROMPTS"_s, rules);
    env.insert(u"KIVARA_SHELL_LOG"_s, computer.root() + u"/shell.jsonl"_s);
    env.insert(u"KIVARA_SHELL_DRYRUN"_s, u"1"_s);
    env.insert(u"KIVARA_SOUND_LOG"_s, computer.root() + u"/sounds.log"_s);
    env.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
    env.insert(u"PATH"_s, tools + u':' + env.value(u"PATH"_s));

    // Each program logs its prompts to a file of its own.
    const auto start = [&](QProcess& process, const QString& program, const QStringList& args,
                           const QString& log) {
        QProcessEnvironment own = env;
        own.insert(u"KIVARA_PROMPT_LOG"_s, log);
        process.setProcessEnvironment(own);
        process.setProcessChannelMode(QProcess::ForwardedChannels);
        process.start(sys + u'/' + program, args);
        return process.waitForStarted(WaitMs);
    };
    const QString monitorLog = computer.root() + u"/monitor-prompts.jsonl"_s;
    QProcess monitor;
    QVERIFY(start(monitor, u"vigilo"_s, {}, monitorLog));

    // The monitor is up once it takes a left message; until it listens, the message is sent again.
    QUdpSocket writer;
    QVERIFY(writer.bind(QHostAddress(WriterIp), 0));
    const UserRecord bob{u"Bob"_s,  u"Available"_s, u"bob@example.org"_s, WriterIp, u"hi"_s, u"KV-BOB"_s,
                         QString(), u"1"_s};
    const auto messageStored = [] {
        const MAPIFolder messages = test::ProductFolder().Folders().Item(u"Messages"_s);
        return messages && bool(messages.Items().Find(u"[ChatName] = 'Bob'"_s));
    };
    QVERIFY(platform::WaitUntil(
        [&] {
            if (monitor.state() == QProcess::NotRunning) return true;
            writer.writeDatagram(PlainDatagram(BuildMessage(bob, u"Lunch?"_s, u"Call me."_s)),
                                 QHostAddress(MonitorIp), quint16(MonitorDatagramPort));
            return platform::WaitUntil(messageStored, 500);
        },
        WaitMs));
    QCOMPARE(monitor.state(), QProcess::Running);
    QVERIFY(bus.hasOwner(MonitorName));

    // The opener from the system folder, as the program group's "Uninstall" starts it.
    const QString openerLog = computer.root() + u"/opener-prompts.jsonl"_s;
    QProcess opener;
    QVERIFY(start(opener, u"dorvan"_s, {u"uninstall"_s}, openerLog));
    QVERIFY(platform::WaitUntil([&] { return opener.state() == QProcess::NotRunning; }, 2 * WaitMs));
    QCOMPARE(opener.exitStatus(), QProcess::NormalExit);
    QCOMPARE(opener.exitCode(), 0);
    // The monitor was closed, by its own closing path, before anything was removed.
    QVERIFY(platform::WaitUntil([&] { return monitor.state() == QProcess::NotRunning; }, WaitMs));
    QCOMPARE(monitor.exitStatus(), QProcess::NormalExit);
    QCOMPARE(monitor.exitCode(), 0);
    QCOMPARE(
        test::LoggedPromptTexts(monitorLog),
        QStringList{
            u"If you close the Kivara Monitor you will not receive incoming calls.\r\rAre you sure you want to exit ?"_s});
    QCOMPARE(test::LoggedPromptTexts(openerLog),
             (QStringList{u"This will remove Kivara for Microsoft Outlook 1.1\r\rDo you wish to continue ?"_s,
                          u"You should close Kivara Monitor before uninstalling.\r\rClose now ?"_s,
                          u"All Kivara contacts are now standard Outlook contacts.\r\rThey remain in the "
                          u"folder 'Kivara'."_s,
                          u"Kivara for Microsoft Outlook 1.1 was uninstalled."_s}));
    QVERIFY(!bus.hasOwner(MonitorName));

    // The opener started the mail host to convert the contacts; it is asked to quit.
    if (bus.hasOwner(HostName)) {
        QVERIFY(bus.call(HostName, u"/Application"_s, u"org.kivara.Outlook.Application"_s, u"Quit"_s));
        QVERIFY(platform::WaitUntil([&] { return !bus.hasOwner(HostName); }, WaitMs));
    }

    // Files: the installation folder is gone with everything in it; the programs that
    // are not control libraries stay where the system keeps them.
    QVERIFY(!QFileInfo::exists(install));
    for (const QString& path : removed)
        QVERIFY2(!QFile::exists(path), qPrintable(path));
    QVERIFY(QFile::exists(sys + u"/vigilo"_s));

    // Program group, type and start entry, with the desktop's caches brought up to date
    // (the caches the set-up's refresh wrote stay, as the desktop's own).
    QCOMPARE(QDir(data + u"/applications"_s).entryList({u"*.desktop"_s}, QDir::Files), QStringList());
    QCOMPARE(QDir(data + u"/mime/packages"_s).entryList(QDir::Files), QStringList());
    QVERIFY(platform::WaitUntil(
        [&] {
            const QString log = test::FileText(toolLog);
            return log.contains(u"update-desktop-database "_s + data + u"/applications"_s) &&
                   log.contains(u"update-mime-database "_s + data + u"/mime"_s);
        },
        WaitMs));

    // Settings: nothing of the product is left in any root, including what the monitor writes as it closes.
    QCOMPARE(RegistryContents(RegRoot::ClassesRoot), QStringList());
    for (const QString& line :
         RegistryContents(RegRoot::CurrentUser) + RegistryContents(RegRoot::LocalMachine)) {
        QVERIFY2(!line.contains(u"Brindlewood"_s) && !line.contains(u"Kivara"_s) &&
                     !line.contains(u"Vigilo"_s) && !line.contains(u"pellum"_s),
                 qPrintable(line));
    }

    // Contacts: standard ones, the welcome contact gone.
    QCOMPARE(test::ProductItemNames(KivaraClass), QStringList());
    QCOMPARE(test::ProductItemNames(u"IPM.Contact"_s), (QStringList{u"Bob Stone"_s, u"Plain Cy"_s}));
}

// Without an InstallDir the set-up picks a folder that nothing else of the product's
// data root lies in: the mail store and the signature stay out of it, so removing it
// leaves no reported subfolder and no folder behind.
void TestUninstallProcess::theDefaultFolderHoldsOnlyTheProduct()
{
    test::SimComputer computer(u"127.125.2.2"_s);
    computer.activate();
    QCOMPARE(DeleteKeyValue(RegRoot::CurrentUser, ProductKey.toString() + u"Settings"_s, u"InstallDir"_s), 0);
    QVERIFY(computer.installProduct());
    const QString install = ReadSetting(u"Settings"_s, u"InstallDir"_s, QString());
    QCOMPARE(install, setup::DefaultInstallDir());
    QVERIFY(install.endsWith(u'/'));
    QVERIFY(QFileInfo(install + u"vigilo"_s).isSymLink());
    for (const QString& other : {DefaultStorePath(), SignatureFilePath()})
        QVERIFY2(!other.startsWith(install), qPrintable(other));
}

KV_TEST_MAIN(TestUninstallProcess)
#include "tst_uninstallprocess.moc"
