// A crowded room: a live control at 127.120.0.2 whose public room fills with
// callers, each a protocol peer with a plain datagram socket on a loopback
// address of its own (127.120.1.1 and up), admitted by the answer a person
// gives in the entering dialog. Measured, as medians of the rounds: the time
// from pressing Enter in the control to the last participant receiving the
// line, and the time to admit the last caller (its HELLO to its room list and
// the ENTER reaching every other participant). Then a participant sends
// public lines and the control's memory is read. Every line and every ENTER
// must arrive.
//
//   bench_room [participants] [rounds] [lines]      (default 100, 20, 20000)
#include "Control/Kivara.h"
#include "Platform/Events.h"
#include "Platform/QtPrompt.h"
#include "Platform/ScriptedPrompt.h"
#include "Shared/Protocol.h"
#include "Shared/modReg.h"
#include "Shared/modUser.h"
#include "testing/Desk.h"
#include "testing/SimComputer.h"

#include <QApplication>
#include <QKeyEvent>
#include <QList>
#include <QTextDocument>
#include <QTextEdit>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace kv;
using namespace kv::control;

namespace {

const QString ControlIp = u"127.120.0.2"_s;
constexpr int WaitMs = 30000;

qint64 NowUs()
{
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return qint64(t.tv_sec) * 1000000 + t.tv_nsec / 1000;
}

QString PeerIp(int i)
{
    return u"127.120.1.%1"_s.arg(i + 1);
}

QString PeerName(int i)
{
    return u"Guest%1"_s.arg(i + 1, 3, 10, QChar(u'0'));
}

UserRecord PeerRecord(int i)
{
    return UserRecord{PeerName(i), u"Available"_s, PeerName(i).toLower() + u"@example.org"_s, PeerIp(i),
                      u"in the crowd"_s, u"KV-"_s + PeerName(i).toUpper(), QString(), u"3"_s};
}

// Resident and peak resident memory of this process, in KiB.
std::pair<qint64, qint64> MemoryKiB()
{
    QFile f(u"/proc/self/status"_s);
    qint64 rss = 0, hwm = 0;
    if (!f.open(QIODevice::ReadOnly)) return {0, 0};
    for (const QByteArray& line : f.readAll().split('\n')) {
        if (line.startsWith("VmRSS:")) rss = line.mid(6).trimmed().split(' ').first().toLongLong();
        if (line.startsWith("VmHWM:")) hwm = line.mid(6).trimmed().split(' ').first().toLongLong();
    }
    return {rss, hwm};
}

double Median(QList<double> v)
{
    if (v.isEmpty()) return 0;
    std::sort(v.begin(), v.end());
    const qsizetype n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// The participants: one datagram socket each on the chat port, read on a
// thread of their own so that what they receive is stamped when it arrives,
// not when the control's thread gets round to it.
class Crowd {
public:
    ~Crowd()
    {
        m_stop = true;
        if (m_reader.joinable()) m_reader.join();
        for (int fd : m_fds)
            ::close(fd);
    }
    bool open(int count)
    {
        for (int i = 0; i < count; ++i) {
            const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
            const sockaddr_in a = address(PeerIp(i));
            if (fd < 0 || ::bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) return false;
            m_fds.push_back(fd);
        }
        m_heard.resize(m_fds.size());
        m_reader = std::thread([this] { read(); });
        return true;
    }
    void send(int i, const QString& text) const
    {
        const QByteArray d = FrameDatagram(text);
        const sockaddr_in to = address(ControlIp);
        ::sendto(m_fds[size_t(i)], d.constData(), size_t(d.size()), 0, reinterpret_cast<const sockaddr*>(&to),
                 sizeof to);
    }
    // When participant i received the message that `match` accepts; 0 when it has not.
    template <typename Match>
    qint64 heardAt(int i, Match match, qsizetype* bytes = nullptr) const
    {
        std::lock_guard lock(m_lock);
        for (const Heard& h : m_heard[size_t(i)])
            if (match(h.text)) {
                if (bytes) *bytes = h.bytes;
                return h.us;
            }
        return 0;
    }
    void forget()
    {
        std::lock_guard lock(m_lock);
        for (auto& list : m_heard)
            list.clear();
    }

private:
    struct Heard {
        QString text;
        qint64 us;
        qsizetype bytes;
    };
    static sockaddr_in address(const QString& ip)
    {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(ChatDatagramPort);
        ::inet_pton(AF_INET, ip.toLatin1().constData(), &a.sin_addr);
        return a;
    }
    void read()
    {
        std::vector<pollfd> polls;
        for (int fd : m_fds)
            polls.push_back({fd, POLLIN, 0});
        QByteArray buffer(65536, Qt::Uninitialized);
        while (!m_stop) {
            if (::poll(polls.data(), polls.size(), 50) <= 0) continue;
            for (size_t i = 0; i < polls.size(); ++i) {
                if (!(polls[i].revents & POLLIN)) continue;
                ssize_t n;
                while ((n = ::recv(polls[i].fd, buffer.data(), size_t(buffer.size()), 0)) > 0) {
                    const qint64 at = NowUs();
                    const QByteArray d = buffer.left(n);
                    std::lock_guard lock(m_lock);
                    m_heard[i].push_back({UnframeDatagram(d), at, d.size()});
                }
            }
        }
    }

    std::vector<int> m_fds;
    std::vector<std::vector<Heard>> m_heard;
    mutable std::mutex m_lock;
    std::atomic<bool> m_stop{false};
    std::thread m_reader;
};

bool Wait(const std::function<bool()>& done)
{
    return platform::WaitUntil(done, WaitMs);
}

// Admits caller i: its HELLO, the dialog answered, its room list and the ENTER
// at every other participant. The microseconds that took, or 0 when something
// did not arrive.
qint64 Admit(Kivara& k, Crowd& crowd, int i, qsizetype* roomListBytes)
{
    const QString enter = u"ENTER|"_s + PeerRecord(i).text();
    const qint64 start = NowUs();
    crowd.send(i, u"HELLO|"_s + PeerRecord(i).text());
    qint64 last = 0;
    const bool all = Wait([&] {
        last = crowd.heardAt(i, [](const QString& t) { return t.startsWith(u"ROOMLIST|"_s); }, roomListBytes);
        if (!last) return false;
        for (int other = 0; other < i; ++other) {
            const qint64 at = crowd.heardAt(other, [&](const QString& t) { return t == enter; });
            if (!at) return false;
            last = std::max(last, at);
        }
        return true;
    });
    return all && k.rooms().publicRoom().rowCount() == i + 2 ? last - start : 0;
}

} // namespace

int main(int argc, char* argv[])
{
    test::SimComputer computer(ControlIp, u"KV-BENCH"_s);
    computer.activate();
    QApplication app(argc, argv);
    kv::platform::UseDesktopPrompts();
    computer.installForms();
    // The person at the control lets every caller in.
    platform::Prompt::install(
        std::make_unique<platform::ScriptedPrompt>(u"form entering room => optEnter_0=checked; cmdFile_0"_s));
    const QStringList args = QCoreApplication::arguments();
    auto argument = [&](int index, int fallback, int most) {
        const int v = args.value(index).toInt();
        return v > 0 ? std::min(v, most) : fallback;
    };
    const int people = argument(1, 100, 250); // addresses 127.120.1.1 to .250
    const int rounds = argument(2, 20, 1000);
    const int lines = argument(3, 20000, 1000000);

    SaveProfile(test::UserProfile(u"Ann"_s, ControlIp, u"KV-BENCH"_s), QString());
    WriteSetting(settings::AutoAdd, u"2"_s); // no Peerslip requests on entering
    Kivara k;
    k.resize(640, 420);
    k.show();
    Crowd crowd;
    if (k.ChatInit() != 0 || !crowd.open(people)) {
        std::printf("the control or the participants could not start\n");
        return 1;
    }
    bool lost = false;
    qsizetype roomListBytes = 0;
    for (int i = 0; i < people - 1 && !lost; ++i)
        lost = Admit(k, crowd, i, &roomListBytes) == 0;
    if (lost) {
        std::printf("a caller was not admitted, or an ENTER was lost, filling the room\n");
        return 1;
    }

    // The last caller enters, and leaves again between rounds.
    const int last = people - 1;
    QList<double> admitMs;
    for (int r = 1; r <= rounds && !lost; ++r) {
        crowd.forget();
        const qint64 us = Admit(k, crowd, last, &roomListBytes);
        lost = us == 0;
        admitMs << us / 1000.0;
        if (r == rounds || lost) break;
        crowd.send(last, BuildLeave(PeerName(last), QString(word::PublicRoom)));
        lost = !Wait([&] { return k.rooms().publicRoom().rowCount() == people; });
    }
    std::printf("%d participants; admitting the last: room list %lld bytes, ENTER to %d others\n", people,
                qlonglong(roomListBytes), last);
    std::printf("admission, ms:");
    for (double v : admitMs)
        std::printf(" %.2f", v);
    std::printf("\n  median %.2f ms of %lld rounds\n", Median(admitMs), qlonglong(admitMs.size()));

    // Enter in the control's input box, to the last participant's receipt.
    auto* box = k.findChild<QTextEdit*>(u"txtSend"_s);
    QList<double> lineMs;
    for (int r = 1; r <= rounds && !lost && box; ++r) {
        crowd.forget();
        const QString line = u"crowd line %1"_s.arg(r);
        box->setPlainText(line);
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        const qint64 start = NowUs();
        QApplication::sendEvent(box, &press);
        qint64 end = 0;
        lost = !Wait([&] {
            end = 0;
            for (int i = 0; i < people; ++i) {
                const qint64 at = crowd.heardAt(
                    i, [&](const QString& t) { return t.startsWith(u"PUBCHAT|Ann|"_s) && t.endsWith(u'|' + line); });
                if (!at) return false;
                end = std::max(end, at);
            }
            return true;
        });
        lineMs << (end - start) / 1000.0;
    }
    std::printf("Enter to the last participant's receipt, ms:");
    for (double v : lineMs)
        std::printf(" %.2f", v);
    std::printf("\n  median %.2f ms of %lld rounds\n", Median(lineMs), qlonglong(lineMs.size()));

    // Public lines from one participant, in batches that wait to be shown: a
    // flood without pauses overruns the control's datagram buffer on a busy
    // machine, and this part measures memory, not that.
    const auto [roomRss, roomHwm] = MemoryKiB();
    QTextDocument* transcript = &k.rooms().publicRoom().transcript;
    const int before = transcript->blockCount();
    constexpr int Batch = 100;
    for (int sent = 0; sent < lines && !lost;) {
        for (const int end = std::min(lines, sent + Batch); sent < end;)
            crowd.send(0, BuildPubChat(PeerName(0), 200, u"line number %1 of the burst"_s.arg(++sent)));
        lost = !Wait([&] { return transcript->blockCount() - before >= sent; });
    }
    const int shown = transcript->blockCount() - before;
    const auto [rss, hwm] = MemoryKiB();
    std::printf("memory of the control's process: %.1f MiB resident with %d participants; %.1f MiB after %d of %d "
                "lines shown (peak %.1f MiB)\n",
                roomRss / 1024.0, people, rss / 1024.0, shown, lines, std::max(roomHwm, hwm) / 1024.0);
    lost = lost || shown < lines;
    std::printf(lost ? "SOMETHING WAS LOST\n" : "nothing lost\n");
    return lost ? 1 : 0;
}
