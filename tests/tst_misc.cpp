// Network check, temporary names and the small text operations.
#include "Platform/HostLookup.h"
#include "Platform/Socket.h"
#include "Shared/ProfileBoxes.h"
#include "Shared/modMisc.h"
#include "Shared/modReg.h"
#include "testing/SimComputer.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLineEdit>
#include <QRegularExpression>
#include <QSet>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <thread>

using namespace Qt::StringLiterals;
using namespace kv;

class TestMisc : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void networkCheck();
    void tempNamesAndTextOperations();
};

void TestMisc::networkCheck()
{
    // A probe host by address is the monitor's suite's. By name: a resolver that answers, then one
    // that never does. The check gives up within the lookup's bound, and the interface runs all the while.
    platform::Socket probe(platform::Socket::Protocol::Tcp);
    namespace HostLookup = platform::HostLookup;
    static std::atomic<int> hangMs{0}; // read by workers that may outlive this case
    hangMs = 0;
    HostLookup::setResolver([](const QString& name) -> HostLookup::Answer {
        std::this_thread::sleep_for(std::chrono::milliseconds(hangMs.load()));
        return name == u"probe.kivara.test"_s ? HostLookup::Answer(QHostAddress(u"127.0.0.1"_s))
                                              : std::nullopt;
    });
    WriteKeyValue(RegRoot::LocalMachine, NameServerKey.toString(), NameServerValue.toString(), u"probe.kivara.test"_s);
    QCOMPARE(NetworkAbsent(probe), short(0));
    hangMs = 5000;
    WriteKeyValue(RegRoot::LocalMachine, NameServerKey.toString(), NameServerValue.toString(), u"silent.kivara.test"_s);
    int ticks = 0;
    QTimer ui;
    connect(&ui, &QTimer::timeout, this, [&] { ++ticks; });
    ui.start(50);
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(NetworkAbsent(probe), short(1));
    const qint64 waited = clock.elapsed();
    QVERIFY2(waited < HostLookup::LookupBoundMs + 1000, qPrintable(QString::number(waited)));
    QVERIFY2(ticks >= 10, qPrintable(QString::number(ticks)));
    // Asked again while that lookup still hangs: no second wait.
    clock.restart();
    QCOMPARE(NetworkAbsent(probe), short(1));
    QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
    HostLookup::setResolver({});
    WriteKeyValue(RegRoot::LocalMachine, NameServerKey.toString(), NameServerValue.toString(), u"127.0.0.1"_s);
}

void TestMisc::tempNamesAndTextOperations()
{
    const QString folder = PrivateTempFolder();
    // Not in the shared temporary folder when the user has a private runtime folder.
    QVERIFY(QFileInfo(folder).isDir() && folder.startsWith(qEnvironmentVariable("XDG_RUNTIME_DIR")));
    QCOMPARE(QFileInfo(folder).permissions() & (QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup |
                                                QFile::ReadOther | QFile::WriteOther | QFile::ExeOther),
             QFile::Permissions());
    // A folder opened up by mistake is closed again.
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther |
                                      QFile::ExeOther);
    PrivateTempFolder();
    QVERIFY(!(QFileInfo(folder).permissions() & QFile::ReadOther));

    const QRegularExpression plain(u"^~[0-9a-f]{1,4}\\.tmp$"_s);
    QSet<QString> seen;
    for (int i = 0; i < 200; ++i) {
        const QString name = MakeTempFileName(QString());
        const QFileInfo fi(name);
        QCOMPARE(fi.absolutePath(), folder);
        QVERIFY2(plain.match(fi.fileName()).hasMatch(), qPrintable(name));
        QVERIFY(!fi.exists());
        seen.insert(name);
    }
    QVERIFY(seen.size() > 150); // names are not handed out in a fixed order
    const QString withSuffix = MakeTempFileName(u".kvp"_s);
    QVERIFY2(QRegularExpression(u"^~[0-9a-f]\\.kvp$"_s).match(QFileInfo(withSuffix).fileName()).hasMatch(),
             qPrintable(withSuffix));
    QCOMPARE(QFileInfo(withSuffix).absolutePath(), folder);

    // The probe host: the first of a list, or a single entry taken whole.
    QCOMPARE(ProbeHost(ProductWebHost.toString()), ProductWebHost.toString());
    QCOMPARE(ProbeHost(u"10.0.0.1, 10.0.0.2"_s), u"10.0.0.1"_s);
    QCOMPARE(ProbeHost(u"  10.0.0.1 ,10.0.0.2"_s), u"10.0.0.1"_s);
    QCOMPARE(ProbeHost(u" 10.0.0.9 "_s), u" 10.0.0.9 "_s);
    for (const auto& [a, b, joined] :
         {std::array{QString(), u"WA"_s, u"WA"_s}, std::array{u"Seattle"_s, u"WA"_s, u"Seattle, WA"_s},
          std::array{u"Seattle"_s, QString(), u"Seattle"_s}, std::array{QString(), QString(), QString()}})
        QCOMPARE(JoinNonEmpty(a, b), joined);
    for (const QString& path :
         {u"C:\\Kivara\\Downloads\\report.doc"_s, u"/home/ann/Downloads/report.doc"_s, u"report.doc"_s})
        QCOMPARE(FileNameOfPath(path), u"report.doc"_s);
    QCOMPARE(FileNameOfPath(u"/home/ann/"_s), u"/home/ann/"_s);
    QCOMPARE(FileNameOfPath(QString()), QString());

    QLineEdit box(u"select me"_s);
    box.setCursorPosition(3);
    SelectAllText(&box);
    QCOMPARE(box.selectedText() + u'|' + QString::number(box.selectionStart()), u"select me|0"_s);

    // A user name split into first and second part.
    const QList<std::array<QString, 3>> cases = {
        {u"Smith, John"_s, u"Smith"_s, u"John"_s},
        {u" van Dyke ,  Mary Ann "_s, u"van Dyke"_s, u"Mary Ann"_s}, // comma, spaces kept inside
        {u"John Q Smith"_s, u"John Q "_s, u"Smith"_s},
        {u"Cher"_s, QString(), u"Cher"_s},
        {u"Ann "_s, u"Ann "_s, QString()},
        {QString(), QString(), QString()},
        {u"Ann  Lee"_s, u"Ann  "_s, u"Lee"_s}};
    for (const auto& [name, first, second] : cases)
        QCOMPARE((QStringList{SplitUserName(name).first, SplitUserName(name).second}),
                 (QStringList{first, second}));
}

KV_TEST_MAIN(TestMisc)
#include "tst_misc.moc"
