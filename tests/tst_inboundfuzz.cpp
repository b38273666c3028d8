// A live chat control (127.52.0.2) under a stream of random and mutated
// datagrams built from the message catalogue, from a participant's address and
// from a stranger's: nothing crashes or hangs, every dialog the datagrams open
// is answered by rule, and afterwards row 1 of every room is still the local
// user and no room lists a name twice. Seeded; KIVARA_FUZZ_SEED repeats a run.
#include "Control/Kivara.h"
#include "Platform/Events.h"
#include "Platform/Socket.h"
#include "Shared/Protocol.h"
#include "testing/CallPeer.h"
#include "testing/Desk.h"

#include <QAbstractItemModelTester>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QUdpSocket>
#include <memory>

using namespace Qt::StringLiterals;
using namespace kv;
using namespace kv::control;

namespace {

constexpr int Datagrams = 100000;
constexpr int Batch = 250;

const QString ControlIp = u"127.52.0.2"_s;
const QString ParticipantIp = u"127.52.0.3"_s;
const QString StrangerIp = u"127.52.0.4"_s;

class Generator {
public:
    explicit Generator(quint32 seed) : m_rng(seed) {}

    QByteArray next()
    {
        const int kind = bounded(100);
        if (kind < 3) return randomBytes();
        const QString text = (kind < 90 ? catalogueMessage() : mutated()).join(u'|');
        return bounded(4) == 0 ? PlainDatagram(text) : FrameDatagram(text);
    }

private:
    int bounded(int n) { return int(m_rng.bounded(n)); }

    QString pick(const QStringList& list) { return list.at(bounded(int(list.size()))); }

    QString name()
    {
        static const QStringList names = {u"Bob"_s,  u"Carl"_s, u"Dan"_s,  u"Eve"_s, u"Ann"_s,   u"PUBLIC"_s,
                                          u"Public"_s, u""_s,   u"B|ob"_s, u"X"_s,   u"Robert"_s};
        return pick(names);
    }

    QString address()
    {
        switch (bounded(5)) {
        case 0: return ParticipantIp;
        case 1: return StrangerIp;
        case 2: return u"127.52.%1.%2"_s.arg(bounded(3)).arg(1 + bounded(9));
        case 3: return randomText(8);
        default: return QString();
        }
    }

    QString randomText(int maxLength)
    {
        static const QString pool = u"abcXYZ019 .|*'\t\r\n\u00e9\u00ff~%$"_s;
        QString s;
        for (int n = bounded(maxLength + 1); n > 0; --n)
            s += pool.at(bounded(int(pool.size())));
        return s;
    }

    QString value()
    {
        static const QStringList words = {u"Available"_s,  u"Unavailable"_s, u"Out of Office"_s, u"Ignored"_s,
                                          u"OPENPRI"_s,    u"SIMPLE"_s,      u"PROFILE"_s,       u"SILENT"_s,
                                          u"NORMAL"_s,     u"0"_s,           u"1"_s,             u"2"_s,
                                          u"KV-ANN"_s,     u"KV-BOB"_s,      u"8087"_s,          u"-1"_s,
                                          u"I cannot talk now.  Please call back later."_s};
        switch (bounded(4)) {
        case 0: return name();
        case 1: return pick(words);
        case 2: return address();
        default: return randomText(12);
        }
    }

    QStringList record()
    {
        return {name(), bounded(2) ? u"Available"_s : value(), value(), address(), value(),
                bounded(3) ? u"KV-"_s + name().toUpper() : value(), QString(), QString::number(bounded(6))};
    }

    QStringList catalogueMessage()
    {
        static const QStringList rare = {u"HELLO"_s, u"SAVEUSER"_s, u"LEAVEMSG"_s};
        static const QStringList common = {u"HELLOWAIT"_s, u"GIVEUP"_s,  u"DONEHELLO"_s, u"ROOMLIST"_s,
                                           u"ENTER"_s,     u"MESSAGE"_s, u"PUBCHAT"_s,   u"PRICHAT"_s,
                                           u"STATUS"_s,    u"NICKNAME"_s, u"UPDATE"_s,   u"GETUSER"_s,
                                           u"SHOWUSER"_s,  u"FILEPREP"_s, u"NOFILE"_s,   u"LEAVE"_s,
                                           u"DUMPUSER"_s};
        const QString word = bounded(50) == 0 ? pick(rare) : pick(common);
        QStringList f{word};
        if (word == u"ROOMLIST"_s) {
            f << (bounded(2) ? u"PUBLIC"_s : name());
            for (int entries = bounded(4); entries > 0; --entries)
                f += record();
        } else if (word == u"HELLO"_s || word == u"ENTER"_s || word == u"UPDATE"_s || word == u"PRICHAT"_s ||
                   word == u"MESSAGE"_s) {
            f += record();
            if (word == u"PRICHAT"_s) f << QString::number(bounded(1 << 24)) << (bounded(3) ? value() : u"OPENPRI"_s);
        } else {
            for (int i = 0, n = bounded(6); i < n; ++i)
                f << (i == 0 ? name() : value());
        }
        // Cut short now and then: handlers must stop at the missing field.
        if (bounded(5) == 0) f = f.mid(0, bounded(int(f.size()) + 1));
        if (f.isEmpty()) f << QString();
        return sanitize(f);
    }

    QStringList mutated()
    {
        QStringList f = catalogueMessage();
        for (int edits = 1 + bounded(4); edits > 0; --edits) {
            const int at = bounded(int(f.size()));
            switch (bounded(4)) {
            case 0: f[at] = randomText(20); break;
            case 1: f.insert(at, value()); break;
            case 2: if (f.size() > 1) f.removeAt(at); break;
            default: f[at] = f[at] + u"|"_s + value(); break;
            }
        }
        return sanitize(f);
    }

    // Every literal address the control might send to stays in this suite's block.
    static QStringList sanitize(QStringList f)
    {
        static const QRegularExpression dotted(u"^\\d{1,3}\\.\\d{1,3}\\.\\d{1,3}\\.\\d{1,3}$"_s);
        for (QString& s : f)
            if (dotted.match(s).hasMatch() && !s.startsWith(u"127.52."_s)) s = u"127.52.9.9"_s;
        return f;
    }

    QByteArray randomBytes()
    {
        QByteArray b;
        for (int n = bounded(64); n > 0; --n)
            b += char(bounded(256));
        return b;
    }

    QRandomGenerator m_rng;
};

} // namespace

class TestInboundFuzz : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void randomDatagrams_data();
    void randomDatagrams();
};

void TestInboundFuzz::randomDatagrams_data()
{
    QTest::addColumn<quint32>("seed");
    bool ok = false;
    const quint32 chosen = qEnvironmentVariableIntValue("KIVARA_FUZZ_SEED", &ok);
    QTest::newRow("this run") << (ok ? chosen : QRandomGenerator::global()->generate());
    // Once stopped all deliveries after 52,785 datagrams (the socket was read outside its readyRead).
    if (!ok) QTest::newRow("stalled once") << 1099375010u;
}

void TestInboundFuzz::randomDatagrams()
{
    QFETCH(const quint32, seed);
    test::SimComputer computer(ControlIp, u"KV-ANN"_s);
    computer.activate();
    test::Desk desk;
    desk.install(u"form entering room => optEnter_1=checked; cmdFile_0\n"
                 "form Message Center => cmdFile_1\n"
                 "msgbox continue to wait => No\n"
                 "msgbox leave a message => Yes\n"_s);
    QCOMPARE(SaveProfile(test::UserProfile(u"Ann"_s, ControlIp, u"KV-ANN"_s), QString()), 0);

    Kivara k(nullptr, {.mainTimerMs = 200,
                       .helloIntervalMs = 40,
                       .admissionRingMs = 20,
                       .admissionRefuseMs = 100,
                       .privateRoomWaitMs = 50});
    QCOMPARE(k.ChatInit(), 0);
    Room& pub = k.rooms().publicRoom();
    // Whatever arrives, the participant list stays a well-formed model for its views
    // (checked over the first tenth: the checks cost five times the handling).
    auto rows = std::make_unique<QAbstractItemModelTester>(
        &pub.participants, QAbstractItemModelTester::FailureReportingMode::QtTest);
    // A participant to start with, so the participant's address counts as in a call.
    pub.addRow(u"Bob"_s, u"3_0"_s).setDetails(test::PartyRecord(u"Bob"_s, ParticipantIp));
    k.setCallStatus(short(CallState::Connected));

    QUdpSocket participant, stranger;
    QVERIFY(participant.bind(QHostAddress(ParticipantIp), 0));
    QVERIFY(stranger.bind(QHostAddress(StrangerIp), 0));
    QSignalSpy arrivals(&k.chatSocket(), &platform::Socket::DataArrival);

    qInfo("seed %u", seed);
    Generator gen(seed);
    QElapsedTimer elapsed;
    elapsed.start();
    int sent = 0;
    while (sent < Datagrams) {
        for (int i = 0; i < Batch && sent < Datagrams; ++i, ++sent) {
            QUdpSocket& from = (sent % 7 == 0) ? stranger : participant;
            from.writeDatagram(gen.next(), QHostAddress(ControlIp), quint16(ChatDatagramPort));
        }
        if (sent >= Datagrams / 10) rows.reset();
        // Bounded: a datagram the system dropped does not hold the run up.
        platform::WaitUntil([&] { return arrivals.size() >= sent; }, 2000);
    }
    platform::WaitUntil([] { return false; }, 200);
    qInfo("%d datagrams sent, %d arrived, %lld ms", sent, int(arrivals.size()), qint64(elapsed.elapsed()));
    QVERIFY(arrivals.size() > Datagrams / 2);

    for (int i = 0; i < k.rooms().count(); ++i) {
        const Room& room = k.rooms().at(i);
        QCOMPARE(room.row(1).name() + u'/' + room.row(1).serial(), u"Ann/KV-ANN"_s);
        QStringList names;
        for (int n = 1; n <= room.rowCount(); ++n)
            names << room.row(n).name();
        QVERIFY2(QStringList(names).removeDuplicates() == 0,
                 qPrintable(u"room %1 lists a name twice: %2"_s.arg(i).arg(names.join(u", "_s))));
    }
    QVERIFY(k.entryDialog() == nullptr);
    // Still answering: a chat line from a participant (a name no datagram made) is shown.
    pub.addRow(u"Zoe"_s, u"1_0"_s).setDetails(test::PartyRecord(u"Zoe"_s, ParticipantIp));
    k.DataPass(u"PUBCHAT|Zoe|0|still here"_s);
    QVERIFY(pub.transcript.toPlainText().contains(u"Zoe\tstill here"_s));
}

KV_TEST_MAIN(TestInboundFuzz)
#include "tst_inboundfuzz.moc"
