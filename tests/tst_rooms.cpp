// The session core without widgets: a room's participants as a model its
// views can rely on, and the transcript lines written into its document.
#include "Control/Session/Rooms.h"
#include "Control/Session/Transcript.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>

using namespace Qt::StringLiterals;
using namespace kv;
using namespace kv::control;

class TestRooms : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void participantsAsModel();
    void transcriptLines();
};

void TestRooms::participantsAsModel()
{
    Room room(u"Bob"_s);
    ParticipantModel& rows = room.participants;
    QAbstractItemModelTester tester(&rows, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QCOMPARE(rows.headerData(ColName, Qt::Horizontal).toString(), u"Bob's room"_s);

    room.addRow(u"Ann"_s, u"1_1"_s);
    rows.setOwnRowEditable(true);
    Participant bob = room.addRow(u"Bob"_s, u"3_0"_s);
    bob.setDetails({u"Bob"_s, u"Stepped Out"_s, u"bob@example.org"_s, u"127.0.0.3"_s, u"hi"_s, u"KV-BOB"_s,
                    QString(), u"3"_s});
    Participant cy = room.addRow(u"Cy"_s, u"2_0"_s);
    QCOMPARE(rows.index(1, ColAddress).data().toString(), u"127.0.0.3"_s);
    QCOMPARE(rows.index(1, 0).data(ParticipantModel::SerialRole).toString(), u"KV-BOB"_s);
    QCOMPARE(rows.index(1, 0).data(Qt::ToolTipRole).toString(), u"Stepped Out"_s);

    // Ignoring hides the availability locally; others still learn the real one, which follows the news.
    bob.setSavedAvailability(bob.availability());
    bob.setAvailability(availability::Ignored.toString());
    QVERIFY(rows.index(1, 0).data(ParticipantModel::IgnoredRole).toBool());
    bob.setDetails({u"Bob"_s, u"On the Phone"_s, {}, u"127.0.0.3"_s, {}, u"KV-BOB"_s, {}, u"3"_s});
    QCOMPARE(bob.availability(), availability::Ignored.toString());
    QCOMPARE(bob.record().fields(),
             (QStringList{u"Bob"_s, u"On the Phone"_s, {}, u"127.0.0.3"_s, {}, u"KV-BOB"_s, {}, u"3"_s}));

    // Only the own name is editable, and an edit is a request: the row shows the new name once granted.
    QSignalSpy edits(&rows, &ParticipantModel::ownNameEdited);
    QVERIFY(!rows.setData(rows.index(1, ColName), u"Robert"_s));
    QVERIFY(!rows.setData(rows.index(0, ColEmail), u"x"_s));
    QVERIFY(rows.setData(rows.index(0, ColName), u"Anna"_s));
    QCOMPARE(edits.size(), 1);
    QCOMPARE(edits.first().first().toString(), u"Anna"_s);
    QCOMPARE(room.row(1).name(), u"Ann"_s);

    // Handles follow their rows through removals; the own row stays.
    QVERIFY(room.removeRow(u"Bob"_s));
    QVERIFY(!room.removeRow(u"Bob"_s));
    QCOMPARE(cy.index(), 1);
    QCOMPARE(room.findRow(u"Cy"_s), cy);
    room.keepOnlyOwnRow();
    QCOMPARE(room.rowCount(), 1);
    QVERIFY(room.row(2).isNull());
    room.rename(u"Robert"_s);
    QCOMPARE(rows.headerData(ColName, Qt::Horizontal).toString(), u"Robert's room"_s);
}

void TestRooms::transcriptLines()
{
    QTextDocument doc;
    AppendChatLine(doc, u"Ann"_s, QColor(0, 0, 255), u"hello"_s);
    AppendNoticeLine(doc, u"Bob"_s, StatusNotice(u"Away"_s));
    AppendPlainText(doc, u"one\r\ntwo\rthree"_s);
    QCOMPARE(doc.toPlainText(), u"Ann\thello\n[Bob]\thas changed status to 'Away'.\none\ntwo\nthree"_s);
    const QTextCharFormat name = doc.begin().begin().fragment().charFormat();
    QCOMPARE(name.fontWeight(), int(QFont::Bold));
    QCOMPARE(name.foreground().color(), QColor(0, 0, 255));
    // Normal text carries no colour of its own: the view's palette shows it.
    QVERIFY(!(++doc.begin().begin()).fragment().charFormat().hasProperty(QTextFormat::ForegroundBrush));
    QCOMPARE(doc.begin().next().begin().fragment().charFormat().foreground().color().rgb(), QColor(NoticeGrey).rgb());
    QCOMPARE(ColorFromSetting(ColorToSetting(QColor(1, 2, 3))), QColor(1, 2, 3));
    QCOMPARE(ColorToSetting(QColor(0, 0, 255)), 0xFF0000);
}

QTEST_MAIN(TestRooms)
#include "tst_rooms.moc"
