// The datagram codec: scrambling, framing, splitting, and every builder's field
// order checked against the positions receivers read.
#include "Platform/Ansi.h"
#include "Shared/Protocol.h"
#include "testing/SimComputer.h"

#include <QApplication>
#include <QFile>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace kv;

namespace {

UserRecord sampleRecord(const QString& name = u"Ann"_s)
{
    return {name, u"Be Right Back"_s, name.toLower() + u"@example.com"_s, u"127.20.0.2"_s,
            u"Caf\u00e9 comment"_s, u"KV-0001"_s, QString(), u"3"_s};
}

// What a receiver reads after the message went over the wire.
QStringList received(const QString& text)
{
    return ReadDatagram(FrameDatagram(text));
}

} // namespace

class TestProtocol : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void scramblingFramingAndSplitting();
    void recordsAndBuilders();
};

void TestProtocol::scramblingFramingAndSplitting()
{
    // The key is not stored whole in the program.
    QFile self(QCoreApplication::applicationFilePath());
    QVERIFY(self.open(QIODevice::ReadOnly));
    const QByteArray image = self.readAll();
    const QString& key = DatagramKey();
    QVERIFY(!image.contains(key.toLatin1()));
    const QByteArray utf16(reinterpret_cast<const char*>(key.utf16()), key.size() * 2);
    QVERIFY(!image.contains(utf16));

    // Scrambling is its own inverse.
    QString all;
    for (int c = 0; c < 256; ++c)
        all += QChar(c);
    const QStringList texts = {QString(), u"H"_s, u"HELLO|Ann|Available"_s, all, all + all.left(13)};
    for (const QString& t : texts) {
        const QString once = ScrambleText(t);
        QCOMPARE(once.size(), t.size());
        QVERIFY(t.isEmpty() || once != t);
        QCOMPARE(ScrambleText(once), t);
    }
    // XOR with zero codes exposes the key character used at each position; the 8th reuses the first.
    QCOMPARE(ScrambleText(QString(16, QChar(0))), key + key + key.left(2));
    // No zero (it would leave characters in the clear), and Latin-1, so scrambled text stays one byte a
    // character; other codes are XORed with the key character.
    for (int i = 0; i < key.size(); ++i) {
        QVERIFY(key[i].unicode() > 0 && key[i].unicode() <= 0xFF);
        QCOMPARE(ScrambleText(QString(7, u'A'))[i].unicode(), char16_t(u'A' ^ key[i].unicode()));
    }

    // Every byte value, as the characters a Windows peer's code page reads them as.
    const QByteArray bytes = (all + all + all).toLatin1();
    const QString ansi = platform::FromAnsi(bytes);
    QCOMPARE(platform::ToAnsi(ansi), bytes);
    const QByteArray framed = FrameDatagram(ansi);
    QVERIFY(IsScrambledDatagram(framed));
    QCOMPARE(UnframeDatagram(framed), ansi);
    // The wire bytes: the mark, then the code page's bytes scrambled, one a character.
    QCOMPARE(framed, "1" + ScrambleText(QString::fromLatin1(bytes)).toLatin1());
    // Windows text: the code page's own characters in 0x80-0x9F; one it lacks goes out as "?".
    const QString windows = u"\u20ac \u201equoted\u201c \u2014 \u2122"_s;
    QCOMPARE(PlainDatagram(windows), QByteArray("\x80 \x84quoted\x93 \x97 \x99"));
    QCOMPARE(UnframeDatagram(FrameDatagram(windows)), windows);
    QCOMPARE(UnframeDatagram(FrameDatagram(u"a\u4e2db\u0080"_s)), u"a?b?"_s);

    const std::pair<QString, QStringList> splits[] = {
        {QString(), {QString()}}, // framed, "1" alone: one empty field, which names no message
        {u"DONEHELLO"_s, {u"DONEHELLO"_s}},
        {u"A|"_s, {u"A"_s, QString()}},
        {u"|"_s, {QString(), QString()}},
        {u"|A"_s, {QString(), u"A"_s}},
        {u"A||B"_s, {u"A"_s, QString(), u"B"_s}},
        {u"|||"_s, {QString(), QString(), QString(), QString()}},
        {u"PUBCHAT|Ann|255|left|right"_s, {u"PUBCHAT"_s, u"Ann"_s, u"255"_s, u"left"_s, u"right"_s}},
        {BuildStatus(u"Ann"_s, u"On the Phone"_s), {u"STATUS"_s, u"Ann"_s, u"On the Phone"_s}},
    };
    // Every separator splits: as many fields as separators and one. Peers send plain
    // datagrams too; a receiver reads both alike.
    for (const auto& [text, fields] : splits) {
        QCOMPARE(ParseDatagram(text), fields);
        QCOMPARE(ReadDatagram(FrameDatagram(text)), fields);
        QCOMPARE(ReadDatagram(PlainDatagram(text)), fields);
        QVERIFY(!IsScrambledDatagram(PlainDatagram(text)));
    }
}

void TestProtocol::recordsAndBuilders()
{
    // Ann's record as receivers read it.
    const QString rec = u"Ann|Be Right Back|ann@example.com|127.20.0.2|Caf\u00e9 comment|KV-0001||3"_s;
    UserRecord r = sampleRecord();
    r.reserved = u"not sent"_s;
    QStringList f = r.fields();
    QCOMPARE(f, rec.split(u'|')); // the reserved field goes out empty
    f.prepend(QString(msg::Hello));
    r.reserved.clear();
    QCOMPARE(UserRecord::fromFields(f), std::optional<UserRecord>(r));
    // A record cut short, or looked for outside the fields, is not read at all.
    f.removeLast();
    QVERIFY(!UserRecord::fromFields(f) && !UserRecord::fromFields({}));
    QVERIFY(!UserRecord::fromFields(f, -1) && !UserRecord::fromFields(f, 100));

    // A room list: only whole entries are read.
    const QList<UserRecord> rows = {sampleRecord(u"Ann"_s), sampleRecord(u"Bob"_s), sampleRecord(u"Cy"_s)};
    f = received(BuildRoomList(rows));
    QCOMPARE(f[field::Name] + u'|' + f[field::RoomListTag], u"ROOMLIST|PUBLIC"_s);
    QCOMPARE(f.size(), 2 + 3 * 8);
    QCOMPARE(RoomListEntryCount(f), 3);
    QCOMPARE(RoomListEntries(f), rows);

    // Cut the last entry short by 1 to 8 fields: only the whole entries are read.
    for (int cut = 1; cut <= 8; ++cut) {
        const QStringList shorter = f.first(f.size() - cut);
        QCOMPARE(RoomListEntryCount(shorter), 2);
        QCOMPARE(RoomListEntries(shorter), rows.first(2));
    }
    for (const QStringList& none : {received(BuildRoomList({})), QStringList{u"ROOMLIST"_s}, QStringList()})
        QCOMPARE(RoomListEntryCount(none), 0);
    // The monitor's refusal: one entry, the refusal text where the availability goes.
    UserRecord refusal = sampleRecord();
    refusal.availability = u"I am out of the office"_s;
    QCOMPARE(RoomListEntries(received(BuildRoomList({refusal}))), QList<UserRecord>{refusal});

    // Every builder's fields.
    const UserRecord me = sampleRecord();
    const QString slip = u"Ann Smith|Acme|ann@example.com|Oslo||Norway|hi|Ann|Available|127.20.0.2|KV-1||3|0"_s;
    // Each message and the text whose fields a receiver reads, split at every separator.
    const std::pair<QString, QString> whole[] = {
        {BuildHello(me), u"HELLO|"_s + rec},
        {BuildEnter(me), u"ENTER|"_s + rec},
        {BuildUpdate(me), u"UPDATE|"_s + rec},
        {BuildPriChat(me, 255, QString(word::OpenPrivate)), u"PRICHAT|"_s + rec + u"|255|OPENPRI"_s},
        {BuildHelloWait(u"Bob"_s), u"HELLOWAIT|Bob"_s},
        {BuildGiveUp(u"Bob"_s), u"GIVEUP|Bob"_s},
        {BuildNoFile(u"Bob"_s), u"NOFILE|Bob"_s},
        {BuildDoneHello(), u"DONEHELLO"_s},
        {BuildLeaveMsg(u"Bob"_s, true), u"LEAVEMSG|Bob|1"_s},
        {BuildPubChat(u"Ann"_s, 16711680, u"hi"_s), u"PUBCHAT|Ann|16711680|hi"_s},
        {BuildStatus(u"Ann"_s, u"Stepped Out"_s), u"STATUS|Ann|Stepped Out"_s},
        {BuildNickName(u"Ann"_s, u"Annie"_s), u"NICKNAME|Ann|Annie"_s},
        {BuildGetUserSimple(u"Ann"_s, u"Bob"_s, true), u"GETUSER|Ann|SIMPLE|Bob|SILENT"_s},
        {BuildGetUserProfile(u"Ann"_s, u"Bob"_s), u"GETUSER|Ann|PROFILE|Bob"_s},
        {BuildSaveUser(slip), u"SAVEUSER|"_s + slip},
        {BuildShowUser(slip), u"SHOWUSER|"_s + slip},
        {BuildFilePrep(u"Ann"_s, u"report.pdf"_s, 123456789, u"127.20.0.2"_s),
         u"FILEPREP|Ann|report.pdf|123456789|127.20.0.2|8087"_s},
        {BuildLeave(u"Ann"_s, QString(word::PublicRoom)), u"LEAVE|Ann|Public"_s},
        {BuildDumpUser(u"Ann"_s, u"Bob"_s), u"DUMPUSER|Ann|Bob"_s},
        {BuildLeaveMsg(u"Bob"_s, false), u"LEAVEMSG|Bob|0"_s},
        {BuildGetUserSimple(u"Ann"_s, u"Bob"_s, false), u"GETUSER|Ann|SIMPLE|Bob|NORMAL"_s},
        {BuildLeave(u"Ann"_s, u"Ann"_s), u"LEAVE|Ann|Ann"_s},
        // No escaping: a "|" in a line cuts it for the receiver ...
        {BuildPubChat(u"Ann"_s, 0, u"a|b"_s), u"PUBCHAT|Ann|0|a|b"_s},
        // ... but a title holding the separator keeps the offer's six fields.
        {BuildFilePrep(u"Ann"_s, u"Sales | Support.pdf"_s, 1, u"127.20.0.2"_s),
         u"FILEPREP|Ann|Sales _ Support.pdf|1|127.20.0.2|8087"_s},
    };
    for (const auto& [text, wire] : whole)
        QCOMPARE(received(text), wire.split(u'|'));

    // A message, with and without a Peerslip.
    f = received(BuildMessage(me, u"Call me"_s, u"About the report"_s));
    QCOMPARE(f, (QStringList{u"MESSAGE"_s} + me.fields() +
                 QStringList{u"Call me"_s, u"About the report"_s, u"0"_s}));
    QCOMPARE(f[field::MessageSubject] + u'/' + f[field::MessageText] + u'/' + f[field::MessageHasPeerslip],
             u"Call me/About the report/0"_s);
    QVERIFY(!MessagePeerslip(f));

    // A binary Peerslip with separators, NULs and high bytes comes back byte for byte.
    QByteArray binary(256, '\0');
    for (int i = 0; i < binary.size(); ++i)
        binary[i] = static_cast<char>((i * 37) & 0xFF);
    binary[5] = binary[6] = binary[255] = '|';
    f = received(BuildMessage(me, u"s"_s, u"t"_s, binary));
    QCOMPARE(f[field::MessageHasPeerslip], u"1"_s);
    QCOMPARE(MessagePeerslip(f), std::optional<QByteArray>(binary));
    // An empty attachment is still an attachment.
    f = received(BuildMessage(me, u"s"_s, u"t"_s, QByteArray()));
    QCOMPARE(MessagePeerslip(f), std::optional<QByteArray>(QByteArray()));
}

KV_TEST_MAIN(TestProtocol)
#include "tst_protocol.moc"
