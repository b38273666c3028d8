// Appending to a growing transcript. A peer at 127.110.200.3 sends a burst of
// public chat lines as fast as it can to a live control at 127.110.200.2; the
// benchmark counts the lines that reach the public transcript and compares the
// time the control took for the last thousand with the first thousand. The
// append path alone is measured the same way, without the network.
//
//   bench_transcript [lines]      (default 20000)
#include "Desk.h"
#include "Events.h"
#include "Kivara.h"
#include "Protocol.h"
#include "ScriptedPrompt.h"
#include "SimComputer.h"
#include "Transcript.h"
#include "modUser.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTextDocument>
#include <QTextEdit>
#include <QThread>
#include <QUdpSocket>

#include <cstdio>
#include <ctime>

using namespace Qt::StringLiterals;
using namespace kv;
using namespace kv::control;

namespace {

constexpr int Window = 1000;
const QString ControlIp = u"127.110.200.2"_s;
const QString PeerIp = u"127.110.200.3"_s;

// CPU time of the calling thread, in microseconds: what appending costs the
// control's thread, whatever else the machine runs meanwhile.
qint64 ThreadCpuUs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return qint64(t.tv_sec) * 1000000 + t.tv_nsec / 1000;
}

// When the transcript reached each line count: wall time (ms since the start)
// and the control thread's CPU time (us).
struct Marks {
    QList<qint64> at;  // at[n] = wall time the n-th line appeared (index 0 unused)
    QList<qint64> cpu; // the same, CPU time
    void mark(qint64 wallMs)
    {
        at.append(wallMs);
        cpu.append(ThreadCpuUs());
    }
    static double ratio(const QList<qint64>& t)
    {
        const int n = int(t.size()) - 1;
        if (n < 2 * Window) return 0;
        const double first = double(t[Window] - t[1]);
        const double last = double(t[n] - t[n - Window + 1]);
        return first > 0 ? last / first : 0;
    }
};

void report(const char* what, const Marks& m, int sent, qint64 elapsedMs)
{
    const int lines = int(m.at.size()) - 1;
    const double seconds = elapsedMs / 1000.0;
    std::printf("%-12s lines %d of %d (%d lost), %.0f lines/s, last/first %d ratio: CPU %.2f (goal <= 1.5), "
                "wall %.2f\n",
                what, lines, sent, sent - lines, seconds > 0 ? lines / seconds : 0.0, Window,
                Marks::ratio(m.cpu), Marks::ratio(m.at));
}

// Appends directly, as inbound handling does for each line.
void appendPath(QTextEdit* transcript, int count)
{
    Marks marks;
    QElapsedTimer clock;
    clock.start();
    marks.mark(0);
    for (int i = 1; i <= count; ++i) {
        AppendChatLine(transcript, u"Bob"_s, QColor(200, 0, 0), u"line number %1 of the burst"_s.arg(i));
        marks.mark(clock.elapsed());
        if (i % 100 == 0) QCoreApplication::processEvents();
    }
    report("append path", marks, count, clock.elapsed());
}

class Sender : public QThread {
public:
    explicit Sender(int count) : m_count(count) {}
    void run() override
    {
        QUdpSocket socket;
        if (!socket.bind(QHostAddress(PeerIp), quint16(ChatDatagramPort))) return;
        for (int i = 1; i <= m_count; ++i) {
            const QByteArray d =
                FrameDatagram(BuildPubChat(u"Bob"_s, 200, u"line number %1 of the burst"_s.arg(i)));
            socket.writeDatagram(d, QHostAddress(ControlIp), quint16(ChatDatagramPort));
        }
    }

private:
    int m_count;
};

void liveControl(Kivara& k, int count)
{
    QTextEdit* transcript = k.rooms().publicRoom().transcript;
    const int before = transcript->document()->blockCount();
    Marks marks;
    QElapsedTimer clock;
    QObject::connect(transcript->document(), &QTextDocument::blockCountChanged, transcript, [&](int blocks) {
        while (int(marks.at.size()) - 1 < blocks - before)
            marks.mark(clock.elapsed());
    });
    Sender sender(count);
    clock.start();
    marks.mark(0);
    sender.start();
    // Bound: everything received, or no new line for two seconds.
    qsizetype seen = 0;
    QElapsedTimer quiet;
    quiet.start();
    while (int(marks.at.size()) - 1 < count && quiet.elapsed() < 2000) {
        platform::WaitUntil([] { return false; }, 50);
        if (marks.at.size() != seen) {
            seen = marks.at.size();
            quiet.restart();
        }
    }
    sender.wait();
    const qint64 end = marks.at.size() > 1 ? marks.at.last() : clock.elapsed();
    report("live control", marks, count, end);
    if (marks.at.size() == 1)
        std::printf("             (no line arrived: this build's control does not show public chat lines)\n");
}

} // namespace

int main(int argc, char* argv[])
{
    test::SimComputer computer(ControlIp, u"KV-BENCH"_s);
    computer.activate();
    QApplication app(argc, argv);
    computer.installForms();
    platform::Prompt::install(std::make_unique<platform::ScriptedPrompt>(QString()));
    const int count = argc > 1 ? qMax(2 * Window, QString::fromLocal8Bit(argv[1]).toInt()) : 20000;

    SaveProfile(test::UserProfile(u"Ann"_s, ControlIp, u"KV-BENCH"_s), QString());

    {
        Kivara scratch;
        scratch.resize(640, 420);
        scratch.show();
        appendPath(scratch.rooms().publicRoom().transcript, count);
    }
    Kivara k;
    k.resize(640, 420);
    k.show();
    if (k.ChatInit() != 0) {
        std::printf("the control did not start\n");
        return 1;
    }
    Participant bob = k.rooms().publicRoom().addRow(u"Bob"_s, u"1_0"_s);
    bob.setDetails(UserRecord{u"Bob"_s, u"Available"_s, u"bob@example.org"_s, PeerIp, QString(), u"KV-BOB"_s,
                              QString(), u"1"_s});
    liveControl(k, count);
    return 0;
}
