// Appending to a growing transcript. A peer at 127.110.200.3 sends a burst of
// public chat lines as fast as it can to a live control at 127.110.200.2; the
// benchmark counts the lines that reach the public transcript and compares the
// time the control took for the last thousand with the first thousand. The
// baseline is a bare QTextEdit of the same size appending the same formatted
// lines (the name in bold colour, a tab, the text), measured the same way.
// The live control runs twice a round, with the conversation history kept and
// without it, each from an empty history; after a run with it the lines
// written are counted. Baseline and both live runs take turns, which goes first
// moving every round, each in a fresh widget or control after a sync; all are
// timed from the first line shown to the last.
//
//   bench_transcript [lines] [runs of each]      (default 20000, 3)
#include "Control/Kivara.h"
#include "Control/Session/History.h"
#include "Platform/Events.h"
#include "Platform/QtPrompt.h"
#include "Platform/ScriptedPrompt.h"
#include "Shared/Protocol.h"
#include "Shared/modMisc.h"
#include "Shared/modUser.h"
#include "testing/Desk.h"
#include "testing/SimComputer.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QList>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QThread>
#include <QUdpSocket>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <optional>
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

Run liveControl(Kivara& k, int count, int run, const char* what)
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
    return report(what, run, marks, count);
}

// The lines the history file holds, read through a connection of its own; -1 when it cannot be read.
int KeptLines()
{
    const QString connection = u"bench-kept"_s;
    int lines = -1;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, connection);
        db.setDatabaseName(HistoryFolder() + u'/' + HistoryFileName.toString());
        QSqlQuery q(db);
        if (db.open() && q.exec(u"SELECT count(*) FROM line"_s) && q.next()) lines = q.value(0).toInt();
    }
    QSqlDatabase::removeDatabase(connection);
    return lines;
}

// One run of the live control from an empty history, kept or not; nothing when it did not start.
std::optional<Run> liveRun(int count, int run, bool keepHistory)
{
    QDir(HistoryFolder()).removeRecursively();
    WriteSetting(settings::KeepHistory, keepHistory ? u"1"_s : u"0"_s);
    Kivara k;
    k.resize(640, 420);
    k.show();
    if (k.ChatInit() != 0) return std::nullopt;
    Participant bob = k.rooms().publicRoom().addRow(u"Bob"_s, u"1_0"_s);
    bob.setDetails(UserRecord{u"Bob"_s, u"Available"_s, u"bob@example.org"_s, PeerIp, QString(), u"KV-BOB"_s,
                              QString(), u"1"_s});
    const Run r = liveControl(k, count, run, keepHistory ? "history on" : "history off");
    if (!keepHistory) return r;
    // What still waits once the burst is over is written now, as a session's end would.
    QElapsedTimer last;
    last.start();
    k.session().history()->flush();
    std::printf("             history: %d of %d lines written, the last batch in %lld ms after the burst\n",
                KeptLines(), count - r.lost, qlonglong(last.elapsed()));
    return r;
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
    const int rounds = argc > 2 ? qMax(1, QString::fromLocal8Bit(argv[2]).toInt()) : 3;

    // Baseline, live without the history, live with it.
    constexpr int Kinds = 3;
    QList<Run> runs[Kinds];
    bool started = true;
    // Which goes first moves every round.
    for (int run = 1; run <= rounds && started; ++run) {
        for (int turn = 0; turn < Kinds; ++turn) {
            ::sync();
            const int kind = (turn + run - 1) % Kinds;
            if (kind == 0) {
                runs[0] << bareWidget(count, run);
                continue;
            }
            const std::optional<Run> r = liveRun(count, run, kind == 2);
            if (!r) {
                std::printf("the control did not start\n");
                started = false;
                break;
            }
            runs[kind] << *r;
        }
    }
    auto median = [](const QList<Run>& of, double Run::*field) {
        QList<double> v;
        for (const Run& r : of)
            v << r.*field;
        return Median(v);
    };
    int lost = 0;
    for (const QList<Run>& live : {runs[1], runs[2]})
        for (const Run& r : live)
            lost += r.lost;
    const double baseRate = median(runs[0], &Run::linesPerS), offRate = median(runs[1], &Run::linesPerS),
                 onRate = median(runs[2], &Run::linesPerS);
    std::printf(
        "medians of %lld runs each: bare widget %.0f lines/s, last/first CPU %.2f; history off %.0f lines/s, "
        "last/first CPU %.2f; history on %.0f lines/s, last/first CPU %.2f (goal <= 1.3); %d lines lost "
        "in all\n",
        qlonglong(runs[0].size()), baseRate, median(runs[0], &Run::cpuRatio), offRate,
        median(runs[1], &Run::cpuRatio), onRate, median(runs[2], &Run::cpuRatio), lost);
    std::printf(
        "ratio of medians, lines/s: history off / bare widget %.2f (goal >= 0.6), history on / history off "
        "%.2f\n",
        baseRate > 0 ? offRate / baseRate : 0.0, offRate > 0 ? onRate / offRate : 0.0);
    return started && lost == 0 ? 0 : 1;
}
