// Sending files from the chat control. The control runs in this process on
// 127.90.<case>.2; the receiver is the shipped dorvan on its own simulated
// computer at 127.90.<case>.3, or a plain stream socket where the protocol
// alone is tested. The inbound dispatcher's part (NOFILE) is played by a
// datagram socket on the control's chat port.
#include "Control/Kivara.h"
#include "Control/Session/FileSend.h"
#include "Platform/Events.h"
#include "Platform/Socket.h"
#include "Shared/Protocol.h"
#include "Shared/modMisc.h"
#include "Shared/modUser.h"
#include "testing/CallPeer.h"
#include "testing/Desk.h"
#include "testing/FileTransferSupport.h"
#include "testing/LogCapture.h"
#include "testing/SimComputer.h"

#include <QApplication>
#include <QDir>
#include <QDropEvent>
#include <QMimeData>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>
#include <QUrl>

using namespace Qt::StringLiterals;
using namespace kv;
using namespace kv::control;
using kv::platform::WaitUntil;
using kv::test::DorvanChild;
using kv::test::FileBytes;
using kv::test::FileSender;
using kv::test::Pattern;
using kv::test::SetUpComputer;
using kv::test::TransferWaitMs;
using kv::test::WriteBytes;

namespace {

QString address(int testCase, int host)
{
    return u"127.90.%1.%2"_s.arg(testCase).arg(host);
}

// A large file written a block at a time, so the test never holds it whole.
bool WriteLargeFile(const QString& path, qint64 size)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    const QByteArray block = Pattern(1 << 20);
    for (qint64 left = size; left > 0; left -= block.size())
        if (f.write(block.constData(), std::min<qint64>(left, block.size())) < 0) return false;
    return true;
}

// A receiving computer with dorvan set up: its save folder, rules and logs.
struct Receiver {
    Receiver(int testCase, const QString& rules, bool autoAccept)
        : computer(address(testCase, 3), u"KV-BOB"_s), folder(work.filePath(u"saved"_s)),
          log(work.filePath(u"prompts.log"_s))
    {
        SetUpComputer(computer, {{settings::Service, u"Personal Folders"_s},
                                 {settings::Folder, u"Kivara"_s},
                                 {settings::FileFolder, folder},
                                 {settings::AcceptFiles, autoAccept ? u"1"_s : u"0"_s}});
        QDir().mkpath(folder);
        const QString rulesFile = work.filePath(u"rules"_s);
        WriteBytes(rulesFile, rules.toUtf8());
        env = computer.environment();
        env.insert(u"KIVARA_PROMPTS"_s, rulesFile);
        env.insert(u"KIVARA_PROMPT_LOG"_s, log);
    }
    QStringList savedFiles() const
    {
        return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System);
    }

    test::SimComputer computer;
    QTemporaryDir work;
    QString folder;
    QString log;
    QProcessEnvironment env;
};

} // namespace

class TestFileSend : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void cleanup();
    void arrivesByteIdentical_data();
    void arrivesByteIdentical();
    void dropsOfferEachFileSkippingFolders();
    void refusedFilesStrangersAndReceivedOffers();

private:
    // A computer for the case with Ann's profile, and her control in session
    // with Bob (127.90.<case>.3) in the public room.
    std::unique_ptr<Kivara> start(int testCase, const QString& rules = QString(),
                                  const KivaraTimings& timings = {});
    // The offer as it reaches Bob, turned into dorvan's argument as his control builds it.
    QString offerArgument();
    // Writes a file of these bytes and offers it to Bob.
    int offer(Kivara& k, const QString& name, const QByteArray& bytes);

    std::unique_ptr<test::SimComputer> m_computer;
    std::unique_ptr<QTemporaryDir> m_files;
    std::unique_ptr<FileSender> m_bob; // Bob's datagram socket, nothing listening on his 8087
    test::Desk m_desk;
};

void TestFileSend::cleanup()
{
    m_bob.reset();
    m_computer.reset();
    m_files.reset();
}

std::unique_ptr<Kivara> TestFileSend::start(int testCase, const QString& ruleText, const KivaraTimings& timings)
{
    m_computer = std::make_unique<test::SimComputer>(address(testCase, 2), u"KV-ANN"_s);
    m_computer->activate();
    m_files = std::make_unique<QTemporaryDir>(QDir::tempPath() + u"/files-XXXXXX"_s);
    m_desk.install(ruleText);
    if (SaveProfile(test::AnnProfile(address(testCase, 2)), QString()) != 0) return nullptr;
    auto k = std::make_unique<Kivara>(nullptr, timings);
    if (k->ChatInit() != 0) return nullptr;
    // The test plays the inbound dispatcher on the chat port.
    k->chatSocket().Close();
    k->rooms()
        .publicRoom()
        .addRow(u"Bob"_s, u"3_0"_s)
        .setDetails(test::PartyRecord(u"Bob"_s, address(testCase, 3)));
    m_bob = std::make_unique<FileSender>(address(testCase, 3), false);
    return m_bob->ready() ? std::move(k) : nullptr;
}

int TestFileSend::offer(Kivara& k, const QString& name, const QByteArray& bytes)
{
    const QString path = m_files->filePath(name);
    return WriteBytes(path, bytes) ? k.DataSend(14, u"Bob"_s, path) : -2;
}

QString TestFileSend::offerArgument()
{
    if (!m_bob->waitDatagram()) return QString();
    const QStringList fields = ReadDatagram(m_bob->datagrams().last());
    return fields.join(u'|') + u"|Bob"_s;
}

// ---- With dorvan receiving --------------------------------------------------------

void TestFileSend::arrivesByteIdentical_data()
{
    QTest::addColumn<int>("testCase");
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("nameTaken"); // the receiver's folder holds a file of that name
    QTest::newRow("empty") << 1 << 0 << false;
    QTest::newRow("one byte") << 2 << 1 << false;
    QTest::newRow("1023") << 3 << 1023 << false;
    QTest::newRow("1024") << 4 << 1024 << false;
    QTest::newRow("1 MiB + 7") << 5 << (1024 * 1024 + 7) << false;
    QTest::newRow("name taken") << 6 << 5000 << true;
}

void TestFileSend::arrivesByteIdentical()
{
    QFETCH(int, testCase);
    QFETCH(int, size);
    QFETCH(bool, nameTaken);
    auto k = start(testCase);
    QVERIFY(k);
    Receiver receiver(testCase, QString(), true);
    const QString existing = QDir(receiver.folder).filePath(u"report v2.bin"_s);
    if (nameTaken) QVERIFY(WriteBytes(existing, "old content"));
    const QByteArray data = Pattern(size);
    QSignalSpy status(&k->fileSend(), &FileSend::statusText);

    QCOMPARE(offer(*k, u"report v2.bin"_s, data), 0);
    const QString argument = offerArgument();
    QCOMPARE(argument, u"FILEPREP|Ann|report v2.bin|%1|%2|8087|Bob"_s.arg(size).arg(address(testCase, 2)));
    QCOMPARE(k->panelText(1), u"Sending file report v2.bin to Bob..."_s);
    auto* cancel = k->findChild<QPushButton*>(u"cmdCancel"_s);
    QVERIFY(cancel->isVisibleTo(k.get()));

    DorvanChild dorvan(receiver.env, argument);
    QVERIFY(dorvan.endsWell());
    const QString saved =
        QDir(receiver.folder).filePath(nameTaken ? u"report v2 (2).bin"_s : u"report v2.bin"_s);
    QCOMPARE(FileBytes(saved), data);
    if (nameTaken) QCOMPARE(FileBytes(existing), QByteArray("old content"));
    QCOMPARE(receiver.savedFiles(), nameTaken ? (QStringList{u"report v2 (2).bin"_s, u"report v2.bin"_s})
                                              : QStringList{u"report v2.bin"_s});
    // The receiving form's entry (it has no text), then the notice.
    QCOMPARE(test::LoggedPromptTexts(receiver.log),
             (QStringList{QString(), u"Saved received file as:\r\r'"_s + saved + u"'."_s}));

    // The sender reports success once, and the display returns to the room.
    QVERIFY(WaitUntil([&] { return !m_desk.promptTexts().isEmpty(); }, TransferWaitMs));
    QCOMPARE(m_desk.promptTexts(), QStringList{u"File successfully sent."_s});
    QVERIFY(!cancel->isVisibleTo(k.get()));
    QCOMPARE(k->panelText(1), u"Public room"_s);
    QVERIFY(WaitUntil([&] { return k->fileSend().elementCount() == 1; }, TransferWaitMs));
    QVERIFY(m_bob->datagrams().size() == 1); // no NOFILE, nothing else

    // Progress counts down to nothing remaining.
    int last = 101;
    for (const QList<QVariant>& s : status) {
        const QString text = s.first().toString();
        QVERIFY2(text.startsWith(u"Sending file..."_s) && text.endsWith(u"% remaining"_s), qPrintable(text));
        const int p = text.mid(15).section(u'%', 0, 0).toInt();
        QVERIFY(p <= last);
        last = p;
    }
    if (size > 0) QCOMPARE(last, 0);
}

// ---- At the protocol level ----------------------------------------------------------

void TestFileSend::dropsOfferEachFileSkippingFolders()
{
    KivaraTimings shortOffers;
    shortOffers.fileOfferMs = 1500;
    auto k = start(11, QString(), shortOffers);
    QVERIFY(k);
    k->show();
    QVERIFY(WriteBytes(m_files->filePath(u"one.txt"_s), "1"));
    QVERIFY(WriteBytes(m_files->filePath(u"two.txt"_s), "22"));
    QVERIFY(QDir(m_files->path()).mkdir(u"folder"_s));
    QTreeView* list = k->roomView(0).list;
    auto drop = [&](int row, const QStringList& names) {
        auto* mime = new QMimeData;
        QList<QUrl> urls;
        for (const QString& n : names)
            urls << QUrl::fromLocalFile(m_files->filePath(n));
        mime->setUrls(urls);
        const QPointF at = list->visualRect(list->model()->index(row, 0)).center();
        QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(list->viewport(), &enter);
        const bool accepted = enter.isAccepted();
        QDropEvent dropped(at, Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(list->viewport(), &dropped);
        delete mime;
        return accepted;
    };
    // On the own row: refused, nothing offered.
    QVERIFY(drop(0, {u"one.txt"_s}));
    QCOMPARE(m_desk.promptTexts(), QStringList{u"You cannot send a file to yourself."_s});
    QCOMPARE(list->currentIndex().row(), 0);
    // On Bob: the first file is offered; the folder is skipped with its message, and
    // the second file waits its turn, one offer at a time (a second pending offer
    // could hand the receiver the wrong file).
    QVERIFY(drop(1, {u"one.txt"_s, u"folder"_s, u"two.txt"_s}));
    QVERIFY(m_bob->waitDatagram(1));
    QCOMPARE(ReadDatagram(m_bob->datagrams()[0]).mid(0, 4),
             (QStringList{u"FILEPREP"_s, u"Ann"_s, u"one.txt"_s, u"1"_s}));
    QCOMPARE(
        m_desk.promptTexts().mid(1),
        QStringList{u"Cannot send folders.  Please select the files you wish to send, and try again."_s});
    QCOMPARE(list->currentIndex().row(), 1);
    QCOMPARE(k->panelText(1), u"Sending file one.txt to Bob..."_s);
    QVERIFY(k->fileSend().offerPending());
    QVERIFY(!WaitUntil([&] { return m_bob->datagrams().size() > 1; }, 300));
    const QTextDocument* transcript = &k->rooms().publicRoom().transcript;
    QCOMPARE(transcript->toPlainText(), u"Offering one.txt to Bob...\ntwo.txt will be offered to Bob next.\n"_s);
    // The receiver declines: the next file goes out by itself.
    k->fileSend().OnNoFile(u"Bob"_s);
    QCOMPARE(m_desk.promptTexts().last(), u"The file transfer was cancelled by Bob."_s);
    QVERIFY(m_bob->waitDatagram(2));
    QCOMPARE(ReadDatagram(m_bob->datagrams()[1]).mid(0, 4),
             (QStringList{u"FILEPREP"_s, u"Ann"_s, u"two.txt"_s, u"2"_s}));
    QVERIFY(transcript->toPlainText().endsWith(u"Offering two.txt to Bob...\n"_s));

    // Whatever the call state, the offer's cancel stays at hand.
    auto* cancel = k->findChild<QPushButton*>(u"cmdCancel"_s);
    QVERIFY(cancel->isVisibleTo(k.get()));
    QCOMPARE(CallState(k->CallStatus()), CallState::Idle);
    m_desk.rules(u"msgbox ^Cancel file transfer \\?$ => No\n"_s);
    cancel->click();
    QCOMPARE(m_desk.promptTexts().last(), sendtext::CancelQuestion.toString());
    QVERIFY(k->fileSend().offerPending());
    // Nobody fetches it: it expires, the panel says so, and sending is free again.
    QVERIFY(WaitUntil([&] { return !k->fileSend().offerPending(); }, 5000));
    QCOMPARE(k->panelText(1), u"Nobody fetched two.txt: the offer has expired."_s);
    QVERIFY(!cancel->isVisibleTo(k.get()));
    QCOMPARE(k->DataSend(14, u"Bob"_s, m_files->filePath(u"one.txt"_s)), 0);
    QVERIFY(m_bob->waitDatagram(3));
}

void TestFileSend::refusedFilesStrangersAndReceivedOffers()
{
    auto k = start(12);
    QVERIFY(k);
    // Missing file, and one beyond the offer's 32-bit size (sparse, nothing is written).
    QCOMPARE(k->DataSend(14, u"Bob"_s, m_files->filePath(u"missing.txt"_s)), -1);
    QVERIFY(m_desk.promptTexts().last().startsWith(u"The file cannot be sent:\r\r'"_s));
    QFile huge(m_files->filePath(u"huge.bin"_s));
    QVERIFY(huge.open(QIODevice::WriteOnly) && huge.resize(qint64(1) << 31));
    huge.close();
    QCOMPARE(k->DataSend(14, u"Bob"_s, huge.fileName()), -1);
    QCOMPARE(m_desk.promptTexts().last(),
             u"The file is too large to send.  Files up to 2047 MB can be sent."_s);
    // Nobody of that name in the room: nothing offered.
    QVERIFY(WriteBytes(m_files->filePath(u"a.txt"_s), "a"));
    QCOMPARE(k->DataSend(14, u"Carol"_s, m_files->filePath(u"a.txt"_s)), -1);
    QVERIFY(!k->fileSend().offerPending());
    QVERIFY(!WaitUntil([&] { return !m_bob->datagrams().isEmpty(); }, 300));
    QVERIFY(!k->findChild<QPushButton*>(u"cmdCancel"_s)->isVisibleTo(k.get()));
    // A session that cannot listen on the file port says so (here the first control holds it).
    Kivara second;
    QCOMPARE(second.ChatInit(), 0);
    QCOMPARE(second.panelText(1), u"Files cannot be sent: port 8087 is not available."_s);

    // The sender cancels mid-transfer, during a call.
    m_desk.rules(u"msgbox ^Cancel file transfer \\?$ => Yes\n"_s);
    k->setCallStatus(short(CallState::Connected));
    Receiver receiver(12, QString(), true);
    const QString big = m_files->filePath(u"big.bin"_s);
    QVERIFY(WriteLargeFile(big, qint64(128) << 20));
    QSignalSpy sending(&k->fileSend(), &FileSend::statusText);
    QCOMPARE(k->DataSend(14, u"Bob"_s, big), 0);
    DorvanChild dorvan(receiver.env, offerArgument());
    QVERIFY(WaitUntil([&] { return !sending.isEmpty(); }, TransferWaitMs));

    QCOMPARE(k->CancelFileTransfer(), 0);
    QCOMPARE(k->panelText(1), u"File transfer cancelled."_s);
    QVERIFY(!k->findChild<QPushButton*>(u"cmdCancel"_s)->isVisibleTo(k.get()));
    QCOMPARE(k->fileSend().elementCount(), 1);
    QVERIFY(dorvan.endsWell());
    QCOMPARE(test::LoggedPromptTexts(receiver.log),
             (QStringList{QString(), u"Ann has cancelled the file transfer."_s}));
    QVERIFY(receiver.savedFiles().isEmpty());
    QCOMPARE(m_desk.promptTexts(), QStringList{u"Cancel file transfer ?"_s});

    // Yes before the receiver connected withdraws the offer; the listener stays.
    QCOMPARE(k->DataSend(14, u"Bob"_s, big), 0);
    QCOMPARE(k->CancelFileTransfer(), 0);
    QVERIFY(!k->fileSend().offerPending());
    QCOMPARE(k->fileSend().element(0)->State(), platform::Socket::sckListening);

    // Connects from `from` and reads until the sender closes; what came, with "<open>" when it stayed open.
    auto fetch = [&](int from) -> QByteArray {
        QTcpSocket s;
        if (!s.bind(QHostAddress(address(12, from)))) return "<bind>";
        s.connectToHost(QHostAddress(address(12, 2)), FileTransferPort);
        QByteArray got;
        const bool ended = WaitUntil(
            [&] {
                got += s.readAll();
                return s.state() == QAbstractSocket::UnconnectedState;
            },
            5000);
        got += s.readAll();
        return ended ? got : got + "<open>";
    };
    // Nothing offered: even the party's own address is turned away.
    QCOMPARE(fetch(3), QByteArray());
    const QByteArray data = Pattern(300000);
    QCOMPARE(offer(*k, u"x.bin"_s, data), 0);
    QVERIFY(m_bob->waitDatagram());
    // Anyone else gets nothing, and the offer stays for Bob; the control's debug line says why.
    const test::LogCapture log(u"kivara.control.debug=true"_s);
    QCOMPARE(fetch(4), QByteArray());
    QVERIFY(QRegularExpression(u"^kivara.control: file connection from 127.90.12.4:\\d+ refused: "
                               "the file is offered to another party$"_s)
                .match(log.lines().join(u'\n'))
                .hasMatch());
    QCOMPARE(fetch(1), QByteArray());
    QVERIFY(k->fileSend().offerPending());

    // Bob gets exactly the bytes; the sender leaves the connection for him to close.
    QCOMPARE(fetch(3), data + "<open>");
    QVERIFY(m_desk.promptTexts().contains(u"File successfully sent."_s));
    // A second connection from Bob: the offer was taken once.
    QCOMPARE(fetch(3), QByteArray());
    QVERIFY(WaitUntil([&] { return k->fileSend().elementCount() == 1; }, TransferWaitMs));

    // A receiver that goes away mid-stream ends the transfer on the sender's side.
    QCOMPARE(k->DataSend(14, u"Bob"_s, big), 0);
    QTcpSocket quitter;
    QVERIFY(quitter.bind(QHostAddress(address(12, 3))));
    quitter.connectToHost(QHostAddress(address(12, 2)), FileTransferPort);
    QVERIFY(WaitUntil([&] { return quitter.bytesAvailable() > 0; }, TransferWaitMs));
    quitter.abort();
    QVERIFY(WaitUntil([&] { return k->fileSend().elementCount() == 1; }, TransferWaitMs));
    QVERIFY(!k->findChild<QPushButton*>(u"cmdCancel"_s)->isVisibleTo(k.get()));
    QVERIFY(k->panelText(1) == u"File transfer cancelled."_s || k->panelText(1) == u"File transfer error"_s);

    // An offer received starts the opener with the own name in place of anything after the port.
    const QStringList offer{u"FILEPREP"_s,    u"Bob"_s,  u"a b.txt"_s, u"12"_s,
                            u"127.90.12.3"_s, u"8087"_s, u"extra"_s};
    QCOMPARE(k->ShowFile(offer), 0);
    QCOMPARE(m_desk.shell->calls().size(), 1);
    const platform::ShellCall call = m_desk.shell->calls().first();
    QCOMPARE(call.kind, u"start"_s);
    QCOMPARE(call.target, SystemFolder() + u"/dorvan"_s);
    QCOMPARE(call.arguments, QStringList{u"FILEPREP|Bob|a b.txt|12|127.90.12.3|8087|Ann"_s});
    // A short offer starts nothing.
    QCOMPARE(k->ShowFile(offer.mid(0, 5)), -1);
    QCOMPARE(m_desk.shell->calls().size(), 1);
    // An offer from the network naming a third computer: the opener is pointed at the sender.
    k->HandleDatagram(FrameDatagram(u"FILEPREP|Bob|a.txt|5|127.90.12.77|8087"_s), address(12, 3));
    QCOMPARE(m_desk.shell->calls().size(), 2);
    QCOMPARE(m_desk.shell->calls().last().arguments,
             QStringList{u"FILEPREP|Bob|a.txt|5|%1|8087|Ann"_s.arg(address(12, 3))});
}

KV_TEST_MAIN(TestFileSend)
#include "tst_filesend.moc"
