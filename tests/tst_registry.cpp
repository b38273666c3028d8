// The settings store's read and write rules, the catalogue's per-deliverable
// defaults, and visibility of one process's writes to another.
#include "Shared/modReg.h"
#include "testing/SimComputer.h"

#include <QApplication>
#include <QFile>
#include <QProcess>
#include <QTest>

#include <cstdio>

using namespace Qt::StringLiterals;
using namespace kv;
namespace Registry = kv::platform::Registry;

namespace {

const QString Settings = u"Settings"_s;

// Child side of the cross-process tests: "write <subkey> <name> <value>" or
// "read <subkey> <name> <default>" (prints the value).
int childMain(const QStringList& args)
{
    if (args.size() == 4 && args[0] == u"write"_s) return WriteSetting(args[1], args[2], args[3]);
    if (args.size() == 4 && args[0] == u"read"_s)
        return std::fputs(ReadSetting(args[1], args[2], args[3]).toUtf8().constData(), stdout) < 0;
    return 2;
}

QString runChild(const kv::test::SimComputer& computer, const QStringList& args)
{
    QProcess p;
    p.setProcessEnvironment(computer.environment());
    p.start(QCoreApplication::applicationFilePath(), QStringList{u"--child"_s} + args);
    if (!p.waitForFinished(30000) || p.exitCode() != 0)
        return u"<child failed: "_s + QString::fromUtf8(p.readAllStandardError()) + u">"_s;
    return QString::fromUtf8(p.readAllStandardOutput());
}

} // namespace

class TestRegistry : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void valuesWrittenReadDeletedAndDefaults();
    void nameServersFromResolverFile();
    void writesAreSeenByAnotherProcess();

private:
    std::unique_ptr<kv::test::SimComputer> m_computer;
};

void TestRegistry::init()
{
    m_computer = std::make_unique<kv::test::SimComputer>();
    m_computer->activate();
}

void TestRegistry::valuesWrittenReadDeletedAndDefaults()
{
    const QString key = ProductKey.toString() + u"Never"_s;
    QCOMPARE(ReadSetting(u"Never"_s, u"X"_s, u"dflt"_s), u"dflt"_s);
    // A read never creates the key it looks in.
    QVERIFY(!Registry::keyExists(RegRoot::CurrentUser, key));
    QCOMPARE(ReadSetting(Settings, u"NoSuchValue"_s, u""_s), QString());
    // A value written empty reads as the catalogue's default.
    WriteSetting(Settings, u"FontName"_s, u""_s);
    QCOMPARE(ReadSetting(Deliverable::Quillon, settings::FontName), u"Tahoma"_s);
    WriteSetting(Settings, u"EnterMsg"_s, u""_s);
    QVERIFY(Registry::queryValue(RegRoot::CurrentUser, ProductKey.toString() + Settings, u"EnterMsg"_s).has_value());
    QCOMPARE(ReadSetting(Deliverable::Quillon, settings::EnterMsg), QString());

    // One setting, different defaults per deliverable.
    QCOMPARE(ReadSetting(Deliverable::Vigilo, settings::Messages), u"1"_s);
    QCOMPARE(ReadSetting(Deliverable::Quillon, settings::Messages), u"0"_s);
    // Received files go where the user looks for downloads.
    QCOMPARE(ReadSetting(Deliverable::Dorvan, settings::FileFolder), m_computer->home() + u"/Downloads"_s);
    // Defaults built on the installation folder, which ends with a separator.
    QCOMPARE(ReadSetting(Deliverable::Vigilo, settings::MonitorSnd),
             m_computer->installDir() + u"trillo.wav"_s);
    // The profile's identifier falls back to the installed one until it is set.
    QCOMPARE(ReadSetting(Deliverable::Vigilo, settings::ProfileSerialNum), m_computer->serialNum());
    WriteSetting(settings::ProfileSerialNum, u"OWN-1"_s);
    QCOMPARE(ReadSetting(Deliverable::Vigilo, settings::ProfileSerialNum), u"OWN-1"_s);

    QVERIFY(!ReadFlag(Deliverable::Vigilo, settings::AutoIgnore));
    QVERIFY(ReadFlag(Deliverable::Vigilo, settings::UseMonSnd)); // "-1" is on
    for (const auto& [text, on] :
         {std::pair{u"1"_s, true}, {u"-1"_s, true}, {u"0"_s, false}, {u"2"_s, true}}) {
        WriteSetting(settings::AutoIgnore, text);
        QCOMPARE(ReadFlag(Deliverable::Vigilo, settings::AutoIgnore), on);
    }

    // Deleting values and keys.
    const QString run = RunKey.toString();
    WriteKeyValue(RegRoot::CurrentUser, run, RunValue.toString(), u"x"_s);
    QCOMPARE(DeleteKeyValue(RegRoot::CurrentUser, run, RunValue.toString()), 0);
    QCOMPARE(ReadKeyValue(RegRoot::CurrentUser, run, RunValue.toString(), u"gone"_s), u"gone"_s);
    QCOMPARE(DeleteKeyValue(RegRoot::CurrentUser, run, RunValue.toString()), ErrorFileNotFound);

    WriteSetting(Settings, u"FontName"_s, u"Arial"_s);
    WriteSetting(u"Profile"_s, u"ChatName"_s, u"Ann"_s);
    WriteKeyValue(RegRoot::CurrentUser, u"Software\\Other"_s, u"Keep"_s, u"1"_s);
    QCOMPARE(DeleteKey(RegRoot::CurrentUser, CompanyKey.toString()), 0);
    QCOMPARE(ReadSetting(Settings, u"FontName"_s, u"Tahoma"_s), u"Tahoma"_s);
    QCOMPARE(ReadSetting(u"Profile"_s, u"ChatName"_s, u""_s), QString());
    QCOMPARE(ReadKeyValue(RegRoot::CurrentUser, u"Software\\Other"_s, u"Keep"_s, u""_s), u"1"_s);
    QCOMPARE(DeleteKey(RegRoot::CurrentUser, CompanyKey.toString()), ErrorFileNotFound);

    // 255 characters are too many; the limit counts bytes of the single-byte form, so 254 accented letters
    // fit.
    for (const QString& value : {QString(254, u'x'), QString(255, u'y'), QString(254, QChar(0xE9))}) {
        WriteSetting(Settings, u"Comment"_s, value);
        QCOMPARE(ReadSetting(Settings, u"Comment"_s, u"d"_s), value.size() < 255 ? value : u"d"_s);
    }
    // Settings lose surrounding spaces only; key values keep them.
    QCOMPARE(WriteSetting(Settings, u"FontName"_s, u"  Tahoma  "_s), 0);
    QCOMPARE(ReadSetting(Settings, u"FontName"_s, u""_s), u"Tahoma"_s);
    WriteSetting(Settings, u"EnterMsg"_s, u" \tHi there\t "_s);
    QCOMPARE(ReadSetting(Settings, u"EnterMsg"_s, u""_s), u"\tHi there\t"_s);
    // Values that look like INI syntax survive.
    for (const QString& v : {u"a, b, c"_s, u"@ByteArray(x)"_s, u"x=y;z"_s, u"\"quoted\""_s, u"back\\slash"_s}) {
        WriteSetting(Settings, u"Comment"_s, v);
        QCOMPARE(ReadSetting(Settings, u"Comment"_s, u""_s), v);
    }
    WriteKeyValue(RegRoot::CurrentUser, run, RunValue.toString(), u"  /opt/kivara/vigilo  "_s);
    QCOMPARE(ReadKeyValue(RegRoot::CurrentUser, run, RunValue.toString(), u""_s), u"  /opt/kivara/vigilo  "_s);
    // Text outside the single-byte code page is stored as the ANSI functions store it.
    WriteSetting(Settings, u"Comment"_s, u"caf\u00e9 \u4e2d \u20ac \u201equoted\u201c \u2014 \u2122"_s);
    QCOMPARE(ReadSetting(Settings, u"Comment"_s, u""_s), u"caf\u00e9 ? \u20ac \u201equoted\u201c \u2014 \u2122"_s);
    // The roots are separate stores.
    QCOMPARE(ReadKeyValue(RegRoot::LocalMachine, run, RunValue.toString(), u"none"_s), u"none"_s);
}

void TestRegistry::nameServersFromResolverFile()
{
    // The probe host's value, when the registry holds none, as the system's resolver lists it.
    const QString key = NameServerKey.toString(), name = NameServerValue.toString();
    const QString file = m_computer->root() + u"/resolv.conf"_s;
    Registry::setResolverFile(file);
    const auto read = [&] { return ReadKeyValue(RegRoot::LocalMachine, key, name, u"<none>"_s); };
    QCOMPARE(DeleteKeyValue(RegRoot::LocalMachine, key, name), 0); // the simulated computer's probe host
    const struct {
        QByteArray text;
        QString value;
    } cases[] = {
        {"# written by the network manager\nsearch example.org\nnameserver 192.0.2.53\n"
         "nameserver\t192.0.2.54  # second\n;nameserver 192.0.2.9\nnameserver fe80::1%eth0\noptions rotate\n",
         u"192.0.2.53,192.0.2.54,fe80::1%eth0"_s},
        {"", u"<none>"_s},
        {"nameserver\nnameserver not-an-address\n\x01\xff garbage\nnameserver 999.1.1.1\n", u"<none>"_s},
        {QByteArray(200 * 1024, 'x') + "\nnameserver 192.0.2.53\n",
         u"<none>"_s}, // no resolver file is that long
    };
    for (const auto& c : cases) {
        QVERIFY(kv::test::WriteBytes(file, c.text));
        QCOMPARE(read(), c.value);
    }
    QVERIFY(QFile::remove(file));
    QCOMPARE(read(), u"<none>"_s);
    // Only that value of that key; a value in the registry wins.
    QVERIFY(kv::test::WriteBytes(file, "nameserver 192.0.2.53\n"));
    QCOMPARE(ReadKeyValue(RegRoot::CurrentUser, key, name, u"<none>"_s), u"<none>"_s);
    QCOMPARE(ReadKeyValue(RegRoot::LocalMachine, key, u"Domain"_s, u"<none>"_s), u"<none>"_s);
    QCOMPARE(read(), u"192.0.2.53"_s);
    WriteKeyValue(RegRoot::LocalMachine, key, name, u"127.0.0.1"_s);
    QCOMPARE(read(), u"127.0.0.1"_s);
    Registry::setResolverFile(Registry::SystemResolverFile.toString());
}

void TestRegistry::writesAreSeenByAnotherProcess()
{
    // Each side's next read sees the other's write, also for a same-length value.
    WriteSetting(Settings, u"FontName"_s, u"Arial"_s);
    QCOMPARE(runChild(*m_computer, {u"read"_s, Settings, u"FontName"_s, u"Tahoma"_s}), u"Arial"_s);
    QCOMPARE(ReadSetting(Settings, u"FontName"_s, u"Tahoma"_s), u"Arial"_s);
    for (const QString& v : {u"Times"_s, u"Verdn"_s, u"Cour"_s}) {
        QCOMPARE(runChild(*m_computer, {u"write"_s, Settings, u"FontName"_s, v}), QString());
        QCOMPARE(ReadSetting(Settings, u"FontName"_s, u"Tahoma"_s), v);
    }
    // Writes from both sides to different values of one key are all kept.
    WriteSetting(Settings, u"EnterMsg"_s, u"hello"_s);
    runChild(*m_computer, {u"write"_s, Settings, u"LeaveMsg"_s, u"bye"_s});
    QCOMPARE(ReadSetting(Settings, u"EnterMsg"_s, u""_s), u"hello"_s);
    QCOMPARE(ReadSetting(Settings, u"LeaveMsg"_s, u""_s), u"bye"_s);
    QCOMPARE(runChild(*m_computer, {u"read"_s, Settings, u"EnterMsg"_s, u""_s}), u"hello"_s);
}

KV_TEST_MAIN_WITH_CHILD(TestRegistry, childMain)
#include "tst_registry.moc"
