// File transfer throughput and memory: a 1 GiB file from a chat control on
// 127.0.0.2 to dorvan on 127.0.0.3 (each its own process and simulated
// computer, dorvan accepting by its setting), against a plain copy over a TCP
// connection on loopback with a minimal writer and reader. A second transfer
// goes to dorvan's receiving window hosted in a child that samples its
// progress label, to show the window keeps updating while bytes arrive.
//
// bench_filesend [size in MiB, default 1024]
#include "Desk.h"
#include "FileSend.h"
#include "FileTransferSupport.h"
#include "Kivara.h"
#include "SimComputer.h"
#include "Socket.h"
#include "frmFile.h"
#include "frmOpen.h"
#include "modUser.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

#include <arpa/inet.h>
#include <cstdio>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

constexpr auto SenderIp = "127.0.0.2";
constexpr auto ReceiverIp = "127.0.0.3";
constexpr int BaselinePort = 8099;
constexpr int WaitMs = 600000;

qint64 Now()
{
    return QDateTime::currentMSecsSinceEpoch();
}

// Peak resident memory of a process in KiB, from its status file; 0 when gone.
qint64 PeakKiB(qint64 pid)
{
    QFile f(u"/proc/%1/status"_s.arg(pid));
    if (!f.open(QIODevice::ReadOnly)) return 0;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmHWM:")) return line.mid(6).trimmed().split(' ').first().toLongLong();
    return 0;
}

QTextStream& Out()
{
    static QTextStream out(stdout);
    return out;
}

// ---- Baseline: the minimal writer and reader -----------------------------------------

int BaseReader(const QString& target)
{
    const int server = ::socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    ::setsockopt(server, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(BaselinePort);
    ::inet_pton(AF_INET, ReceiverIp, &addr.sin_addr);
    if (::bind(server, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(server, 1) != 0)
        return 3;
    Out() << "listening" << Qt::endl;
    const int conn = ::accept(server, nullptr, nullptr);
    const int out = ::open(QFile::encodeName(target).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<char> buffer(1 << 20);
    for (;;) {
        const ssize_t n = ::read(conn, buffer.data(), buffer.size());
        if (n <= 0) break;
        if (::write(out, buffer.data(), static_cast<size_t>(n)) != n) return 4;
    }
    ::close(out);
    ::close(conn);
    ::close(server);
    Out() << "peak " << PeakKiB(::getpid()) << Qt::endl;
    return 0;
}

int BaseWriter(const QString& source)
{
    const int conn = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    ::inet_pton(AF_INET, SenderIp, &local.sin_addr);
    ::bind(conn, reinterpret_cast<sockaddr*>(&local), sizeof local);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(BaselinePort);
    ::inet_pton(AF_INET, ReceiverIp, &addr.sin_addr);
    if (::connect(conn, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return 3;
    Out() << "start " << Now() << Qt::endl;
    const int in = ::open(QFile::encodeName(source).constData(), O_RDONLY);
    std::vector<char> buffer(1 << 20);
    for (;;) {
        const ssize_t n = ::read(in, buffer.data(), buffer.size());
        if (n <= 0) break;
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = ::write(conn, buffer.data() + done, static_cast<size_t>(n - done));
            if (w <= 0) return 4;
            done += w;
        }
    }
    ::close(in);
    ::close(conn);
    Out() << "peak " << PeakKiB(::getpid()) << Qt::endl;
    return 0;
}

// ---- The chat control sending -------------------------------------------------------

int Sender(const QString& path)
{
    kv::SaveProfile(kv::test::UserProfile(u"Ann"_s, kv::platform::Socket::LocalIP(), u"KV-BENCH-ANN"_s),
                    QString());
    kv::control::Kivara k;
    if (k.ChatInit() != 0) return 3;
    kv::control::Participant bob = k.rooms().publicRoom().addRow(u"Bob"_s, u"3_0"_s);
    bob.setDetails(kv::UserRecord{
        u"Bob"_s, u"Available"_s, {}, QString::fromLatin1(ReceiverIp), {}, u"KV-BENCH-BOB"_s, {}, u"3"_s});
    bool started = false;
    QObject::connect(&k.fileSend(), &kv::control::FileSend::statusText, &k, [&](const QString&) {
        if (!started) Out() << "start " << Now() << Qt::endl;
        started = true;
    });
    QObject::connect(&k.fileSend(), &kv::control::FileSend::roomNameRestored, &k,
                     [] { Out() << "sent " << Now() << Qt::endl; });
    if (k.DataSend(14, u"Bob"_s, path) != 0) return 4;
    Out() << "offered" << Qt::endl;
    // Ends when the bench closes its input: then the peak is reported.
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &k, [] {
        char c;
        if (::read(STDIN_FILENO, &c, 1) == 0) QCoreApplication::quit();
    });
    ::fcntl(STDIN_FILENO, F_SETFL, ::fcntl(STDIN_FILENO, F_GETFL) | O_NONBLOCK);
    poll.start(50);
    QApplication::exec();
    Out() << "peak " << PeakKiB(::getpid()) << Qt::endl;
    return 0;
}

// ---- Dorvan's receiving window with its progress label watched ---------------------

int Receiver(const QString& argument)
{
    QApplication::setQuitOnLastWindowClosed(false);
    kv::dorvan::frmOpen window;
    QObject::connect(&window, &kv::dorvan::frmOpen::Unloaded, qApp, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    QTimer::singleShot(0, &window, [&window, argument] { window.Start(argument); });
    // Samples the label on a timer: the samples come only while the event loop runs.
    QStringList seen;
    qint64 lastSample = 0, longestGap = 0;
    QTimer sample;
    QObject::connect(&sample, &QTimer::timeout, &window, [&] {
        const qint64 now = Now();
        if (lastSample && now - lastSample > longestGap) longestGap = now - lastSample;
        lastSample = now;
        kv::dorvan::frmFile* f = window.fileWindow();
        if (!f) return;
        auto* label = f->findChild<QLabel*>(u"lblProgress"_s);
        if (label && (seen.isEmpty() || seen.last() != label->text())) seen << label->text();
    });
    sample.start(20);
    QApplication::exec();
    Out() << "labels " << seen.size() << " gap " << longestGap << Qt::endl;
    if (seen.size() > 1) Out() << "label " << seen.at(seen.size() / 2) << Qt::endl;
    Out() << "peak " << PeakKiB(::getpid()) << Qt::endl;
    return 0;
}

// ---- The bench ------------------------------------------------------------------------

struct Child {
    QProcess process;
    QByteArray said;
    bool heard(const char* word)
    {
        return kv::platform::WaitUntil(
                   [&] {
                       said += process.readAllStandardOutput();
                       return said.contains(word) || process.state() == QProcess::NotRunning;
                   },
                   WaitMs) &&
               said.contains(word);
    }
    qint64 number(const char* word) const
    {
        for (const QByteArray& line : said.split('\n'))
            if (line.startsWith(word))
                return line.mid(qstrlen(word)).trimmed().split(' ').first().toLongLong();
        return -1;
    }
    QByteArray line(const char* word) const
    {
        for (const QByteArray& l : said.split('\n'))
            if (l.startsWith(word)) return l;
        return {};
    }
};

void Start(Child& c, const QProcessEnvironment& env, const QStringList& args)
{
    c.process.setProcessEnvironment(env);
    c.process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    c.process.start(QCoreApplication::applicationFilePath(), args);
}

bool SameFiles(const QString& a, const QString& b)
{
    QFile fa(a), fb(b);
    if (!fa.open(QIODevice::ReadOnly) || !fb.open(QIODevice::ReadOnly) || fa.size() != fb.size())
        return false;
    while (!fa.atEnd())
        if (fa.read(1 << 20) != fb.read(1 << 20)) return false;
    return true;
}

double MiBs(qint64 bytes, qint64 ms)
{
    return ms > 0 ? bytes / 1048576.0 / (ms / 1000.0) : 0;
}

int Bench(qint64 mib)
{
    const qint64 size = mib << 20;
    QTemporaryDir work(QDir::tempPath() + u"/kv-bench-XXXXXX"_s);
    QFile::setPermissions(work.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QString source = work.filePath(u"payload.bin"_s);
    {
        QFile f(source);
        if (!f.open(QIODevice::WriteOnly)) return 2;
        const QByteArray block = kv::test::Pattern(1 << 20);
        for (qint64 i = 0; i < mib; ++i)
            f.write(block);
    }
    QProcessEnvironment plain = QProcessEnvironment::systemEnvironment();
    plain.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
    Out() << "file: " << mib << " MiB" << Qt::endl;

    // Baseline
    Child reader, writer;
    Start(reader, plain, {u"--base-reader"_s, work.filePath(u"baseline.out"_s)});
    if (!reader.heard("listening")) return 3;
    Start(writer, plain, {u"--base-writer"_s, source});
    if (!reader.heard("peak") || !writer.heard("peak")) return 4;
    const qint64 baseEnd = Now();
    const qint64 baseMs = baseEnd - writer.number("start");
    const bool baseOk = SameFiles(source, work.filePath(u"baseline.out"_s));
    QFile::remove(work.filePath(u"baseline.out"_s));

    // Chat control to dorvan
    kv::test::SimComputer annPc(QString::fromLatin1(SenderIp), u"KV-BENCH-ANN"_s);
    kv::test::SimComputer bobPc(QString::fromLatin1(ReceiverIp), u"KV-BENCH-BOB"_s);
    const QString saved = work.filePath(u"saved"_s);
    QDir().mkpath(saved);
    kv::test::SetUpComputer(annPc, {});
    kv::test::SetUpComputer(bobPc, {{kv::settings::Service, u"Personal Folders"_s},
                                    {kv::settings::Folder, u"Kivara"_s},
                                    {kv::settings::FileFolder, saved},
                                    {kv::settings::AcceptFiles, u"1"_s}});
    QProcessEnvironment annEnv = annPc.environment(), bobEnv = bobPc.environment();
    annEnv.insert(u"KIVARA_PROMPT_LOG"_s, work.filePath(u"ann.log"_s));
    bobEnv.insert(u"KIVARA_PROMPT_LOG"_s, work.filePath(u"bob.log"_s));
    annEnv.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
    bobEnv.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
    const QString argument =
        u"FILEPREP|Ann|payload.bin|%1|%2|8087|Bob"_s.arg(size).arg(QString::fromLatin1(SenderIp));

    auto runKivara = [&](bool watchLabel, qint64* ms, qint64* senderPeak, qint64* receiverPeak,
                         QByteArray* receiverSaid) {
        Child sender;
        Start(sender, annEnv, {u"--sender"_s, source});
        if (!sender.heard("offered")) return false;
        QProcess dorvan;
        Child watched;
        qint64 peak = 0;
        if (watchLabel) {
            Start(watched, bobEnv, {u"--receiver"_s, argument});
        } else {
            dorvan.setProcessEnvironment(bobEnv);
            dorvan.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            dorvan.start(QCoreApplication::applicationDirPath() + u"/dorvan"_s, {argument});
        }
        QProcess& receiving = watchLabel ? watched.process : dorvan;
        kv::platform::WaitUntil(
            [&] {
                if (!watchLabel) peak = std::max(peak, PeakKiB(receiving.processId()));
                if (watchLabel) watched.said += receiving.readAllStandardOutput();
                return receiving.state() == QProcess::NotRunning;
            },
            WaitMs);
        const qint64 end = Now();
        if (!sender.heard("sent")) return false;
        *ms = end - sender.number("start");
        sender.process.closeWriteChannel();
        if (!sender.heard("peak")) return false;
        sender.process.waitForFinished(WaitMs);
        *senderPeak = sender.number("peak");
        if (watchLabel) {
            watched.heard("peak");
            *receiverPeak = watched.number("peak");
            *receiverSaid = watched.said;
        } else {
            *receiverPeak = peak;
        }
        return receiving.exitCode() == 0;
    };

    qint64 kvMs = 0, senderPeak = 0, dorvanPeak = 0;
    QByteArray unused;
    const bool kvRan = runKivara(false, &kvMs, &senderPeak, &dorvanPeak, &unused);
    const bool kvOk = kvRan && SameFiles(source, QDir(saved).filePath(u"payload.bin"_s));
    QFile::remove(QDir(saved).filePath(u"payload.bin"_s));

    qint64 watchMs = 0, watchSenderPeak = 0, watchPeak = 0;
    QByteArray watchSaid;
    const bool watchRan = runKivara(true, &watchMs, &watchSenderPeak, &watchPeak, &watchSaid);
    QFile::remove(QDir(saved).filePath(u"payload.bin"_s));
    QFile::remove(source);

    Child probe;
    probe.said = watchSaid;
    const qint64 labels = probe.number("labels");
    const QByteArray gapLine = probe.line("labels");
    const double base = MiBs(size, baseMs), kvRate = MiBs(size, kvMs);
    Out() << "baseline (plain TCP copy):   " << QString::number(base, 'f', 1) << " MiB/s"
          << (baseOk ? "" : "  [COPY DIFFERS]") << ", writer peak " << writer.number("peak") / 1024
          << " MiB, reader peak " << reader.number("peak") / 1024 << " MiB" << Qt::endl;
    Out() << "chat control -> dorvan:      " << QString::number(kvRate, 'f', 1) << " MiB/s"
          << (kvOk ? ", byte-identical" : "  [TRANSFER FAILED OR DIFFERS]") << Qt::endl;
    Out() << "ratio:                       " << QString::number(base > 0 ? kvRate / base : 0, 'f', 2)
          << " (goal >= 0.80)" << Qt::endl;
    Out() << "peak resident, sender:       " << QString::number(senderPeak / 1024.0, 'f', 1)
          << " MiB (goal < 64)" << Qt::endl;
    Out() << "peak resident, dorvan:       " << QString::number(dorvanPeak / 1024.0, 'f', 1)
          << " MiB (goal < 64)" << Qt::endl;
    Out() << "receiving window (2nd run):  " << (watchRan ? "" : "[FAILED] ") << labels
          << " distinct progress label texts seen while receiving, "
          << QString::fromLatin1(gapLine.mid(gapLine.indexOf("gap") + 4))
          << " ms longest gap between 20 ms samples, " << QString::number(MiBs(size, watchMs), 'f', 1)
          << " MiB/s" << Qt::endl;
    if (!probe.line("label").isEmpty() && probe.line("label") != gapLine)
        Out() << "  e.g. " << QString::fromLatin1(probe.line("label ").mid(6)) << Qt::endl;
    return baseOk && kvOk && watchRan ? 0 : 1;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    const QString mode = args.value(1);
    if (mode == u"--base-reader"_s) return BaseReader(args.value(2));
    if (mode == u"--base-writer"_s) return BaseWriter(args.value(2));
    if (mode == u"--sender"_s) return Sender(args.value(2));
    if (mode == u"--receiver"_s) return Receiver(args.value(2));
    bool ok = false;
    const qint64 mib = mode.toLongLong(&ok);
    return Bench(ok && mib > 0 ? mib : 1024);
}
