// Appending to a growing transcript. A peer at 127.110.200.3 sends a burst of
// public chat lines as fast as it can to a live control at 127.110.200.2; the
// benchmark counts the lines that reach the public transcript and compares the
// time the control took for the last thousand with the first thousand. The
// baseline is a bare QTextEdit of the same size appending the same formatted
// lines (the name in bold colour, a tab, the text), measured the same way.
// Baseline and live runs alternate, each in a fresh widget or control after a
// sync; both are timed from the first line shown to the last.
//
//   bench_transcript [lines] [runs of each]      (default 20000, 3)
#include "Control/Kivara.h"
#include "Platform/Events.h"
#include "Platform/QtPrompt.h"
#include "Platform/ScriptedPrompt.h"
#include "Shared/Protocol.h"
#include "Shared/modUser.h"
#include "testing/Desk.h"
#include "testing/SimComputer.h"

#include <QApplication>
#include <QList>
#include <QElapsedTimer>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QThread>
#include <QUdpSocket>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <unistd.h>

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

struct Run {
    double linesPerS = 0, cpuRatio = 0, wallRatio = 0;
    int lost = 0;
};

// Rates count from the first line shown to the last, on either path.
Run report(const char* what, int run, const Marks& m, int sent)
{
    const int lines = int(m.at.size()) - 1;
    const double seconds = lines > 1 ? (m.at[lines] - m.at[1]) / 1000.0 : 0;
    const Run r{seconds > 0 ? (lines - 1) / seconds : 0.0, Marks::ratio(m.cpu), Marks::ratio(m.at), sent - lines};
    std::printf("run %d  %-12s lines %d of %d (%d lost), %.0f lines/s, last/first %d ratio: CPU %.2f, wall %.2f\n",
                run, what, lines, sent, r.lost, r.linesPerS, Window, r.cpuRatio, r.wallRatio);
    return r;
}

double Median(QList<double> v)
{
    if (v.isEmpty()) return 0;
    std::sort(v.begin(), v.end());
    const qsizetype n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// A bare widget appending the formatted lines, letting events run every 100 lines.
Run bareWidget(int count, int run)
{
    QTextEdit edit;
    edit.resize(640, 420);
    edit.setReadOnly(true);
    edit.show();
    QTextCharFormat name;
    name.setFontWeight(QFont::Bold);
    name.setForeground(QColor(200, 0, 0));
    const QTextCharFormat plain;
    Marks marks;
    QElapsedTimer clock;
    clock.start();
    marks.mark(0);
    for (int i = 1; i <= count; ++i) {
        QTextCursor end(edit.document());
        end.movePosition(QTextCursor::End);
        end.insertText(u"Bob"_s, name);
        end.insertText(u"\tline number %1 of the burst\n"_s.arg(i), plain);
        marks.mark(clock.elapsed());
        if (i % 100 == 0) QCoreApplication::processEvents();
    }
    return report("bare widget", run, marks, count);
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

Run liveControl(Kivara& k, int count, int run)
{
    QTextEdit* transcript = k.roomView(0).transcript;
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
    if (marks.at.size() == 1)
        std::printf("             (no line arrived: this build's control does not show public chat lines)\n");
    return report("live control", run, marks, count);
}

} // namespace

int main(int argc, char* argv[])
{
    test::SimComputer computer(ControlIp, u"KV-BENCH"_s);
    computer.activate();
    QApplication app(argc, argv);
    kv::platform::UseDesktopPrompts();
    computer.installForms();
    platform::Prompt::install(std::make_unique<platform::ScriptedPrompt>(QString()));
    const int count = argc > 1 ? qMax(2 * Window, QString::fromLocal8Bit(argv[1]).toInt()) : 20000;

    SaveProfile(test::UserProfile(u"Ann"_s, ControlIp, u"KV-BENCH"_s), QString());
    const int runs = argc > 2 ? qMax(1, QString::fromLocal8Bit(argv[2]).toInt()) : 3;

    QList<Run> base, live;
    bool started = true;
    // Which goes first swaps every round.
    for (int run = 1; run <= runs && started; ++run) {
        for (int turn = 0; turn < 2; ++turn) {
            ::sync();
            if ((turn == 0) == (run % 2 == 1)) {
                base << bareWidget(count, run);
                continue;
            }
            Kivara k;
            k.resize(640, 420);
            k.show();
            if (k.ChatInit() != 0) {
                std::printf("the control did not start\n");
                started = false;
                break;
            }
            Participant bob = k.rooms().publicRoom().addRow(u"Bob"_s, u"1_0"_s);
            bob.setDetails(UserRecord{u"Bob"_s, u"Available"_s, u"bob@example.org"_s, PeerIp, QString(), u"KV-BOB"_s,
                                      QString(), u"1"_s});
            live << liveControl(k, count, run);
        }
    }
    auto median = [](const QList<Run>& runs, double Run::*field) {
        QList<double> v;
        for (const Run& r : runs)
            v << r.*field;
        return Median(v);
    };
    int lost = 0;
    for (const Run& r : live)
        lost += r.lost;
    const double baseRatio = median(base, &Run::cpuRatio), liveRatio = median(live, &Run::cpuRatio);
    const double baseRate = median(base, &Run::linesPerS), liveRate = median(live, &Run::linesPerS);
    std::printf("medians of %lld and %lld runs: bare widget %.0f lines/s, last/first CPU %.2f; live control %.0f "
                "lines/s, last/first CPU %.2f (goal <= 1.3), %d lines lost in all\n",
                qlonglong(base.size()), qlonglong(live.size()), baseRate, baseRatio, liveRate, liveRatio, lost);
    std::printf("ratio of medians, live control / bare widget: lines/s %.2f (goal >= 0.6), last/first CPU %.2f\n",
                baseRate > 0 ? liveRate / baseRate : 0.0, baseRatio > 0 ? liveRatio / baseRatio : 0.0);
    return started && lost == 0 ? 0 : 1;
}
