// The receiving window in this process against a sender played at the
// protocol level on 127.60.<case>.3; the receiver is 127.60.<case>.2.
#include "Platform/Shell.h"
#include "Shared/modMisc.h"
#include "Shared/modReg.h"
#include "Vigilo/Opener/ReceivedFiles.h"
#include "Vigilo/Opener/frmFile.h"
#include "Vigilo/Opener/frmReceived.h"
#include "testing/FileTransferSupport.h"
#include "testing/FormCheck.h"
#include "testing/LogCapture.h"
#include "testing/SimComputer.h"

#include <QAbstractButton>
#include <QDir>
#include <QDirIterator>
#include <QLabel>
#include <QProgressBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include <fcntl.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace kv::dorvan;
using kv::platform::MsgResult;
using kv::platform::WaitUntil;
using kv::test::FileBytes;
using kv::test::FileSender;
using kv::test::Pattern;
using kv::test::TransferWaitMs;

namespace {

QString Address(int c, int host)
{
    return u"127.60.%1.%2"_s.arg(c).arg(host);
}

QStringList Offer(int c, const QString& title, const QString& size, const QString& own = u"Ann"_s)
{
    return {u"FILEPREP"_s, u"Bob"_s, title, size, Address(c, 3), u"8087"_s, own};
}

// Every file below a folder, relative to it, hidden ones included.
QStringList FilesUnder(const QString& root)
{
    QStringList files;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << QDir(root).relativeFilePath(it.next());
    files.sort();
    return files;
}

QString Label(const frmFile& w, const char* name)
{
    auto* l = w.findChild<QLabel*>(QString::fromLatin1(name));
    return l ? l->text() : u"<no label>"_s;
}

// Fills the disk under the receiving window: its partial file's descriptor now
// writes to /dev/full, which fails each write with ENOSPC as a full file system does.
bool FillDisk()
{
    const int full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
    bool filled = false;
    for (const QFileInfo& fd : QDir(u"/proc/self/fd"_s).entryInfoList(QDir::AllEntries | QDir::System))
        if (fd.symLinkTarget().contains(u"/.~kvpart-"_s)) filled = ::dup2(full, fd.fileName().toInt()) >= 0;
    ::close(full);
    return filled;
}

} // namespace

class TestFileReceive : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void offerSavePathAndList();

    void transferEnds_data();
    void transferEnds();
    void windowAndOpeningTheFile();
    void hostileOffers();

private:
    // The receiver's address, accepting files unasked where told (init turns it off), and the
    // sender's, ready (or nothing).
    std::unique_ptr<FileSender> useCase(int c, bool acceptFiles = false, bool listen = true)
    {
        qputenv("KIVARA_LOCAL_IP", Address(c, 2).toLatin1());
        if (acceptFiles) kv::WriteSetting(kv::settings::AcceptFiles, u"1"_s);
        auto sender = std::make_unique<FileSender>(Address(c, 3), listen);
        return sender->ready() ? std::move(sender) : nullptr;
    }

    std::unique_ptr<QTemporaryDir> m_root;
    QString m_folder;
    kv::test::TransferDesk m_desk;
};

void TestFileReceive::init()
{
    m_root = std::make_unique<QTemporaryDir>();
    m_folder = m_root->filePath(u"Downloads"_s);
    kv::WriteSetting(kv::settings::FileFolder, m_folder);
    kv::WriteSetting(kv::settings::AcceptFiles, u"0"_s);
    QFile::remove(ReceivedFilesPath());
    m_desk.install();
}

void TestFileReceive::cleanup()
{
    m_desk.remove();
    m_root.reset();
}

// What needs no sender: the offer's pieces, the save path, the received-files list.
void TestFileReceive::offerSavePathAndList()
{
    for (const auto& [n, text] :
         QList<std::pair<qint32, QString>>{{0, u"0 bytes"_s},
                                           {1023, u"1023 bytes"_s},
                                           {1024, u"1.00 k"_s},
                                           {1535, u"1.50 k"_s}, // rounds up
                                           {1023999, u"1000.00 k"_s},
                                           {1024000, u"1.00 M"_s},
                                           {1048576, u"1.02 M"_s}, // one MiB is not 1.00 M
                                           {std::numeric_limits<qint32>::max(), u"2097.15 M"_s}})
        QCOMPARE(FormatSize(n), text);

    // Sizes: decimal digits only, within 32 bits.
    for (const QString& bad : {u""_s, u"-1"_s, u"+5"_s, u" 5"_s, u"5 "_s, u"12a"_s, u"0x10"_s, u"1e3"_s,
                               u"2147483648"_s, u"99999999999999999999"_s, u"١٢"_s})
        QVERIFY2(!ParseOfferSize(bad), qPrintable(bad));
    QCOMPARE(ParseOfferSize(u"0"_s), std::optional<qint32>(0));
    QCOMPARE(ParseOfferSize(u"007"_s), std::optional<qint32>(7));
    QCOMPARE(ParseOfferSize(u"2147483647"_s), std::optional<qint32>(std::numeric_limits<qint32>::max()));

    // Addresses: dotted unicast IPv4 literals only, never a name to resolve.
    for (const QString& bad :
         {u""_s, u"localhost"_s, u"example.com"_s, u"0.0.0.0"_s, u"0.1.2.3"_s, u"255.255.255.255"_s,
          u"224.0.0.1"_s, u"240.1.1.1"_s, u"127.1"_s, u"127.0.0.01"_s, u"0177.0.0.1"_s, u"1.2.3.4.5"_s,
          u"1.2.3.256"_s, u"::1"_s, u"127.0.0.1 "_s, u"127.0.0.1:80"_s, u"1..2.3"_s})
        QVERIFY2(!ParseSenderAddress(bad), qPrintable(bad));
    QCOMPARE(ParseSenderAddress(u"127.60.1.3"_s), std::optional<QString>(u"127.60.1.3"_s));
    QCOMPARE(ParseSenderAddress(u"10.0.0.1"_s), std::optional<QString>(u"10.0.0.1"_s));

    // Hostile titles keep only a base name, or are refused.
    const std::optional<QString> none;
    for (const auto& [title, safe] : QList<std::pair<QString, std::optional<QString>>>{
             {u"../evil.txt"_s, u"evil.txt"_s},
             {u"../../../../etc/passwd"_s, u"passwd"_s},
             {u"/etc/passwd"_s, u"passwd"_s},
             {u"..\\..\\Windows\\win.ini"_s, u"win.ini"_s},
             {u"C:\\autoexec.bat"_s, u"autoexec.bat"_s},
             {u"a/b\\c/../d.txt"_s, u"d.txt"_s},
             {u"~/.bashrc"_s, u"bashrc"_s},
             {u" . .profile.txt"_s, u"profile.txt"_s}, // hidden behind blanks
             {u".."_s, none},
             {u"."_s, none},
             {u"a/.."_s, none},
             {u"dir/"_s, none},
             {u"dir\\"_s, none},
             {u""_s, none},
             {u"   "_s, none},
             {u"\x01\x02\x7f"_s, none},
             {u"a\nb.txt"_s, u"ab.txt"_s},
             {u"\x1b[31mred.txt"_s, u"[31mred.txt"_s},
             {u"\a\tx.txt"_s, u"x.txt"_s},
             {u"photo\u202Etxt.exe"_s, u"phototxt.exe"_s}, // direction override
             {u".\x01."_s, none},
             {QString(MaxFileTitleBytes + 1, u'a'), none},
             {QString(MaxFileTitleBytes, u'a'), QString(MaxFileTitleBytes, u'a')},
             {QString(MaxFileTitleBytes / 2 + 1, u'é'), none}, // too long in bytes
             {u"  report.doc  "_s, u"report.doc"_s},
             {u"report.doc"_s, u"report.doc"_s}})
        QVERIFY2(SafeFileTitle(title) == safe, qPrintable(title));

    // Where a file offered is saved.
    const QString folder = m_root->path();
    const QString wanted = QDir(folder).filePath(u"a.txt"_s);

    // Cancelled dialog, "No" to cancelling: the dialog comes back.
    m_desk.prompt->saveAnswers = {QString(), wanted};
    m_desk.prompt->answer(u"cancel the file transfer"_s, {MsgResult::No});
    SavePathChoice choice = ChooseSavePath(wanted, folder, true);
    QCOMPARE(choice.path, wanted);
    QVERIFY(!choice.replaceAgreed);
    QCOMPARE(m_desk.prompt->shown(),
             (QStringList{u"Save file as..."_s, u"Do you wish to cancel the file transfer ?"_s,
                          u"Save file as..."_s}));
    QCOMPARE(m_desk.prompt->lastSave.filter, u"All files (*.*)|*.*"_s);
    QCOMPARE(m_desk.prompt->lastSave.initialDir, folder);
    QCOMPARE(m_desk.prompt->lastSave.fileName, wanted);

    // Cancelled dialog, "Yes": no path.
    m_desk.prompt->saveAnswers = {QString()};
    m_desk.prompt->answer(u"cancel the file transfer"_s, {MsgResult::Yes});
    QVERIFY(ChooseSavePath(wanted, folder, true).path.isEmpty());

    // An existing file: "No" goes back to the dialog, which picks another name.
    QVERIFY(kv::test::WriteBytes(wanted, {}));
    const QString other = QDir(folder).filePath(u"b.txt"_s);
    m_desk.prompt->saveAnswers = {wanted, other};
    m_desk.prompt->answer(u"already exists"_s, {MsgResult::No});
    const int before = static_cast<int>(m_desk.prompt->shown().size());
    choice = ChooseSavePath(wanted, folder, true);
    QCOMPARE(choice.path, other);
    QCOMPARE(m_desk.prompt->shown().mid(before),
             (QStringList{u"Save file as..."_s, u"The file 'a.txt' already exists.\r\rOverwrite ?"_s,
                          u"Save file as..."_s}));
    // "Yes" agrees to replace it, which happens only when the new file is complete.
    m_desk.prompt->saveAnswers = {wanted};
    m_desk.prompt->answer(u"already exists"_s, {MsgResult::Yes});
    choice = ChooseSavePath(wanted, folder, true);
    QCOMPARE(choice.path, wanted);
    QVERIFY(choice.replaceAgreed);
    QVERIFY(QFile::exists(wanted));
    // Saved without asking: nothing is overwritten and nothing asked; the next free number is taken.
    QVERIFY(QFile(QDir(folder).filePath(u"a (2).txt"_s)).open(QIODevice::WriteOnly));
    const int asked = static_cast<int>(m_desk.prompt->shown().size());
    choice = ChooseSavePath(wanted, folder, false);
    QCOMPARE(choice.path, QDir(folder).filePath(u"a (3).txt"_s));
    QVERIFY(!choice.replaceAgreed);
    QCOMPARE(m_desk.prompt->shown().size(), asked);

    // A received-files list left damaged by a crash or a stray write, longer than kept; the window on it.
    m_desk.install();
    const QString saved = QDir(m_folder).filePath(u"a.txt"_s);
    QVERIFY(kv::test::WriteBytes(saved, "a"));
    QByteArray lines;
    for (int i = 0; i < MaxReceivedFiles; ++i)
        lines += R"({"name":"old","sender":"Bob","time":"2026-01-01T00:00:00Z","size":1,"failure":"x"})"
                 "\n";
    lines += QByteArray::fromHex("00ff0a") + "[1]\n{\"name\":\"no time\",\"size\":1,\"path\":\"/x\"}\n";
    lines += R"({"name":"a.txt","sender":"Bob","time":"2026-01-02T00:00:00Z","size":1,"path":")" +
             saved.toUtf8() + "\"}\n" + R"({"name":"cut off","sender":"Bob","ti)";
    QVERIFY(kv::test::WriteBytes(ReceivedFilesPath(), lines));
    QList<ReceivedFile> list = ReadReceivedFiles();
    QCOMPARE(list.size(), MaxReceivedFiles);
    QCOMPARE(list.first().path, saved);
    // A new entry comes first, the oldest beyond the bound go, and the list is whole again.
    QVERIFY(AddReceivedFile({u"b.txt"_s, u"Eve"_s, QDateTime::currentDateTimeUtc(), 7, {}, u"y"_s}));
    list = ReadReceivedFiles();
    QCOMPARE(list.size(), MaxReceivedFiles);
    QCOMPARE(list[0].name + list[1].name + list[2].name, u"b.txta.txtold"_s);
    QCOMPARE(FileBytes(ReceivedFilesPath()).count('\n'), MaxReceivedFiles);

    frmReceived w;
    QSignalSpy unloaded(&w, &frmReceived::Unloaded);
    QCOMPARE(kv::test::FormFaults(&w), QString());
    auto* tree = w.findChild<QTreeWidget*>(u"lvwFiles"_s);
    auto* show = w.findChild<QAbstractButton*>(u"cmdShow"_s);
    auto* openButton = w.findChild<QAbstractButton*>(u"cmdOpen"_s);
    QCOMPARE(tree->topLevelItemCount(), MaxReceivedFiles);
    QCOMPARE(tree->topLevelItem(0)->text(4), u"y"_s);
    QVERIFY(!show->isEnabled() && !openButton->isEnabled()); // a failed one has no file
    tree->setCurrentItem(tree->topLevelItem(1));
    show->click();
    QTest::keyClick(tree, Qt::Key_Return);
    QStringList calls;
    for (const kv::platform::ShellCall& call : m_desk.shell->calls())
        calls << call.kind + u' ' + call.target;
    QCOMPARE(calls, (QStringList{u"show "_s + saved, u"open "_s + saved}));
    // A file moved away since: the user is told, nothing is asked of the shell.
    QFile::remove(saved);
    openButton->click();
    QCOMPARE(m_desk.prompt->shown(),
             QStringList{u"The received file is no longer there:\r\r'"_s + saved + u"'."_s});
    QCOMPARE(m_desk.shell->calls().size(), 2);
    w.close();
    QVERIFY(!unloaded.isEmpty());
}

// Saving unasked, each way a transfer can end, beside a file of the same name. Bytes are sent in chunks, each
// taken in before the next (a chunk beyond the offered size is refused at once); then the sender closes, the
// receiver cancels, or nothing happens; a refused connection leaves the window up until it is closed. "%1"
// in the notice is the saved file's path.
void TestFileReceive::transferEnds_data()
{
    QTest::addColumn<int>("c");
    QTest::addColumn<int>("size");
    QTest::addColumn<QList<int>>("chunks");
    QTest::addColumn<QString>("end");
    QTest::addColumn<QString>("notice");
    QTest::addColumn<QString>("noFile");     // the NOFILE datagram's text, or empty: none sent
    QTest::addColumn<QStringView>("failed"); // the reason in the window and the list, or empty: saved
    const QString saved = u"Saved received file as:\r\r'%1'."_s;
    const QString cancelled = u"Bob has cancelled the file transfer."_s;
    QTest::newRow("whole") << 3 << 1023 << QList<int>{1023} << QString() << saved << QString()
                           << QStringView();
    QTest::newRow("zero bytes, complete on connecting")
        << 5 << 0 << QList<int>{} << QString() << saved << QString() << QStringView();
    QTest::newRow("sender closes part-way")
        << 6 << 1000 << QList<int>{300} << u"close"_s << cancelled << QString() << failure::SenderCancelled;
    QTest::newRow("sender closes at once")
        << 13 << 1000 << QList<int>{} << u"close"_s << cancelled << QString() << failure::SenderCancelled;
    QTest::newRow("receiver cancels") << 7 << 100000 << QList<int>{5000} << u"cancel"_s << QString()
                                      << u"NOFILE|Ann Lee"_s << failure::CancelledHere;
    QTest::newRow("more than offered") << 8 << 100 << QList<int>{50, 100} << QString()
                                       << u"The sender sent more data than the file size it announced.\r\r"
                                          "The file was not saved."_s
                                       << u"NOFILE|Ann Lee"_s << failure::Overrun;
    QTest::newRow("connection refused")
        << 9 << 10 << QList<int>{} << u"refused"_s
        << u"A file transfer error has occured.\r\r10061:Connection is forcefully rejected"_s
        << u"NOFILE|Ann Lee"_s << failure::ConnectionRefused;
    QTest::newRow("disk full") << 14 << 1000 << QList<int>{300} << u"full"_s
                               << u"The received file could not be written.\r\rNo space left on device"_s
                               << u"NOFILE|Ann Lee"_s << failure::DiskFull;
}

void TestFileReceive::transferEnds()
{
    QFETCH(int, c);
    QFETCH(int, size);
    QFETCH(QList<int>, chunks);
    QFETCH(QString, end);
    QFETCH(QString, notice);
    QFETCH(QString, noFile);
    QFETCH(QStringView, failed);
    const auto sender = useCase(c, true, end != u"refused");
    QVERIFY(sender);
    // A file of the offered name is there already: never touched, a saved file goes beside it.
    const QString existing = QDir(m_folder).filePath(u"part.bin"_s);
    QVERIFY(kv::test::WriteBytes(existing, "old contents"));
    const QString target = QDir(m_folder).filePath(u"part (2).bin"_s);
    frmFile w;
    QSignalSpy unloaded(&w, &frmFile::Unloaded);
    w.setInfo(Offer(c, u"part.bin"_s, QString::number(size), u"Ann Lee"_s));
    if (end == u"refused") {
        // The window stays until closed; closing it adds nothing to the list.
        QVERIFY(WaitUntil([&] { return w.phase() == frmFile::Phase::Failed; }, TransferWaitMs));
        QVERIFY(unloaded.isEmpty() && w.isVisible());
        w.cmdFileClick(1);
    } else {
        QVERIFY(sender->waitConnection());
    }
    if (end == u"full") QVERIFY(FillDisk());
    int taken = 0;
    for (int n : chunks) {
        QVERIFY(sender->send(Pattern(n)));
        if (taken + n > size || end == u"full") break;
        taken += n;
        QVERIFY(WaitUntil([&] { return w.receivedCount() == taken; }, TransferWaitMs));
    }
    if (end == u"close") sender->closeConnection();
    if (end == u"cancel") {
        w.findChild<QAbstractButton*>(u"cmdFile_1"_s)->click();
        QVERIFY(!unloaded.isEmpty());
        QCOMPARE(w.Button(), short(1));
    }
    QVERIFY(WaitUntil([&] { return !unloaded.isEmpty(); }, TransferWaitMs));
    QCOMPARE(w.receivedCount(), taken); // not one byte beyond what fitted
    QCOMPARE(m_desk.prompt->shown(), notice.isEmpty() ? QStringList() : QStringList{notice.arg(target)});
    QCOMPARE(FileBytes(existing), QByteArray("old contents"));
    if (notice == u"Saved received file as:\r\r'%1'."_s) {
        QCOMPARE(FileBytes(target), Pattern(taken));
        QCOMPARE(FilesUnder(m_folder), (QStringList{u"part (2).bin"_s, u"part.bin"_s}));
    } else {
        QCOMPARE(FilesUnder(m_folder), QStringList{u"part.bin"_s});
        QCOMPARE(Label(w, "lblProgress"), failed.toString());
    }
    const QList<ReceivedFile> list = ReadReceivedFiles();
    QCOMPARE(list.size(), 1);
    QCOMPARE(list.first(), (ReceivedFile{u"part.bin"_s, u"Bob"_s, list.first().time, size,
                                         failed.isEmpty() ? target : QString(), failed.toString()}));
    if (noFile.isEmpty()) {
        QVERIFY(!WaitUntil([&] { return !sender->datagrams().isEmpty(); }, 100));
        return;
    }
    QVERIFY(sender->waitDatagram());
    QCOMPARE(sender->datagrams(), QList<QByteArray>{kv::test::ExpectedFramed(noFile)});
    QCOMPARE(sender->datagramSources().first(), Address(c, 2));
    QVERIFY(end == u"refused" || WaitUntil([&] { return sender->peerClosed(); }, TransferWaitMs));
}

// The window as an offer shows it; a file received to be opened goes to the shell; a file saved as
// asked shows its progress.
void TestFileReceive::windowAndOpeningTheFile()
{
    const auto sender = useCase(10);
    QVERIFY(sender);
    kv::WriteSetting(kv::settings::AcceptFiles, u"2"_s); // only 1 saves unasked
    {
        frmFile w;
        // Pieces after the own name are ignored.
        w.setInfo(Offer(10, u"report.doc"_s, u"2048"_s) << u"extra"_s);
        QVERIFY(w.isVisible());
        QCOMPARE(w.windowTitle(), u"File Transfer"_s);
        QVERIFY(w.windowFlags() & Qt::WindowStaysOnTopHint);
        QCOMPARE(kv::test::FormFaults(&w), QString());
        // The texts filled from the offer.
        QCOMPARE(Label(w, "lblFile_0"), u"Bob is sending a file."_s);
        QCOMPARE(Label(w, "lblFile_1"), u"Filename: report.doc (2.00 k)"_s);
        QCOMPARE(Label(w, "lblSize"), u"2.00 k"_s);
        QCOMPARE(Label(w, "lblProgress"), u"Waiting for file..."_s);
        QCOMPARE(w.findChild<QProgressBar*>(u"prgFile"_s)->maximum(), 2048);
        QCOMPARE(w.Selection(), short(1));
        QCOMPARE(w.AutoMode(), short(2));
        QCOMPARE(w.phase(), frmFile::Phase::Asking); // nothing happens before OK
        QVERIFY(QFileInfo(m_folder).isDir());        // the save folder is made when missing
        // Markup from the sender is shown as text.
        w.setSender(u"<b>Eve</b>"_s);
        QCOMPARE(w.findChild<QLabel*>(u"lblFile_0"_s)->textFormat(), Qt::PlainText);
    }
    const QByteArray data = Pattern(70000);
    for (bool opens : {true, false}) {
        m_desk.shell->result = opens;
        frmFile w;
        QSignalSpy unloaded(&w, &frmFile::Unloaded);
        w.setInfo(Offer(10, u"../slides.pdf"_s, QString::number(data.size())));
        w.setSelection(0);
        w.cmdFileClick(0);
        QVERIFY(sender->waitConnection(opens ? 1 : 2));
        QVERIFY(sender->send(data));
        QVERIFY(WaitUntil([&] { return !unloaded.isEmpty(); }, TransferWaitMs));
        const QString target = w.targetPath();
        QCOMPARE(QFileInfo(target).absolutePath(), QFileInfo(kv::PrivateTempFolder()).absoluteFilePath());
        QVERIFY2(QFileInfo(target).fileName().endsWith(u"slides.pdf"_s), qPrintable(target));
        QCOMPARE(FileBytes(target), data);
        QCOMPARE(m_desk.shell->calls().last().kind, u"open"_s);
        QCOMPARE(m_desk.shell->calls().last().target, target);
        if (opens)
            QVERIFY(m_desk.prompt->shown().isEmpty());
        else
            QCOMPARE(m_desk.prompt->shown().last(),
                     u"Could not open "_s + target +
                         u".\r\rNo application is associated with the specified file "
                         u"for this operation."_s);
        QFile::remove(target);
    }
    QCOMPARE(FilesUnder(m_folder), QStringList());

    // A few MiB saved as a person answers the window (OK with "save" chosen, then the dialog), with progress.
    const QByteArray large = Pattern(4 * 1024 * 1024 + 7);
    const QString target = QDir(m_folder).filePath(u"big.bin"_s);
    m_desk.install(
        u"form ^File Transfer$ => optFile_1=checked; cmdFile_0\nsave ^Save file as\\.\\.\\.$ => "_s + target);
    frmFile w;
    QSignalSpy unloaded(&w, &frmFile::Unloaded);
    w.setInfo(Offer(10, u"big.bin"_s, QString::number(large.size())));
    QVERIFY(sender->waitConnection(3));
    QCOMPARE(sender->connection()->peerAddress().toString(), Address(10, 2));
    QVERIFY(!w.findChild<QWidget*>(u"picQuestion"_s)->isVisible());
    QVERIFY(!w.findChild<QWidget*>(u"cmdFile_0"_s)->isVisible());

    // 1000 is not a multiple of 32: the bar moves, the label does not.
    QVERIFY(sender->send(large.left(1000)));
    QVERIFY(WaitUntil([&] { return w.receivedCount() == 1000; }, TransferWaitMs));
    QCOMPARE(w.findChild<QProgressBar*>(u"prgFile"_s)->value(), 1000);
    QCOMPARE(Label(w, "lblProgress"), u"Waiting for file..."_s);
    QVERIFY(sender->send(large.mid(1000, 24)));
    QVERIFY(WaitUntil([&] { return w.receivedCount() == 1024; }, TransferWaitMs));
    QCOMPARE(Label(w, "lblProgress"), u"0 % (1.00 k of 4.10 M bytes)"_s);
    QVERIFY(sender->send(large.mid(1024, 1024 * 1024 - 1024)));
    QVERIFY(WaitUntil([&] { return w.receivedCount() == 1024 * 1024; }, TransferWaitMs));
    QCOMPARE(Label(w, "lblProgress"), u"25 % (1.02 M of 4.10 M bytes)"_s);
    // Painting held during a burst resumes when the arrivals pause.
    QVERIFY(
        WaitUntil([&] { return w.findChild<QLabel*>(u"lblProgress"_s)->updatesEnabled(); }, TransferWaitMs));
    // Nothing under the final name before the end.
    QVERIFY(!QFile::exists(target));

    QVERIFY(sender->send(large.mid(1024 * 1024)));
    QVERIFY(WaitUntil([&] { return !unloaded.isEmpty(); }, TransferWaitMs));
    QCOMPARE(FileBytes(target), large);
    QCOMPARE(FilesUnder(m_folder), QStringList{u"big.bin"_s});
    QVERIFY(!(QFile::permissions(target) & (QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther)));
    QCOMPARE(m_desk.prompt->shown().last(), u"Saved received file as:\r\r'"_s + target + u"'."_s);
    QVERIFY(WaitUntil([&] { return sender->peerClosed(); }, TransferWaitMs));
    QVERIFY(sender->datagrams().isEmpty());
}

// Each refused offer is told, logged and listed (when it names a file); NOFILE goes back only to an
// own name at a usable address, and nothing connects.
void TestFileReceive::hostileOffers()
{
    const auto sender = useCase(11, true);
    QVERIFY(sender);
    const QStringList before = FilesUnder(m_root->path());
    const QString incomplete = u"The offer is incomplete."_s;
    const QString badSize = u"The file size is not valid."_s;
    const QString address = u"The sender's address is not valid."_s;
    QStringList named = Offer(11, u"a.txt"_s, u"5"_s);
    named[piece::RemoteHost] = u"evil.example"_s;
    QStringList broadcast = named;
    broadcast[piece::RemoteHost] = u"255.255.255.255"_s;
    const struct {
        QStringList pieces;
        QString reason;
        bool notified;
        QString listed; // the reason in the received-files list; empty: no entry (no file named)
    } rows[] = {{{u"FILEPREP"_s}, incomplete, false, QString()},
                {Offer(11, u"a.txt"_s, u"5"_s).mid(0, 6), incomplete, true, incomplete},
                {Offer(11, u"a.txt"_s, u"-5"_s), badSize, true, badSize},
                {Offer(11, u"../.."_s, u"5"_s), u"The file name cannot be used."_s, true,
                 failure::NameRefused.toString()},
                {named, address, false, address},
                {broadcast, address, false, address}};
    int notices = 0;
    for (const auto& row : rows) {
        QFile::remove(ReceivedFilesPath());
        m_desk.install();
        frmFile w;
        QSignalSpy unloaded(&w, &frmFile::Unloaded);
        const kv::test::LogCapture log(u"kivara.opener.debug=true"_s);
        w.setInfo(row.pieces);
        QVERIFY(!unloaded.isEmpty() && !w.isVisible());
        QCOMPARE(log.lines().size(), 1);
        QVERIFY(log.lines().first().endsWith(u" refused: "_s + row.reason));
        QCOMPARE(m_desk.prompt->shown(),
                 QStringList{u"The file offer cannot be accepted.\r\r"_s + row.reason});
        QCOMPARE(FilesUnder(m_root->path()), before);
        const QList<ReceivedFile> list = ReadReceivedFiles();
        QCOMPARE(list.size(), row.listed.isEmpty() ? 0 : 1);
        if (!row.listed.isEmpty()) QCOMPARE(list.first().failure, row.listed);
        if (!row.notified) continue;
        QVERIFY(sender->waitDatagram(++notices));
        const QString own = row.pieces.size() > piece::OwnName ? row.pieces[piece::OwnName] : QString();
        QCOMPARE(sender->datagrams().last(), kv::test::ExpectedFramed(u"NOFILE|"_s + own));
    }
    // Nothing else was sent; a datagram would have arrived long before the connection test below.
    QVERIFY(!WaitUntil([&] { return sender->datagrams().size() > notices; }, 200));
    QCOMPARE(sender->connectionCount(), 0);

    // Hostile titles that can be saved stay in the save folder.
    const QStringList titles = {u"../escape1.txt"_s,       u"../../escape2.txt"_s,
                                u"..\\escape3.txt"_s,      QDir::tempPath() + u"/escape4.txt"_s,
                                u"Downloads/../escape5"_s, u"\x01..\x02/escape6.txt"_s};
    QStringList expected;
    for (const QString& title : titles) {
        const QByteArray data = Pattern(100 + expected.size());
        frmFile w;
        QSignalSpy unloaded(&w, &frmFile::Unloaded);
        w.setInfo(Offer(11, title, QString::number(data.size())));
        QVERIFY(sender->waitConnection(int(expected.size()) + 1));
        QVERIFY(sender->send(data));
        QVERIFY(WaitUntil([&] { return !unloaded.isEmpty(); }, TransferWaitMs));
        expected << u"Downloads/"_s + *SafeFileTitle(title);
        QCOMPARE(FileBytes(m_root->filePath(expected.last())), data);
    }
    // Nothing but the save folder's own files anywhere below the test's root.
    expected.sort();
    QCOMPARE(FilesUnder(m_root->path()), expected);

    // A save folder that cannot be made (a file is in its way): the name is refused, nothing connects.
    kv::WriteSetting(kv::settings::FileFolder, m_folder + u"/escape1.txt/sub"_s);
    frmFile w;
    w.setInfo(Offer(11, u"late.txt"_s, u"5"_s));
    QVERIFY(w.isUnloaded());
    QCOMPARE(ReadReceivedFiles().first().failure, failure::NameRefused.toString());
    QCOMPARE(sender->connectionCount(), titles.size());
}

KV_TEST_MAIN(TestFileReceive)
#include "tst_filereceive.moc"
