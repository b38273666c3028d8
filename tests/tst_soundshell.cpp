#include "Platform/Events.h"
#include "Platform/Shell.h"
#include "testing/SimComputer.h"
#include "Platform/Sound.h"

#include <QApplication>
#include <QDBusConnection>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace kv::platform;

namespace {

QStringList Lines(const QString& path)
{
    return kv::test::FileText(path).split(u'\n', Qt::SkipEmptyParts);
}

// The desktop's file manager, played on the suite's own bus: what it was asked to show.
class FileManagerStandIn : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")
public:
    QStringList shown;
public Q_SLOTS:
    void ShowItems(const QStringList& uris, const QString&) { shown += uris; }
};

} // namespace

class TestSoundShell : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void cleanup();
    void soundAndShellLogTheirCalls();
};

void TestSoundShell::cleanup()
{
    for (const char* v : {"KIVARA_SOUND_LOG", "KIVARA_SHELL_LOG", "KIVARA_SHELL_DRYRUN"})
        qunsetenv(v);
    Sound::install(nullptr);
    Shell::install(nullptr);
}

void TestSoundShell::soundAndShellLogTheirCalls()
{
    QTemporaryDir dir;
    const QString soundLog = dir.filePath(u"sound.log"_s);
    // A short, valid 8 kHz mono wave file: RIFF, WAVE, 16-byte PCM format (1 channel, 8000 Hz, 8000 bytes/s,
    // 1-byte blocks, 8 bits), data.
    const QString wave = dir.filePath(u"trillo.wav"_s);
    QVERIFY(kv::test::WriteBytes(wave,
                                 QByteArray::fromHex("52494646 44030000 57415645 666d7420 10000000 0100 0100 "
                                                     "401f0000 401f0000 0100 0800 64617461 20030000") +
                                     QByteArray(800, char(0x80))));
    const QString broken = dir.filePath(u"broken.wav"_s);
    QVERIFY(kv::test::WriteBytes(broken, "RIFF not really"));
    qputenv("KIVARA_SOUND_LOG", soundLog.toLocal8Bit());
    {
        auto sound = Sound::createDefault();
        const QString missing = dir.filePath(u"missing.wav"_s);
        // None of these may block or fail, with or without an audio device; the second wave replaces
        // the one playing.
        for (const QString& file : {missing, wave, wave, broken, QString()})
            sound->play(file);
        sound->beep();
        QCOMPARE(Lines(soundLog), QStringList({u"play "_s + missing, u"play "_s + wave, u"play "_s + wave,
                                               u"play "_s + broken, u"play "_s, u"beep"_s}));
        for (int i = 0; i < 5; ++i)
            DoEvents();
        sound->play(wave); // destroyed while it may still play
    }
    DoEvents();
    QCOMPARE(Lines(soundLog).size(), 7);

    // The shell: opening held back by a dry run, programs started for real.
    const QString log = dir.filePath(u"shell.log"_s);
    qputenv("KIVARA_SHELL_LOG", log.toLocal8Bit());
    qputenv("KIVARA_SHELL_DRYRUN", "1"); // holds back opening, not programs
    auto shell = Shell::createDefault();
    QVERIFY(shell->open(u"http://127.0.0.1:9/help.html#1001"_s) && shell->open(dir.path()) &&
            !shell->open(QString()));

    // One argument with the characters a message text carries, a working folder.
    const QString argument = u"FILEPREP|a b.txt|a b|12|127.0.0.2|8087|Bob"_s;
    const QStringList arguments{u"-c"_s, u"printf '%s' \"$1\" > started"_s, u"sh"_s, argument};
    QVERIFY(shell->start(u"/bin/sh"_s, arguments, dir.path()));
    const QString started = dir.filePath(u"started"_s);
    QVERIFY(WaitUntil([&] { return QFile(started).size() == argument.size(); }, 30000));
    QCOMPARE(QString::fromUtf8(kv::test::FileBytes(started)), argument);
    QVERIFY(!shell->start(dir.filePath(u"no-such-program"_s), {}));

    QList<QJsonObject> calls;
    for (const QString& line : Lines(log))
        calls << QJsonDocument::fromJson(line.toUtf8()).object();
    QCOMPARE(calls.size(), 5);
    QCOMPARE(calls[0],
             (QJsonObject{{u"call"_s, u"open"_s}, {u"target"_s, u"http://127.0.0.1:9/help.html#1001"_s}}));
    QCOMPARE(calls[1].value(u"target"_s).toString(), dir.path());
    QCOMPARE(calls[3], (QJsonObject{{u"call"_s, u"start"_s},
                                    {u"target"_s, u"/bin/sh"_s},
                                    {u"arguments"_s, QJsonArray::fromStringList(arguments)},
                                    {u"workingDir"_s, dir.path()}}));

    // A file shown in its folder by the file manager, its name encoded in the address.
    FileManagerStandIn manager;
    QDBusConnection bus = QDBusConnection::sessionBus();
    QVERIFY(
        bus.registerObject(u"/org/freedesktop/FileManager1"_s, &manager, QDBusConnection::ExportAllSlots));
    QVERIFY(bus.registerService(u"org.freedesktop.FileManager1"_s));
    qunsetenv("KIVARA_SHELL_DRYRUN");
    QVERIFY(Shell::createDefault()->showInFolder(dir.filePath(u"a b#1.txt"_s)));
    QVERIFY(WaitUntil([&] { return !manager.shown.isEmpty(); }, 30000));
    QCOMPARE(manager.shown, QStringList{u"file://"_s + dir.path() + u"/a%20b%231.txt"_s});
    QCOMPARE(Lines(log).last(),
             uR"({"call":"show","target":")"_s + dir.filePath(u"a b#1.txt"_s) + uR"("})"_s);
}

KV_TEST_MAIN(TestSoundShell)
#include "tst_soundshell.moc"
