// Random and mutated datagrams through every reader of the codec: nothing may
// crash, and the readers' invariants hold for any input. Seeded, so a failure
// reproduces; KIVARA_FUZZ_SEED picks another seed.
#include "Shared/Protocol.h"
#include "testing/SimComputer.h"

#include <QApplication>
#include <QRandomGenerator>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace kv;

namespace {

constexpr int Rounds = 100000;
constexpr quint32 DefaultSeed = 0x4B560001;
constexpr int MaxRandomLength = 700;

QList<QByteArray> corpus()
{
    const UserRecord r{u"Ann"_s, u"Available"_s, u"ann@example.com"_s, u"127.20.0.2"_s,
                       u"hi"_s, u"KV-1"_s, QString(), u"1"_s};
    const QStringList texts = {
        BuildHello(r), BuildHelloWait(u"Bob"_s), BuildGiveUp(u"Bob"_s), BuildDoneHello(),
        BuildRoomList({r, r, r}), BuildEnter(r), BuildLeaveMsg(u"Bob"_s, true),
        BuildMessage(r, u"s"_s, u"t"_s, QByteArray(256, '|')), BuildMessage(r, u"s"_s, u"t"_s),
        BuildPubChat(u"Ann"_s, 255, u"line"_s), BuildPriChat(r, 0, QString(word::OpenPrivate)),
        BuildStatus(u"Ann"_s, u"Out of Office"_s), BuildNickName(u"a"_s, u"b"_s), BuildUpdate(r),
        BuildGetUserSimple(u"a"_s, u"b"_s, true), BuildGetUserProfile(u"a"_s, u"b"_s),
        BuildSaveUser(u"1|2|3|4|5|6|7|8|9|10|11|12|13|14"_s), BuildShowUser(u"x"_s),
        BuildFilePrep(u"a"_s, u"f"_s, 10, u"127.20.0.2"_s), BuildNoFile(u"a"_s),
        BuildLeave(u"a"_s, u"Public"_s), BuildDumpUser(u"a"_s, u"b"_s)};
    QList<QByteArray> out;
    for (const QString& t : texts)
        out << FrameDatagram(t) << PlainDatagram(t);
    return out;
}

QByteArray randomBytes(QRandomGenerator& rng)
{
    QByteArray b(rng.bounded(MaxRandomLength), Qt::Uninitialized);
    // Bias some inputs towards separators and the framing mark.
    const bool barHeavy = rng.bounded(4) == 0;
    for (char& c : b) {
        const quint32 roll = rng.bounded(256);
        c = barHeavy && roll < 64 ? '|' : static_cast<char>(roll);
    }
    if (!b.isEmpty() && rng.bounded(2))
        b[0] = '1';
    return b;
}

QByteArray mutate(QByteArray b, QRandomGenerator& rng)
{
    const int edits = 1 + rng.bounded(6);
    for (int e = 0; e < edits; ++e) {
        const qsizetype pos = b.isEmpty() ? 0 : rng.bounded(b.size());
        switch (rng.bounded(7)) {
        case 0: if (!b.isEmpty()) b[pos] = static_cast<char>(rng.bounded(256)); break;
        case 1: b.insert(pos, '|'); break;
        case 2: b.truncate(pos); break;
        case 3: b.remove(pos, rng.bounded(8)); break;
        case 4: b.insert(pos, b.mid(rng.bounded(qMax<qsizetype>(1, b.size())), rng.bounded(40))); break;
        case 5: b.insert(pos, QByteArray(rng.bounded(12), static_cast<char>(rng.bounded(2) ? 0 : 0xFF))); break;
        case 6: if (!b.isEmpty()) b[0] = b[0] == '1' ? 'H' : '1'; break;
        }
    }
    return b;
}

} // namespace

class TestProtocolFuzz : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void readersSurviveAnyDatagram();
};

void TestProtocolFuzz::readersSurviveAnyDatagram()
{
    bool ok = false;
    const quint32 envSeed = qEnvironmentVariable("KIVARA_FUZZ_SEED").toUInt(&ok);
    const quint32 seed = ok ? envSeed : DefaultSeed;
    qInfo("seed %u", seed);
    QRandomGenerator rng(seed);
    const QList<QByteArray> seeds = corpus();
    qint64 records = 0, entries = 0, slips = 0;

    for (int round = 0; round < Rounds; ++round) {
        const QByteArray datagram =
            rng.bounded(3) == 0 ? randomBytes(rng) : mutate(seeds[rng.bounded(seeds.size())], rng);
        const QString text = UnframeDatagram(datagram);
        QCOMPARE(text.size(), datagram.size() - (IsScrambledDatagram(datagram) ? 1 : 0));
        const QStringList fields = ParseDatagram(text);
        QVERIFY(!fields.isEmpty());
        QCOMPARE(fields.size() - 1, text.count(u'|'));

        const bool isRecord = UserRecord::fromFields(fields).has_value();
        QCOMPARE(isRecord, fields.size() >= 9);
        records += isRecord;
        const qsizetype count = RoomListEntryCount(fields);
        QVERIFY(count == 0 || field::RoomListFirstEntry + count * UserRecord::FieldCount <= fields.size());
        const QList<UserRecord> rows = RoomListEntries(fields);
        QCOMPARE(rows.size(), count);
        entries += rows.size();
        if (const auto slip = MessagePeerslip(fields)) {
            QCOMPARE(fields[field::MessageHasPeerslip], u"1"_s);
            ++slips;
        }
        // Whatever arrived, framing it again and reading it back gives the same message.
        QCOMPARE(UnframeDatagram(FrameDatagram(text)), text);
    }
    // The mutations must reach the deeper readers, not only the splitter.
    QVERIFY2(records > 1000 && entries > 1000 && slips > 100,
             qPrintable(u"%1 records, %2 entries, %3 Peerslips"_s.arg(records).arg(entries).arg(slips)));
}

KV_TEST_MAIN(TestProtocolFuzz)
#include "tst_protocolfuzz.moc"
