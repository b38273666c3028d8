// The protocol probe as shipped: a listener and a sender process, each on its
// own simulated computer (127.20.12.x), the datagrams read by the listener.
// Also the options every shipped program answers alike.
#include "Platform/Events.h"
#include "Platform/Socket.h"
#include "Shared/Protocol.h"
#include "testing/SimComputer.h"

#include <QApplication>
#include <QDirIterator>
#include <QProcess>
#include <QTest>

using namespace Qt::StringLiterals;
using kv::platform::Socket;
using kv::platform::WaitUntil;

namespace {

constexpr int WaitMs = 30000;
const QString HelloText = u"HELLO|Ann|Available|ann@example.com|127.20.12.2|Hi there|KV-TEST-0002||1"_s;

QString binary(const QString& program = u"kvwire"_s)
{
    return qEnvironmentVariable("KIVARA_BIN_DIR") + u'/' + program;
}

// Runs a program to the end (bounded), pumping events meanwhile.
int run(const kv::test::SimComputer& computer, const QString& program, const QStringList& args,
        QByteArray* err = nullptr, QByteArray* out = nullptr)
{
    QProcess p;
    p.setProcessEnvironment(computer.environment());
    p.start(binary(program), args);
    if (!WaitUntil([&] { return p.state() == QProcess::NotRunning; }, WaitMs)) {
        p.kill();
        WaitUntil([&] { return p.state() == QProcess::NotRunning; }, WaitMs);
        return -1;
    }
    if (err)
        *err = p.readAllStandardError();
    if (out) *out = p.readAllStandardOutput();
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

} // namespace

class TestKvwire : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void scrambledHelloArrivesWithNineFields();
    void standardOptions_data();
    void standardOptions();
};

void TestKvwire::scrambledHelloArrivesWithNineFields()
{
    kv::test::SimComputer callee(u"127.20.12.3"_s), caller(u"127.20.12.2"_s, u"KV-TEST-0002"_s);
    QProcess listener;
    listener.setProcessEnvironment(callee.environment());
    listener.start(binary(),
                   {u"listen"_s, u"127.20.12.3:8085"_s, u"--count"_s, u"2"_s, u"--timeout"_s, u"60"_s});
    QByteArray err;
    QVERIFY(WaitUntil([&] {
        err += listener.readAllStandardError();
        return err.contains("listening") || listener.state() == QProcess::NotRunning;
    }, WaitMs));
    QVERIFY2(err.startsWith("listening on 127.20.12.3:8085"), err.constData());

    QCOMPARE(run(caller, u"kvwire"_s,
                 {u"send"_s, u"--from"_s, u"127.20.12.2"_s, u"127.20.12.3:8085"_s, HelloText}),
             0);
    QCOMPARE(run(caller, u"kvwire"_s, {u"send"_s, u"--plain"_s, u"127.20.12.3:8085"_s, u"GIVEUP|Ann|a\\b"_s}),
             0);
    QVERIFY(WaitUntil([&] { return listener.state() == QProcess::NotRunning; }, WaitMs));
    QCOMPARE(listener.exitStatus(), QProcess::NormalExit);
    QCOMPARE(listener.exitCode(), 0);

    const QStringList lines = QString::fromUtf8(listener.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 2);
    QCOMPARE(lines[0], u"127.20.12.2 scrambled 9 fields: "_s + kv::ParseDatagram(HelloText).join(u" | "_s));
    // The caller's computer address is the source even without --from; a backslash is shown escaped.
    QCOMPARE(lines[1], u"127.20.12.2 plain 3 fields: GIVEUP | Ann | a\\x5cb"_s);
    QByteArray usage;
    QCOMPARE(run(caller, u"kvwire"_s, {u"send"_s, u"127.20.12.3"_s, u"x"_s}, &usage), 2); // no port
    QVERIFY(usage.contains("Usage"));

    // A listener whose port is taken says so.
    qputenv("KIVARA_LOCAL_IP", "127.20.12.7");
    Socket holder(Socket::Protocol::Udp);
    holder.setLocalPort(kv::ChatDatagramPort);
    QCOMPARE(holder.Bind(), 0);
    kv::test::SimComputer same(u"127.20.12.7"_s);
    QCOMPARE(run(same, u"kvwire"_s, {u"listen"_s, u"127.20.12.7:8086"_s, u"--timeout"_s, u"5"_s}, &err), 3);
    QVERIFY2(err.contains("10048"), err.constData());
}

void TestKvwire::standardOptions_data()
{
    QTest::addColumn<QString>("program");
    // An unknown option, after one of Qt's own for a program with windows.
    QTest::addColumn<QStringList>("refused");
    const QStringList withQtOption{u"-reverse"_s, u"--bogus"_s};
    QTest::newRow("vigilo") << u"vigilo"_s << withQtOption;
    QTest::newRow("dorvan") << u"dorvan"_s << withQtOption;
    QTest::newRow("outlook-standin") << u"outlook-standin"_s << withQtOption;
    QTest::newRow("kvsetup") << u"kvsetup"_s << QStringList{u"--bogus"_s};
    QTest::newRow("kvwire") << u"kvwire"_s << QStringList{u"--bogus"_s};
}

// Answered without setting anything up: a program that went on would write
// its settings into the computer's folders, or not end at all.
void TestKvwire::standardOptions()
{
    QFETCH(QString, program);
    QFETCH(QStringList, refused);
    const kv::test::SimComputer fresh;
    QByteArray out, err;
    QCOMPARE(run(fresh, program, {u"--help"_s}, &err, &out), 0);
    QVERIFY2(out.startsWith("Usage: " + binary(program).toLocal8Bit() + " [options]"), out.constData());
    QCOMPARE(run(fresh, program, {u"--version"_s}, &err, &out), 0);
    QCOMPARE(out, program.toLocal8Bit() + " " KV_PROJECT_VERSION "\n");
    QCOMPARE(run(fresh, program, refused, &err, &out), 2);
    QVERIFY2(err.startsWith(program.toLocal8Bit() + ": Unknown option 'bogus'.\n\nUsage: "), err.constData());
    QCOMPARE(out, QByteArray());
    QStringList written;
    for (QDirIterator it(fresh.root(), QDir::Files | QDir::Hidden | QDir::System,
                         QDirIterator::Subdirectories);
         it.hasNext();)
        written << it.next();
    QCOMPARE(written, QStringList());
}

KV_TEST_MAIN(TestKvwire)
#include "tst_kvwire.moc"
