// A running monitor (127.80.20.2) takes 100,000 random and mutated datagrams
// on its call port from a caller at 127.80.20.3, under each of its answering
// modes, and still answers a valid HELLO afterwards. Seeded: KIVARA_FUZZ_SEED
// repeats a run.
#include "Vigilo/Monitor/MonitorStore.h"
#include "Vigilo/Monitor/frmTray.h"

#include "Platform/Events.h"
#include "Platform/Outlook/WindowSide.h"
#include "Shared/Protocol.h"
#include "Shared/modReg.h"
#include "Shared/modUser.h"
#include "testing/Desk.h"
#include "testing/SimComputer.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QNetworkDatagram>
#include <QRandomGenerator>
#include <QTest>
#include <QUdpSocket>

using namespace Qt::StringLiterals;
using namespace kv;
using namespace kv::vigilo;

namespace {

constexpr int DatagramCount = 100000;
constexpr int Batch = 200;
constexpr int BatchWaitMs = 3000;
constexpr int WaitMs = 5000;
const QString MonitorIp = u"127.80.20.2"_s;
const QString CallerIp = u"127.80.20.3"_s;

QByteArray Mutate(QRandomGenerator& rng, QByteArray d)
{
    const int edits = 1 + int(rng.bounded(4));
    for (int e = 0; e < edits; ++e) {
        switch (rng.bounded(7)) {
        case 0: // flip a byte
            if (!d.isEmpty()) d[int(rng.bounded(d.size()))] = char(rng.bounded(256));
            break;
        case 1: // truncate
            d.truncate(int(rng.bounded(d.size() + 1)));
            break;
        case 2: // insert separators
            d.insert(int(rng.bounded(d.size() + 1)), QByteArray(1 + int(rng.bounded(20)), '|'));
            break;
        case 3: // repeat a stretch
            if (!d.isEmpty()) {
                const int from = int(rng.bounded(d.size()));
                d.append(d.mid(from, int(rng.bounded(200))));
            }
            break;
        case 4: // drop the scrambling mark, or add one
            if (!d.isEmpty() && d[0] == '1')
                d.remove(0, 1);
            else
                d.prepend('1');
            break;
        case 5: // control characters and high bytes
            d.insert(int(rng.bounded(d.size() + 1)),
                     QByteArray(1, char(rng.bounded(32) + (rng.bounded(2) ? 128 : 0))));
            break;
        default: // a long field
            d.append(QByteArray(int(rng.bounded(4000)), char('A' + rng.bounded(26))));
            break;
        }
    }
    return d;
}

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
    computer.installForms();
    WriteSetting(settings::FirstRun, u"0"_s);
    // The contact form has no chat control here: every hand-off takes its failure path too.
    outlook::WindowSide::install(std::make_shared<outlook::HeadlessWindowSide>());
    test::Desk desk;
    desk.install(u"msgbox is calling => No\n"_s);
    QCOMPARE(SaveProfile(test::UserProfile(u"Fuzzy"_s, MonitorIp, u"KV-FUZZ"_s), QString()), 0);

    MonitorTimings timings;
    timings.ringMs = 50;
    timings.pollMs = 3600000;
    frmTray tray(timings);
    QVERIFY(tray.Load(QString()));

    quint32 seed = quint32(qEnvironmentVariableIntValue("KIVARA_FUZZ_SEED"));
    if (seed == 0) seed = 20261206;
    qInfo("seed %u", seed);
    QRandomGenerator rng(seed);

    const UserRecord caller{u"Bob"_s,  u"Available"_s, u"bob@example.org"_s, CallerIp, u"hi"_s, u"KV-BOB"_s,
                            QString(), u"1"_s};
    // Messages that survive mutation are stored, each a store write; they are
    // the rarer kind so that the run stays short.
    const QList<QString> bases{BuildHello(caller),
                               BuildHello(caller),
                               BuildHello(caller),
                               BuildGiveUp(u"Bob"_s),
                               BuildDoneHello(),
                               BuildRoomList({caller}),
                               BuildPubChat(u"Bob"_s, 0, u"x"_s),
                               BuildHelloWait(u"Bob"_s),
                               BuildStatus(u"Bob"_s, u"Available"_s)};
    const QList<QString> messages{BuildMessage(caller, u"s"_s, u"t"_s),
                                  BuildMessage(caller, u"s"_s, u"t"_s, QByteArray("slip|data"))};
    // Answering modes, in turn: ringing, declining at once, asking (answered No), refusing.
    const QList<QPair<QString, QString>> modes{{u"Available"_s, u"0"_s},
                                               {u"Unavailable"_s, u"1"_s},
                                               {u"Unavailable"_s, u"0"_s},
                                               {u"Out of Office"_s, u"0"_s}};

    QUdpSocket sender;
    QVERIFY(sender.bind(QHostAddress(CallerIp), quint16(ChatDatagramPort)));
    int answers = 0;
    connect(&sender, &QUdpSocket::readyRead, &sender, [&] {
        while (sender.hasPendingDatagrams()) {
            sender.receiveDatagram();
            ++answers;
        }
    });

    QElapsedTimer clock;
    clock.start();
    qint64 sent = 0;
    const qint64 handledBefore = tray.datagramsHandled();
    for (int i = 0; i < DatagramCount; ++i) {
        if (i % (DatagramCount / modes.size()) == 0) {
            const auto& mode = modes[i / (DatagramCount / modes.size()) % modes.size()];
            WriteSetting(settings::AutoIgnore, mode.second);
            tray.ApplyStatus(mode.first);
        }
        QByteArray d;
        const quint32 kind = rng.bounded(10);
        if (kind < 2) {
            d.resize(int(rng.bounded(600)));
            for (char& c : d)
                c = char(rng.bounded(256));
        } else {
            const QString base = rng.bounded(50) == 0 ? messages[int(rng.bounded(messages.size()))]
                                                      : bases[int(rng.bounded(bases.size()))];
            d = Mutate(rng, rng.bounded(2) ? FrameDatagram(base) : PlainDatagram(base));
        }
        if (sender.writeDatagram(d, QHostAddress(MonitorIp), quint16(MonitorDatagramPort)) >= 0) ++sent;
        if ((i + 1) % Batch == 0)
            platform::WaitUntil([&] { return tray.datagramsHandled() - handledBefore >= sent; }, BatchWaitMs);
    }
    platform::WaitUntil([&] { return tray.datagramsHandled() - handledBefore >= sent; }, WaitMs);
    const qint64 handled = tray.datagramsHandled() - handledBefore;
    qInfo("%lld datagrams sent, %lld handled, %d answers, %lld ms", sent, handled, answers, clock.elapsed());
    QVERIFY(!tray.isUnloaded());
    // Loopback may drop a few under load; nearly all must have reached the handler.
    QVERIFY2(handled >= sent * 95 / 100, qPrintable(u"%1 of %2"_s.arg(handled).arg(sent)));

    // Still answering: a valid HELLO gets its HELLOWAIT.
    tray.ApplyStatus(u"Available"_s);
    platform::WaitUntil([] { return false; }, 200);
    while (sender.hasPendingDatagrams())
        sender.receiveDatagram();
    QByteArray reply;
    disconnect(&sender, nullptr, nullptr, nullptr);
    sender.writeDatagram(FrameDatagram(BuildHello(caller)), QHostAddress(MonitorIp),
                         quint16(MonitorDatagramPort));
    QVERIFY(platform::WaitUntil(
        [&] {
            while (sender.hasPendingDatagrams()) {
                const QByteArray d = sender.receiveDatagram().data();
                if (IsScrambledDatagram(d) && UnframeDatagram(d) == u"HELLOWAIT|Fuzzy"_s) reply = d;
            }
            return !reply.isEmpty();
        },
        WaitMs));
    // The window side holds the forms it opened; let them go while the store is still there.
    outlook::WindowSide::install(std::make_shared<outlook::HeadlessWindowSide>());
}

KV_TEST_MAIN(TestVigiloFuzz)
#include "tst_vigilofuzz.moc"
