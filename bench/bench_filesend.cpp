// File transfer throughput and memory: a 1 GiB file from a chat control on
// 127.0.0.2 to dorvan's receiving window on 127.0.0.3 (each its own process and
// simulated computer, accepting by its setting), against a plain read/write
// copy over a TCP connection on loopback into a file in the same folder.
// Baseline and product runs alternate, each after a sync so that neither pays
// for the other's unwritten pages, and both are timed by the receiving process
// from its accept to the close of its file. The receiving window's progress
// label is sampled meanwhile, to show it keeps updating while bytes arrive. A
// last transfer goes to the dorvan program itself, for its own peak memory.
//
// bench_filesend [size in MiB, default 1024] [runs of each, default 7]
#include "Control/Kivara.h"
#include "Platform/QtPrompt.h"
#include "Platform/Socket.h"
#include "Shared/modUser.h"
#include "Vigilo/Opener/frmFile.h"
#include "Vigilo/Opener/frmOpen.h"
#include "testing/Desk.h"
#include "testing/FileTransferSupport.h"
#include "testing/SimComputer.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

#include <algorithm>
#include <arpa/inet.h>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/resource.h>
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

// Microseconds on the monotonic clock, which every process of the bench shares.
qint64 NowUs()
{
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return qint64(t.tv_sec) * 1000000 + t.tv_nsec / 1000;
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

// CPU time (user and system) the calling process has used, in milliseconds; each side
// reports what its part of the transfer cost.
qint64 CpuMs()
{
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return (qint64(u.ru_utime.tv_sec) + u.ru_stime.tv_sec) * 1000 + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1000;
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
    // Created before the connection, as the receiving window creates its partial file before connecting.
    const int out = ::open(QFile::encodeName(target).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    Out() << "listening" << Qt::endl;
    const int conn = ::accept(server, nullptr, nullptr);
    const qint64 accepted = NowUs(), cpu = CpuMs();
    std::vector<char> buffer(1 << 20);
    for (;;) {
        const ssize_t n = ::read(conn, buffer.data(), buffer.size());
        if (n <= 0) break;
        if (::write(out, buffer.data(), static_cast<size_t>(n)) != n) return 4;
    }
    ::close(out);
    Out() << "accepted " << accepted << Qt::endl << "closed " << NowUs() << Qt::endl;
    Out() << "cpu " << CpuMs() - cpu << Qt::endl;
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
    const qint64 cpu = CpuMs();
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
    Out() << "cpu " << CpuMs() - cpu << Qt::endl << "peak " << PeakKiB(::getpid()) << Qt::endl;
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
    if (k.DataSend(14, u"Bob"_s, path) != 0) return 4;
    Out() << "offered" << Qt::endl;
    const qint64 cpu = CpuMs();
    // Ends when the bench closes its input: then the peak is reported.
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &k, [] {
        char c;
        if (::read(STDIN_FILENO, &c, 1) == 0) QCoreApplication::quit();
    });
    ::fcntl(STDIN_FILENO, F_SETFL, ::fcntl(STDIN_FILENO, F_GETFL) | O_NONBLOCK);
    poll.start(50);
    QApplication::exec();
    Out() << "cpu " << CpuMs() - cpu << Qt::endl << "peak " << PeakKiB(::getpid()) << Qt::endl;
    return 0;
}

// ---- Dorvan's receiving window, timed, with its progress label watched ---------------

int Receiver(const QString& argument)
{
    QApplication::setQuitOnLastWindowClosed(false);
    kv::dorvan::frmOpen window;
    QObject::connect(&window, &kv::dorvan::frmOpen::Unloaded, qApp, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    qint64 accepted = 0, closed = 0, cpu = 0, arrivals = 0;
    QTimer::singleShot(0, &window, [&] {
        window.Start(argument);
        kv::dorvan::frmFile* f = window.fileWindow();
        if (!f) return;
        // The connection's Connected event is the receiver's accept; the window
        // unloads just after closing its file and moving it into place.
        for (auto* s : f->findChildren<kv::platform::Socket*>())
            if (s->protocol() == kv::platform::Socket::Protocol::Tcp) {
                QObject::connect(s, &kv::platform::Socket::Connected, f, [&] {
                    accepted = NowUs();
                    cpu = CpuMs();
                });
                QObject::connect(s, &kv::platform::Socket::DataArrival, f, [&] { ++arrivals; });
            }
        QObject::connect(f, &kv::dorvan::frmFile::Unloaded, f, [&] {
            closed = NowUs();
            cpu = CpuMs() - cpu;
        });
    });
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
    Out() << "accepted " << accepted << Qt::endl << "closed " << closed << Qt::endl;
    Out() << "labels " << seen.size() << " gap " << longestGap << Qt::endl;
    if (seen.size() > 1) Out() << "label " << seen.at(seen.size() / 2) << Qt::endl;
    Out() << "cpu " << cpu << Qt::endl << "arrivals " << arrivals << Qt::endl << "peak " << PeakKiB(::getpid()) << Qt::endl;
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
    // Reads what is left and waits (bounded) for the end.
    bool finished()
    {
        const bool ended = kv::platform::WaitUntil(
            [&] {
                said += process.readAllStandardOutput();
                return process.state() == QProcess::NotRunning;
            },
            WaitMs);
        said += process.readAllStandardOutput();
        return ended && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
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
    // Accept to file closed, in microseconds; 0 when either mark is missing.
    qint64 timedUs() const
    {
        const qint64 a = number("accepted "), c = number("closed ");
        return a > 0 && c > a ? c - a : 0;
    }
};

void Start(Child& c, const QProcessEnvironment& env, const QString& program, const QStringList& args)
{
    c.process.setProcessEnvironment(env);
    c.process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    c.process.start(program, args);
}

void Start(Child& c, const QProcessEnvironment& env, const QStringList& args)
{
    Start(c, env, QCoreApplication::applicationFilePath(), args);
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

double MiBs(qint64 bytes, qint64 us)
{
    return us > 0 ? bytes / 1048576.0 / (us / 1e6) : 0;
}

double Median(QList<double> v)
{
    if (v.isEmpty()) return 0;
    std::sort(v.begin(), v.end());
    const qsizetype n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

QString Fixed(double v, int decimals = 1)
{
    return QString::number(v, 'f', decimals);
}

// Every timed phase starts with no dirty pages left from the one before.
void Settle(const QStringList& leftovers)
{
    for (const QString& path : leftovers)
        QFile::remove(path);
    ::sync();
}

struct Peaks {
    qint64 a = 0, b = 0;
    void take(qint64 first, qint64 second)
    {
        a = std::max(a, first);
        b = std::max(b, second);
    }
};

int Bench(qint64 mib, int runs)
{
    const qint64 size = mib << 20;
    QTemporaryDir work(QDir::tempPath() + u"/kv-bench-XXXXXX"_s);
    QFile::setPermissions(work.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QString source = work.filePath(u"payload.bin"_s);
    {
        QFile f(source);
        if (!f.open(QIODevice::WriteOnly)) return 2;
        QByteArray block = kv::test::Pattern(1 << 20);
        for (qint64 i = 0; i < mib; ++i) {
            // Each block numbered, so a repeated or dropped whole block shows as well.
            std::memcpy(block.data(), &i, sizeof i);
            f.write(block);
        }
    }
    QProcessEnvironment plain = QProcessEnvironment::systemEnvironment();
    plain.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);

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
    const QString baseOut = work.filePath(u"baseline.out"_s), received = QDir(saved).filePath(u"payload.bin"_s);

    Out() << "file: " << mib << " MiB; " << runs
          << " runs of each, alternating; rates from the receiver's accept to its file closed" << Qt::endl;
    QList<double> baseRates, kvRates;
    Peaks basePeak, kvPeak;
    bool allOk = true;
    // One baseline run: the plain copy into a file beside the received one.
    auto baseline = [&](int run) {
        Settle({baseOut});
        Child reader, writer;
        Start(reader, plain, {u"--base-reader"_s, baseOut});
        if (!reader.heard("listening")) return false;
        Start(writer, plain, {u"--base-writer"_s, source});
        const bool ran = writer.finished() && reader.finished() && reader.timedUs() > 0;
        const bool same = ran && SameFiles(source, baseOut);
        const double rate = MiBs(size, reader.timedUs());
        if (same) baseRates << rate;
        basePeak.take(writer.number("peak"), reader.number("peak"));
        Out() << "run " << run << "  plain copy             " << Fixed(rate) << " MiB/s  "
              << Fixed(reader.timedUs() / 1000.0, 0) << " ms" << (same ? ", identical" : "  [FAILED OR DIFFERS]")
              << "; CPU ms: writer " << writer.number("cpu ") << ", reader " << reader.number("cpu ") << Qt::endl;
        return same;
    };
    // One product run; with `dorvan` to the program itself (untimed: it has no marks).
    auto product = [&](int run, bool dorvan) {
        Settle({received});
        Child sender, receiver;
        Start(sender, annEnv, {u"--sender"_s, source});
        if (!sender.heard("offered")) return false;
        qint64 dorvanPeak = 0, startMs = Now();
        if (dorvan) {
            Start(receiver, bobEnv, QCoreApplication::applicationDirPath() + u"/dorvan"_s, {argument});
            kv::platform::WaitUntil(
                [&] {
                    dorvanPeak = std::max(dorvanPeak, PeakKiB(receiver.process.processId()));
                    return receiver.process.state() == QProcess::NotRunning;
                },
                WaitMs);
        } else {
            Start(receiver, bobEnv, {u"--receiver"_s, argument});
        }
        const bool receiverEnded = receiver.finished();
        const qint64 wallMs = Now() - startMs;
        sender.process.closeWriteChannel();
        const bool ran = sender.finished() && receiverEnded && (dorvan || receiver.timedUs() > 0);
        const bool same = ran && SameFiles(source, received);
        if (dorvan) {
            Out() << "dorvan program         " << wallMs << " ms from its start to its end"
                  << (same ? ", identical" : "  [FAILED OR DIFFERS]") << ", peak resident "
                  << Fixed(dorvanPeak / 1024.0) << " MiB (goal < 64), sender "
                  << Fixed(sender.number("peak") / 1024.0) << " MiB" << Qt::endl;
            return same;
        }
        const double rate = MiBs(size, receiver.timedUs());
        if (same) kvRates << rate;
        kvPeak.take(sender.number("peak"), receiver.number("peak"));
        const QByteArray labels = receiver.line("labels ");
        Out() << "run " << run << "  chat control -> dorvan " << Fixed(rate) << " MiB/s  "
              << Fixed(receiver.timedUs() / 1000.0, 0) << " ms" << (same ? ", identical" : "  [FAILED OR DIFFERS]")
              << "; CPU ms: sender " << sender.number("cpu ") << ", receiver " << receiver.number("cpu ") << "; "
              << receiver.number("arrivals ") << " arrivals"
              << "; progress label: " << receiver.number("labels ") << " texts, longest gap between 20 ms samples "
              << QString::fromLatin1(labels.mid(labels.indexOf("gap ") + 4)) << " ms" << Qt::endl;
        return same;
    };
    // Which goes first swaps every round, so neither always follows the other's deleted file.
    for (int run = 1; run <= runs; ++run) {
        if (run % 2) allOk = baseline(run) && allOk;
        allOk = product(run, false) && allOk;
        if (run % 2 == 0) allOk = baseline(run) && allOk;
    }
    allOk = product(0, true) && allOk;
    Settle({received, baseOut, source});

    const double base = Median(baseRates), kv = Median(kvRates);
    Out() << "median plain copy:            " << Fixed(base) << " MiB/s of " << baseRates.size() << " runs"
          << Qt::endl;
    Out() << "median chat control -> dorvan: " << Fixed(kv) << " MiB/s of " << kvRates.size() << " runs"
          << Qt::endl;
    Out() << "ratio of medians:              " << Fixed(base > 0 ? kv / base : 0, 2) << " (goal >= 0.90)" << Qt::endl;
    Out() << "peak resident, largest of the runs: sender " << Fixed(kvPeak.a / 1024.0) << " MiB, receiving window "
          << Fixed(kvPeak.b / 1024.0) << " MiB (goal < 64); plain writer " << Fixed(basePeak.a / 1024.0)
          << " MiB, reader " << Fixed(basePeak.b / 1024.0) << " MiB" << Qt::endl;
    return allOk ? 0 : 1;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    kv::platform::UseDesktopPrompts();
    const QStringList args = QCoreApplication::arguments();
    const QString mode = args.value(1);
    if (mode == u"--base-reader"_s) return BaseReader(args.value(2));
    if (mode == u"--base-writer"_s) return BaseWriter(args.value(2));
    if (mode == u"--sender"_s) return Sender(args.value(2));
    if (mode == u"--receiver"_s) return Receiver(args.value(2));
    bool ok = false;
    const qint64 mib = mode.toLongLong(&ok);
    const int runs = args.value(2).toInt();
    return Bench(ok && mib > 0 ? mib : 1024, runs > 0 ? runs : 7);
}
