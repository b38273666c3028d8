// The monitor's call port (127.80.20.2) takes 100,000 random and mutated
// datagrams from a caller at 127.80.20.3, under each of its answering modes,
// and still answers a valid HELLO afterwards. The port runs without its window,
// so the run is bounded by the port's own work, not by the loopback. Seeded:
// KIVARA_FUZZ_SEED repeats a run.
#include "Vigilo/Monitor/CallPort.h"
#include "Vigilo/Monitor/MonitorStore.h"

#include "Platform/Outlook/WindowSide.h"
#include "Shared/Protocol.h"
#include "Shared/modReg.h"
#include "Shared/modUser.h"
#include "testing/CallPeer.h"
#include "testing/Desk.h"
#include "testing/SimComputer.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace kv;
using namespace kv::vigilo;

namespace {

constexpr int DatagramCount = 100000;
const QString MonitorIp = u"127.80.20.2"_s;
const QString CallerIp = u"127.80.20.3"_s;

QByteArray Mutate(QRandomGenerator& rng, QByteArray d)
{
    for (int e = 0, edits = 1 + int(rng.bounded(4)); e < edits; ++e) {
        const int at = int(rng.bounded(d.size() + 1));
        switch (rng.bounded(7)) {
        case 0: // flip a byte
            if (at < d.size()) d[at] = char(rng.bounded(256));
            break;
        case 1: // truncate
            d.truncate(at);
            break;
        case 2: // insert separators
            d.insert(at, QByteArray(1 + int(rng.bounded(20)), '|'));
            break;
        case 3: // repeat a stretch
            d.append(d.mid(at, int(rng.bounded(200))));
            break;
        case 4: // drop the scrambling mark, or add one
            d = d.startsWith('1') ? d.mid(1) : '1' + d;
            break;
        case 5: // control characters and high bytes
            d.insert(at, char(rng.bounded(32) + (rng.bounded(2) ? 128 : 0)));
            break;
        default: // a long field
            d.append(QByteArray(int(rng.bounded(4000)), char('A' + rng.bounded(26))));
            break;
        }
    }
    return d;
}

// A window that takes every call at once and counts the hand-offs.
struct CountingWindow : CallPortWindow {
    int handOffs = 0;
    bool parked() const override { return true; }
    void park() override {}
    void applyStatus(const QString&) override {}
    void callRinging() override {}
    void playRing() override {}
    void callShown(const QString&) override {}
    void handOff(const QStringList&, const QString&) override { ++handOffs; }
    void callEnded() override {}
    void handOffReturned(bool) override {}
    void notify(NoticeKind, const QString&) override {}
};

} // namespace

class TestVigiloFuzz : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void randomDatagrams();
};

void TestVigiloFuzz::randomDatagrams()
{
    test::SimComputer computer(MonitorIp, u"KV-FUZZ"_s);
    computer.activate();
    outlook::WindowSide::install(std::make_shared<outlook::HeadlessWindowSide>());
    test::Desk desk;
    desk.install(u"msgbox is calling => No\n"_s);
    QCOMPARE(SaveProfile(test::UserProfile(u"Fuzzy"_s, MonitorIp, u"KV-FUZZ"_s), QString()), 0);
    MonitorStore store;
    CountingWindow window;
    CallPort port(store, window, 50);
    port.profile() = test::UserProfile(u"Fuzzy"_s, MonitorIp, u"KV-FUZZ"_s);
    QCOMPARE(port.Bind(), 0);

    quint32 seed = quint32(qEnvironmentVariableIntValue("KIVARA_FUZZ_SEED"));
    if (seed == 0) seed = 20261206;
    qInfo("seed %u", seed);
    QRandomGenerator rng(seed);

    const UserRecord caller{u"Bob"_s,  u"Available"_s, u"bob@example.org"_s, CallerIp, u"hi"_s, u"KV-BOB"_s,
                            QString(), u"1"_s};
    // Messages that survive mutation are stored, each a store write; they are
    // the rarer kind so that the run stays short.
    // The HELLO three times over, each of the others once.
    QList<QString> bases(3, BuildHello(caller));
    bases << BuildGiveUp(u"Bob"_s) << BuildDoneHello() << BuildRoomList({caller})
          << BuildPubChat(u"Bob"_s, 0, u"x"_s) << BuildHelloWait(u"Bob"_s)
          << BuildStatus(u"Bob"_s, u"Available"_s);
    const QList<QString> messages{BuildMessage(caller, u"s"_s, u"t"_s),
                                  BuildMessage(caller, u"s"_s, u"t"_s, QByteArray("slip|data"))};
    // Answering modes, in turn: ringing, declining at once, asking (answered No), refusing.
    // The port adopts the stored availability at each HELLO.
    const QList<QPair<QString, bool>> modes{{u"Available"_s, false},
                                            {u"Unavailable"_s, true},
                                            {u"Unavailable"_s, false},
                                            {u"Out of Office"_s, false}};

    // The caller's port takes the replies; what overflows it is dropped.
    test::CallPeer replies(CallerIp);

    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < DatagramCount; ++i) {
        if (i % (DatagramCount / modes.size()) == 0) {
            const auto& mode = modes[i / (DatagramCount / modes.size())];
            WriteSetting(u"Profile"_s, u"UserStatus"_s, mode.first);
            port.setAutoIgnore(mode.second);
        }
        QByteArray d;
        if (rng.bounded(10) < 2) {
            d.resize(int(rng.bounded(600)));
            for (char& c : d)
                c = char(rng.bounded(256));
        } else {
            const QString base = rng.bounded(50) == 0 ? messages[int(rng.bounded(messages.size()))]
                                                      : bases[int(rng.bounded(bases.size()))];
            d = Mutate(rng, rng.bounded(2) ? FrameDatagram(base) : PlainDatagram(base));
        }
        port.HandleDatagram(d, CallerIp);
        QVERIFY(!port.ringing() && !port.inUnavailablePrompt());
    }
    qInfo("%d datagrams, %d hand-offs, %lld ms", DatagramCount, window.handOffs, clock.elapsed());
    QCOMPARE(port.datagramsHandled(), qint64(DatagramCount));
    // Some mutated HELLOs stay whole: the ring path was reached, not only the refusals.
    QVERIFY(window.handOffs > 0);

    // Still answering on its socket: a valid HELLO gets its HELLOWAIT, after the replies queued so far.
    WriteSetting(u"Profile"_s, u"UserStatus"_s, u"Available"_s);
    QVERIFY(!replies.quiet(100));
    replies.drain();
    replies.sendToMonitor(MonitorIp, BuildHello(caller));
    QCOMPARE(replies.next(), u"HELLOWAIT|Fuzzy"_s);
}

KV_TEST_MAIN(TestVigiloFuzz)
#include "tst_vigilofuzz.moc"
