// The profile's registry form, its Peerslip bytes and its text forms.
#include "Shared/PeerslipMail.h"
#include "Shared/modMisc.h"
#include "Shared/modUser.h"
#include "testing/Desk.h"
#include "testing/SimComputer.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace kv;
using kv::test::FileBytes;

namespace {

ProfileRecord fullProfile()
{
    return {u"Ann Smith"_s, u"Smith & S\u00f6hne"_s, u"ann@example.com"_s, u"Seattle"_s, u"WA"_s, u"USA"_s,
            u"Call me after five"_s, u"Ann"_s, u"Available"_s, u"127.0.0.2"_s, 8086, u"KV-0042"_s,
            QString(), 3, 0};
}

} // namespace

class TestProfile : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void encodingAndRoundTrips();
    void malformedPeerslips();
    void renameAndPrivateProfile();
    void unsafeNamesAndProfilesTooLongOrUnwritable();
    void textFormsAndTempPeerslip();

private:
    std::unique_ptr<kv::test::SimComputer> m_computer;
    test::Desk m_desk;
};

void TestProfile::init()
{
    m_computer = std::make_unique<kv::test::SimComputer>();
    m_computer->activate();
    m_desk.install();
}

void TestProfile::encodingAndRoundTrips()
{
    ProfileRecord p;
    p.ChatName = u"Ann"_s;
    p.IPAddress = u"10.0.0.5"_s;
    // Seven empty texts, "Ann", no availability, the address, port 8086, no identifier, the reserved text
    // empty, chat type 1, not private: each text as its length and bytes.
    const QByteArray expected =
        QByteArray::fromHex("0000 0000 0000 0000 0000 0000 0000 0300 416e6e 0000 0800 "
                            "31302e302e302e35 961f0000 0000 0000 0100 0000");
    QCOMPARE(EncodePeerslip(p).value(), expected);
    // The file is a 256-byte record; readers take both the padded record and the bare data.
    const QString path = QDir(m_computer->root()).filePath(u"ann.kvp"_s);
    QVERIFY(WritePeerslipFile(path, p));
    const QByteArray file = FileBytes(path);
    QCOMPARE(file.size(), PeerslipRecordSize);
    QCOMPARE(file.left(43), expected);
    QCOMPARE(ReadPeerslipFile(path).value(), p);
    QCOMPARE(DecodePeerslip(expected).value(), p);

    QCOMPARE(DecodePeerslip(EncodePeerslip(fullProfile()).value()).value(), fullProfile());
    // Negative and extreme integers keep their two's complement form.
    ProfileRecord q = fullProfile();
    q.LocalPort = -2;
    q.ChatType = -32768;
    q.PrivateInfo = 32767;
    QCOMPARE(DecodePeerslip(EncodePeerslip(q).value()).value(), q);
    // Windows text is stored as a Windows peer stores it, one byte a character, and read back whole.
    q.Comment = u"\u20ac \u201equoted\u201c \u2014 \u2122"_s;
    QVERIFY(EncodePeerslip(q)->contains("\x80 \x84quoted\x93 \x97 \x99"));
    QVERIFY(WritePeerslipFile(PeerslipPath(q.ChatName), q));
    QCOMPARE(ReadPeerslipFile(PeerslipPath(q.ChatName)).value().Comment, q.Comment);
    // Exactly 224 bytes of text fit; one more does not.
    ProfileRecord big;
    big.Comment = QString(224, u'c');
    QCOMPARE(EncodePeerslip(big)->size(), PeerslipRecordSize);
    big.Comment += u'c';
    QVERIFY(!EncodePeerslip(big));
}

void TestProfile::malformedPeerslips()
{
    const QByteArray good = EncodePeerslip(fullProfile()).value();
    // Every truncation short of the last field is unreadable.
    for (qsizetype n = 0; n < good.size(); ++n)
        QVERIFY2(!DecodePeerslip(good.left(n)), qPrintable(QString::number(n)));
    // A length that runs past the data.
    QByteArray bad = good;
    for (const char* length : {"\xF0\x00", "\xFF\xFF"}) {
        bad.replace(0, 2, QByteArray(length, 2));
        QVERIFY(!DecodePeerslip(bad));
    }
    // A file larger than one record is read as its first record.
    const QString path = QDir(m_computer->root()).filePath(u"big.kvp"_s);
    QVERIFY(kv::test::WriteBytes(path, good.leftJustified(PeerslipRecordSize, '\0') +
                                           QByteArray(PeerslipRecordSize, 'x')));
    QCOMPARE(ReadPeerslipFile(path).value(), fullProfile());
    QVERIFY(!ReadPeerslipFile(path + u".missing"_s));
    // Random bytes never crash the reader.
    auto* rng = QRandomGenerator::global();
    for (int i = 0; i < 20000; ++i) {
        QByteArray junk(rng->bounded(0, 300), '\0');
        for (char& c : junk)
            c = char(rng->bounded(256));
        if (rng->bounded(2))
            junk = good.left(rng->bounded(good.size() + 1)) + junk.left(8);
        DecodePeerslip(junk);
    }
}

void TestProfile::renameAndPrivateProfile()
{
    ProfileRecord p = fullProfile();
    QCOMPARE(SaveProfile(p, QString()), 0);
    QVERIFY(FileBytes(SignatureFilePath()).contains("{\\*\\kvdisplayname Ann's Peerslip}"));
    p.ChatName = u"Anna"_s;
    QCOMPARE(SaveProfile(p, u"Ann"_s), 0);
    const QStringList files = QDir(m_computer->installDir()).entryList({u"*.kvp"_s}, QDir::Files);
    QCOMPARE(files, QStringList{u"Anna.kvp"_s});
    // The signature names the new Peerslip.
    const QByteArray signature = FileBytes(SignatureFilePath());
    QVERIFY(signature.contains("{\\*\\kvdisplayname Anna's Peerslip}"));
    QVERIFY(signature.contains("{\\*\\kvfilename Anna.kvp}"));
    QVERIFY(!signature.contains("Ann's Peerslip"));
    QVERIFY(signature.contains(FileBytes(PeerslipPath(u"Anna"_s)).toHex()));

    // Saved again under the same name, now private. On disk: the personal fields empty and the flag
    // cleared; the rest as saved.
    p.PrivateInfo = 1;
    QCOMPARE(SaveProfile(p, u"Anna"_s), 0);
    const QString none;
    QCOMPARE(ReadPeerslipFile(PeerslipPath(u"Anna"_s)).value(),
             (ProfileRecord{none, none, none, none, none, none, none, u"Anna"_s, p.UserStatus, p.IPAddress,
                            p.LocalPort, p.SerialNum, none, p.ChatType, 0}));
    ProfileRecord loaded;
    LoadProfile(Deliverable::Quillon, loaded);
    QCOMPARE(loaded.FullName, u"Ann Smith"_s);
    QCOMPARE(loaded.PrivateInfo, qint16(1));
}

void TestProfile::unsafeNamesAndProfilesTooLongOrUnwritable()
{
    const QString install = QDir(m_computer->installDir()).canonicalPath();
    for (const QString& name : {u"../../evil"_s, u"a/b"_s, u"..\\x"_s, u".."_s, u"."_s, u"tab\there"_s}) {
        ProfileRecord p = fullProfile();
        p.ChatName = name;
        QCOMPARE(SaveProfile(p, QString()), 0);
        const QFileInfo written(PeerslipPath(name));
        QVERIFY2(written.exists(), qPrintable(name));
        QCOMPARE(written.absoluteDir().canonicalPath(), install);
        // The wire keeps the name itself.
        QCOMPARE(ReadPeerslipFile(written.filePath())->ChatName, name);
        QVERIFY(ShortProfileFieldString(p).startsWith(name + u'|'));
    }
    QCOMPARE(PeerslipFileName(u".."_s), u"_...kvp"_s);
    QCOMPARE(PeerslipFileName(u"a/b"_s), u"a_b.kvp"_s);

    ProfileRecord p = fullProfile();
    QCOMPARE(SaveProfile(p, QString()), 0);
    const QByteArray before = FileBytes(PeerslipPath(u"Ann"_s));
    p.Comment = QString(200, u'z');
    QCOMPARE(SaveProfile(p, u"Ann"_s), -1);
    p.UserStatus = u"Busy"_s; // saved again at an availability change: told once
    QCOMPARE(SaveProfile(p, u"Ann"_s), -1);
    QCOMPARE(m_desk.promptTexts(), QStringList{PeerslipTooLongText.toString()});
    ProfileRecord loaded;
    LoadProfile(Deliverable::Quillon, loaded);
    QCOMPARE(loaded.Comment, p.Comment);
    QCOMPARE(FileBytes(PeerslipPath(u"Ann"_s)), before); // the last good file stays

    // Every box typed to its limit, with the longest availability, address and identifier: it fits.
    using namespace profilelimit;
    const ProfileRecord full{QString(FullName, u'a'), QString(Company, u'b'), QString(Email, u'c'),
                             QString(CityState / 2, u'd'), QString(CityState / 2, u'e'), QString(Country, u'f'),
                             QString(Comment, u'g'), QString(profilelimit::ChatName, u'h'), u"Out of Office"_s,
                             u"255.255.255.255"_s, 8086, QString(Identifier, u'i'), QString()};
    QVERIFY(EncodePeerslip(full));

    // A Peerslip that cannot be written is told, with where and why; no installation folder
    // never means the folder the program runs in.
    p.Comment = u"short"_s;
    const QString blocked = m_computer->root() + u"/blocked"_s;
    QVERIFY(kv::test::WriteBytes(blocked, "a file, not a folder"));
    WriteSetting(settings::InstallDir, blocked + u"/"_s);
    QCOMPARE(SaveProfile(p, u"Ann"_s), -1);
    QVERIFY2(m_desk.promptTexts().last().startsWith(PeerslipNotWrittenText.toString() + blocked + u"/Ann.kvp'.\r\r"_s),
             qPrintable(m_desk.promptTexts().last()));
    QVERIFY(m_desk.promptTexts().last().size() > PeerslipNotWrittenText.toString().size() + blocked.size() + 12);
    WriteSetting(settings::InstallDir, QString());
    QCOMPARE(SaveProfile(p, u"Ann"_s), -1);
    QVERIFY(m_desk.promptTexts().last().endsWith(NoInstallFolderText.toString()));
    QVERIFY(!QFile::exists(u"Ann.kvp"_s));
}

void TestProfile::textFormsAndTempPeerslip()
{
    ProfileRecord p = fullProfile();
    QCOMPARE(ProfileFieldString(p),
             u"Ann Smith|Smith & S\u00f6hne|ann@example.com|Seattle|WA|USA|Call me after five|Ann|Available|"
             "127.0.0.2|KV-0042||3|0"_s);
    QCOMPARE(ShortProfileFieldString(p), u"Ann|Available|ann@example.com|127.0.0.2|Call me after five|KV-0042||3"_s);
    p.PrivateInfo = 1;
    QCOMPARE(ProfileFieldString(p), u"|||||||Ann|Available|127.0.0.2|KV-0042||3|1"_s);
    // The user record does not depend on the private flag.
    QCOMPARE(ShortProfileFieldString(p), u"Ann|Available|ann@example.com|127.0.0.2|Call me after five|KV-0042||3"_s);
    // A separator typed into any field would shift every field after it.
    QCOMPARE(FieldHoldingSeparator(p), QString());
    p.Comment = u"Sales | Support"_s;
    QCOMPARE(FieldHoldingSeparator(p), u"Comment"_s);
    p.Email = u"a|b@example.com"_s;
    QCOMPARE(FieldHoldingSeparator(p), u"E-mail"_s);
    QVERIFY(SeparatorRefusalText(u"E-mail"_s).startsWith(u"The E-mail cannot contain"_s));

    // A Peerslip made from a received message's fields, in the private temporary folder.
    const QStringList fields = {u"MESSAGE"_s, u"Bob"_s,     u"Available"_s, u"bob@example.com"_s, u"127.0.0.3"_s,
                                u"hi"_s,      u"KV-0099"_s, u"ignored"_s,   u"5"_s,               u"subject"_s};
    const QString path = WriteTempPeerslip(fields);
    const QFileInfo fi(path);
    QVERIFY2(QRegularExpression(u"^~[^.]+\\.kvp$"_s).match(fi.fileName()).hasMatch(), qPrintable(path));
    QCOMPARE(fi.absolutePath(), QFileInfo(PrivateTempFolder()).absoluteFilePath());
    const QString none;
    QCOMPARE(ReadPeerslipFile(path).value(),
             (ProfileRecord{none, none, u"bob@example.com"_s, none, none, none, u"hi"_s, u"Bob"_s, u"Available"_s,
                            u"127.0.0.3"_s, 0, u"KV-0099"_s, none, 5, 0}));
    // A short message still yields a file with empty fields.
    QVERIFY(ReadPeerslipFile(WriteTempPeerslip({u"MESSAGE"_s, u"Cy"_s})).has_value());
}

KV_TEST_MAIN(TestProfile)
#include "tst_profile.moc"
