// The transcript's way out of the program (save, print, send to a medium or a
// mail recipient), its view behaviour, the layout around the splitter and the
// settings applied to a running control, the conversation history and the
// options dialog. One simulated computer per case at 127.110.<case>.2.
#include "Control/Kivara.h"
#include "Control/Layout.h"
#include "Control/Session/History.h"
#include "Control/Session/Texts.h"
#include "Control/Transcript.h"
#include "Control/TranscriptExport.h"
#include "Control/frmHistory.h"
#include "Control/frmOptions.h"
#include "Platform/Events.h"
#include "Platform/Outlook/WindowSide.h"
#include "Platform/ScriptedPrompt.h"
#include "Platform/Sound.h"
#include "Shared/Protocol.h"
#include "Shared/StoreAccess.h"
#include "Shared/modMisc.h"
#include "Shared/modUser.h"
#include "testing/CallPeer.h"
#include "testing/Desk.h"
#include "testing/FormCheck.h"
#include "testing/SimComputer.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QPrinter>
#include <QPushButton>
#include <QRadioButton>
#include <QSplitter>
#include <QTabWidget>
#include <QTest>
#include <QTextEdit>
#include <QTreeView>
#include <QTreeWidget>

using namespace Qt::StringLiterals;
using kv::test::FileBytes;
using namespace kv;
using namespace kv::control;

namespace {

QString address(int testCase, int host)
{
    return u"127.110.%1.%2"_s.arg(testCase).arg(host);
}

QString reg(const SettingSpec& spec)
{
    return ReadSetting(Deliverable::Quillon, spec);
}

} // namespace

class TestTranscript : public test::HeadlessCase {
    Q_OBJECT
private Q_SLOTS:
    void cleanup();
    void waysOutViewAndSettings();
    void historyAndOptions();

private:
    void computer(int testCase);
    // The last prompt's kind ("kind"), or the value it was given under key.
    QString lastPrompt(const QString& key) const;

    QString m_ip;
};

void TestTranscript::cleanup()
{
    endCase();
}

void TestTranscript::computer(int testCase)
{
    m_ip = address(testCase, 2);
    startCase(m_ip, u"KV-ANN"_s);
    QCOMPARE(SaveProfile(test::UserProfile(u"Ann"_s, m_ip, u"KV-ANN"_s), QString()), 0);
    // The product's contacts folder, as the monitor's first start leaves it.
    StoreAccess access(Deliverable::Quillon);
    QCOMPARE(access.ResolveService(), 0);
}

QString TestTranscript::lastPrompt(const QString& key) const
{
    const auto& log = m_desk.prompt->log();
    if (log.isEmpty()) return {};
    if (key == u"kind") return log.last().kind;
    for (const auto& [k, v] : log.last().extra)
        if (k == key) return v;
    return {};
}

namespace {
void converse(Kivara& k)
{
    QTextDocument& t = k.rooms().publicRoom().transcript;
    AppendChatLine(t, u"Ann"_s, QColor(0, 0, 255), u"hello {there} \\ caf\u00e9"_s);
    AppendChatLine(t, u"Bob"_s, QColor(200, 0, 0), u"hi Ann"_s);
    AppendNoticeLine(t, u"Bob"_s, u"has changed status to 'Stepped Out'."_s);
}

void select(QTextEdit* t, int from, int to)
{
    QTextCursor c(t->document());
    c.setPosition(from);
    c.setPosition(to, QTextCursor::KeepAnchor);
    t->setTextCursor(c);
}
} // namespace

// One control in session: saving, printing, sending; its view and layout, shown; settings applied to it.
void TestTranscript::waysOutViewAndSettings()
{
    QCOMPARE(DefaultTranscriptName(QDate(2026, 12, 6)), u"Kivara Transcript 12-6.rtf"_s);
    QCOMPARE(DefaultTranscriptName(QDate(2027, 1, 31)), u"Kivara Transcript 1-31.rtf"_s);
    QCOMPARE(TranscriptAttachmentName(QDate(2026, 12, 6)), u"Kivara Transcript Dec. 06"_s);
    QCOMPARE(TranscriptAttachmentName(QDate(2027, 5, 17)), u"Kivara Transcript May. 17"_s);
    // Ann's control in session, three lines in its public room.
    computer(1);
    auto k = std::make_unique<Kivara>();
    k->resize(640, 420);
    QCOMPARE(k->ChatInit(), 0);
    converse(*k);
    const QString dir = m_computer->root() + u"/out"_s;
    QVERIFY(QDir().mkpath(dir));

    QCOMPARE(k->SaveSession(dir + u"/t.rtf"_s, false), 0);
    const QByteArray rtf = FileBytes(dir + u"/t.rtf"_s);
    QVERIFY(rtf.startsWith("{\\rtf1"));
    QVERIFY(rtf.trimmed().endsWith('}'));
    for (const char* part :
         {"\\tx1250", "\\red0\\green0\\blue255;", "\\red200\\green0\\blue0;", "\\red192\\green192\\blue192;",
          "\\b\\cf1 Ann\\b0\\cf0 \\tab hello \\{there\\} \\\\ caf\\'e9\\par", "[Bob]"})
        QVERIFY2(rtf.contains(part), part);
    QCOMPARE(rtf.count("\\pard"), 3); // one paragraph a line, nothing after the last
    QCOMPARE(m_desk.prompt->log().size(), 0);

    QCOMPARE(k->SaveSession(dir + u"/t.txt"_s, false), 0);
    QCOMPARE(FileBytes(dir + u"/t.txt"_s), QByteArray("Ann\thello {there} \\ caf\xc3\xa9\r\nBob\thi Ann\r\n"
                                                      "[Bob]\thas changed status to 'Stepped Out'.\r\n"));
    // Any other extension is rich text.
    QCOMPARE(k->SaveSession(dir + u"/t.log"_s, false), 0);
    QVERIFY(FileBytes(dir + u"/t.log"_s).startsWith("{\\rtf1"));

    // An existing file: No keeps it, Yes replaces it.
    QVERIFY(QFile(dir + u"/t.txt"_s).open(QIODevice::WriteOnly)); // now empty
    m_desk.rules(u"msgbox already exists => No"_s);
    QCOMPARE(k->SaveSession(dir + u"/t.txt"_s, false), -1);
    QCOMPARE(FileBytes(dir + u"/t.txt"_s), QByteArray());
    QCOMPARE(m_desk.prompt->log().size(), 1);
    QCOMPARE(m_desk.prompt->log().first().text,
             u"The file you selected already exists.\r\rReplace existing file ?"_s);
    m_desk.rules(u"msgbox already exists => Yes"_s);
    QCOMPARE(k->SaveSession(dir + u"/t.txt"_s, false), 0);
    QVERIFY(FileBytes(dir + u"/t.txt"_s).startsWith("Ann\thello"));

    // A folder that cannot be written: the message says where and why.
    m_desk.rules(QString());
    QCOMPARE(k->SaveSession(dir + u"/missing/t.rtf"_s, false), -1);
    QCOMPARE(m_desk.prompt->log().size(), 1);
    const auto& failed = m_desk.prompt->log().first();
    QVERIFY2(failed.text.startsWith(exporttext::SaveFailed.toString() + dir + u"/missing/t.rtf.\r\r"_s),
             qPrintable(failed.text));
    QVERIFY(!failed.text.endsWith(u"\r"_s)); // a reason follows

    // Printing.
    const QString pdf = m_computer->root() + u"/print.pdf"_s;
    k->printer().setOutputFormat(QPrinter::PdfFormat);
    k->printer().setOutputFileName(pdf);

    // Cancelled: nothing printed; without a selection only all pages are offered.
    k->FileMenu_Click(6);
    QCOMPARE(lastPrompt(u"selectionAvailable"_s), u"false"_s);
    QVERIFY(!QFile::exists(pdf));

    m_desk.rules(u"print Print Kivara Transcript => OK copies=2"_s);
    QCOMPARE(PrintTranscript(*k->roomView(0).transcript, k->printer()), 2);
    QVERIFY(FileBytes(pdf).startsWith("%PDF"));

    // With a selection the dialog offers it, and only it is printed.
    QFile::remove(pdf);
    QTextEdit* t = k->roomView(0).transcript;
    select(t, 0, 3);
    m_desk.rules(u"print Print Kivara Transcript => OK selection"_s);
    QCOMPARE(PrintTranscript(*t, k->printer()), 1);
    QCOMPARE(lastPrompt(u"selectionAvailable"_s), u"true"_s);
    QVERIFY(FileBytes(pdf).size() > 0);

    // Print Set-up goes through the printer-setup dialog.
    m_desk.rules(QString());
    k->FileMenu_Click(5);
    QCOMPARE(lastPrompt(u"kind"_s), u"print"_s);

    // To the mail recipients selected in the list.
    m_desk.rules(QString());
    Room& pub = k->rooms().publicRoom();
    pub.addRow(u"Bob"_s, u"1_0"_s).setDetails(test::PartyRecord(u"Bob"_s, address(1, 3)));
    pub.addRow(u"Cy"_s, u"1_0"_s).setDetails(test::PartyRecord(u"Cy"_s, address(1, 4)));
    QTreeView* list = k->roomView(0).list;
    for (int row : {0, 1, 2}) // the own row is never a recipient
        list->selectionModel()->select(list->model()->index(row, 0),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);

    k->SendToTarget_Click(1);
    QCOMPARE(m_desk.prompt->log().size(), 0);
    const auto inspectors = m_side->openInspectors();
    QCOMPARE(inspectors.size(), 1);
    QVERIFY(inspectors.first()->IsDisplayed());
    const outlook::Item mail = inspectors.first()->CurrentItem();
    // The joined addresses, which the mail host takes apart.
    QCOMPARE(mail.Recipients().Count(), 2);
    QCOMPARE(mail.Recipients().Item(1).Name(), u"bob@example.org"_s);
    QCOMPARE(mail.Recipients().Item(2).Name(), u"cy@example.org"_s);
    QCOMPARE(mail.Attachments().Count(), 1);
    const outlook::Attachment a = mail.Attachments().Item(1);
    QCOMPARE(a.DisplayName(), TranscriptAttachmentName(QDate::currentDate()));
    QVERIFY(a.Data().startsWith("{\\rtf1"));
    QVERIFY(a.Data().contains("hi Ann"));
    QVERIFY(QDir(PrivateTempFolder()).entryList(QDir::Files).isEmpty()); // the temporary copy is gone
    QCOMPARE(QApplication::overrideCursor(), nullptr);

    // No mail host to be had: the notice, and nothing shown.
    m_side->setRunning(false);
    m_side->setStartable(false);
    const QString file = m_computer->root() + u"/x.rtf"_s;
    QCOMPARE(k->SaveSession(file, false), 0);
    QCOMPARE(k->SendSession(u"bob@example.org"_s, file), -1);
    QCOMPARE(m_desk.promptTexts(), QStringList{u"Cannot create new Message"_s});

    // To the first removable medium.
    m_desk.rules(QString());
    const QString root = m_computer->root() + u"/media"_s;
    QVERIFY(QDir().mkpath(root));
    QVERIFY(QFile(root + u"/A-FILE"_s).open(QIODevice::WriteOnly)); // not a medium
    QCOMPARE(FloppyFolder({root}), QString());
    QVERIFY(QDir().mkpath(root + u"/B-STICK"_s));
    QVERIFY(QDir().mkpath(root + u"/C-STICK"_s));
    QCOMPARE(FloppyFolder({m_computer->root() + u"/none"_s, root}), root + u"/B-STICK"_s);

    const QString temp = TranscriptTempCopy(*k->roomView(0).transcript);
    QVERIFY(temp.endsWith(u".rtf"_s));
    const QDate day(2026, 12, 6);
    QVERIFY(CopyToFloppy(temp, {root}, day));
    QVERIFY(CopyToFloppy(temp, {root}, day)); // a second copy of the day replaces the first
    QCOMPARE(FileBytes(root + u"/B-STICK/Kivara Transcript 12-6.rtf"_s), FileBytes(temp));
    QCOMPARE(m_desk.prompt->log().size(), 0);
    // A copy that cannot replace the day's file says why.
    QVERIFY(QDir().mkpath(root + u"/B-STICK/Kivara Transcript 12-7.rtf/x"_s));
    QVERIFY(!CopyToFloppy(temp, {root}, day.addDays(1)));
    QVERIFY2(m_desk.promptTexts().last().startsWith(exporttext::CopyFailed.toString() + root +
                                                    u"/B-STICK/Kivara Transcript 12-7.rtf.\r\r"_s),
             qPrintable(m_desk.promptTexts().last()));
    QVERIFY(!CopyToFloppy(temp, {m_computer->root() + u"/none"_s}, day));
    // Through the menu with no medium on this computer: the user is told.
    k->SendToTarget_Click(0);
    QCOMPARE(m_desk.promptTexts().mid(1), QStringList(2, exporttext::NoMedium.toString()));

    // The view, shown.
    k->resize(900, 500);
    k->show();
    QVERIFY(QTest::qWaitForWindowExposed(k.get()));
    auto* fileMenu = k->findChild<QMenu*>(u"mnuFile"_s);
    auto* editMenu = k->findChild<QMenu*>(u"mnuEdit"_s);
    QVERIFY(fileMenu && editMenu);

    // A right click on two selected characters shows the file menu, on three the edit menu.
    const QPoint at(10, 10);
    for (const auto& [chars, shown, other] :
         {std::tuple{2, fileMenu, editMenu}, std::tuple{3, editMenu, fileMenu}}) {
        select(t, 0, chars);
        QTest::mouseClick(t->viewport(), Qt::RightButton, {}, at);
        QTRY_VERIFY(shown->isVisible());
        QVERIFY(!other->isVisible());
        QCOMPARE(shown->defaultAction(), shown->actions().at(0));
        shown->hide();
    }

    // A click that leaves no selection sends the caret to the end.
    select(t, 1, 1);
    QTest::mouseClick(t->viewport(), Qt::LeftButton, {}, at);
    QCOMPARE(t->textCursor().position(), t->document()->characterCount() - 1);
    // Every appended line leaves the caret at the end too.
    select(t, 1, 1);
    AppendChatLine(k->rooms().publicRoom().transcript, u"Bob"_s, Qt::red, u"more"_s);
    QCOMPARE(t->textCursor().position(), t->document()->characterCount() - 1);

    // The edit menu: select all, then copy as plain text.
    k->EditMenu_Click(2);
    QCOMPARE(t->textCursor().selectionStart(), 0);
    QCOMPARE(t->textCursor().selectionEnd(), t->document()->characterCount() - 1);
    k->EditMenu_Click(0);
    QCOMPARE(QApplication::clipboard()->text(), t->toPlainText());
    QVERIFY(!QApplication::clipboard()->text().contains(QChar::ParagraphSeparator));

    auto* split = k->findChild<QSplitter*>(u"picSplit"_s);
    QVERIFY(list->isVisible());
    const int withList = t->width();
    const int margin = TwipsToPixels(SplitterMarginTwips, k.get());

    // Where the splitter comes to rest when dragged to these sizes.
    const auto drag = [&](const QList<int>& sizes) {
        split->setSizes(sizes);
        QApplication::processEvents();
        return k->layoutKeeper().splitterLeft();
    };
    // Dragged to either edge, the splitter stops 300 twips short of it.
    QCOMPARE(drag({0, 5000}), margin);
    QCOMPARE(drag({5000, 0}), k->width() - margin);
    // The limits follow the control's size.
    k->resize(700, 500);
    QApplication::processEvents();
    QCOMPARE(drag({5000, 0}), 700 - margin);
    drag({400, 300});

    // Without the participant lists the transcript takes their width, in every room.
    WriteSetting(settings::ShowUsers, u"0"_s);
    k->RefreshSettings();
    QApplication::processEvents();
    QVERIFY(!list->isVisible());
    QVERIFY(t->width() > withList - 200 && t->width() > 600);

    // The room-button row appears only with private rooms.
    QVERIFY(!k->findChild<QWidget*>(u"fraRooms"_s)->isVisible());

    // Settings applied to the running control reach every room.
    test::CallPeer bob(address(1, 3));
    QVERIFY(bob.ok);
    const UserRecord bobRecord = test::PartyRecord(u"Bob"_s, bob.ip());
    // Bob's row is the one added above, at the same address.
    QVERIFY(k->OpenPrivateRoom(test::PriChatFields(bobRecord)) >= 1);
    QCOMPARE(k->rooms().count(), 2);
    QTRY_VERIFY(k->findChild<QWidget*>(u"fraRooms"_s)->isVisible());

    // The options change the name and availability; every room's own row follows.
    ProfileRecord p;
    QCOMPARE(LoadProfile(Deliverable::Quillon, p), 0);
    p.ChatName = u"Annie"_s;
    p.UserStatus = u"Stepped Out"_s;
    p.Comment = u"new note"_s;
    QCOMPARE(SaveProfile(p, u"Ann"_s), 0);
    WriteSetting(settings::UseOthers, u"1"_s);
    WriteSetting(settings::OthersColor, QString::number(0x0000FF));
    QCOMPARE(k->RefreshSettings(), 0);
    for (int i = 0; i < 2; ++i) {
        const Participant own = k->rooms().at(i).row(1);
        QCOMPARE(own.name(), u"Annie"_s);
        QCOMPARE(own.availability(), u"Stepped Out"_s);
        QCOMPARE(own.comment(), u"new note"_s);
    }
    QCOMPARE(k->panelText(2), u"Stepped Out"_s);
    QCOMPARE(k->state().othersColor, QColor(255, 0, 0));

    // What went out: the status, the new name and the profile update.
    QStringList words;
    QVERIFY(platform::WaitUntil(
        [&] {
            for (const QString& message : bob.drain())
                words << message.section(u'|', 0, 0);
            return words.contains(u"UPDATE"_s) && words.contains(u"NICKNAME"_s);
        },
        5000));

    // Fonts reach every transcript.
    WriteSetting(settings::FontSize, u"14"_s);
    k->RefreshSettings();
    QCOMPARE(k->roomView(1).transcript->document()->defaultFont().pointSize(), 14);

    // A control that saved nothing yet (not in session): "Save &As..." asks as "&Save" would, with the
    // default name of today, and remembers the path.
    k = std::make_unique<Kivara>();
    converse(*k);
    const QString first = m_computer->root() + u"/first.rtf"_s;
    const QString second = m_computer->root() + u"/second.rtf"_s;
    m_desk.rules(u"save Save Kivara Transcript => "_s + first);
    k->FileMenu_Click(3);
    QCOMPARE(lastPrompt(u"fileName"_s), DefaultTranscriptName(QDate::currentDate()));
    QVERIFY(FileBytes(first).startsWith("{\\rtf1"));
    QCOMPARE(k->lastSavedPath(), first);

    // Then "&Save" writes to that file, asking only about replacing it.
    AppendChatLine(k->rooms().publicRoom().transcript, u"Ann"_s, Qt::black, u"later line"_s);
    m_desk.rules(u"msgbox already exists => Yes"_s);
    k->FileMenu_Click(2);
    QCOMPARE(m_desk.promptTexts(),
             QStringList{u"The file you selected already exists.\r\rReplace existing file ?"_s});
    QVERIFY(FileBytes(first).contains("later line"));

    // "Save &As..." asks every time and keeps the path "&Save" uses.
    m_desk.rules(u"save Save Kivara Transcript => "_s + second);
    k->FileMenu_Click(3);
    QVERIFY(FileBytes(second).contains("later line"));
    QCOMPARE(k->lastSavedPath(), first);

    // Cancelling the dialog ends silently.
    m_desk.rules(QString());
    QCOMPARE(k->SaveSession(QString(), false), -1);
    QCOMPARE(m_desk.prompt->log().size(), 1);
    QCOMPARE(k->lastSavedPath(), first);
}

// ---- The conversation history ------------------------------------------------------------

void TestTranscript::historyAndOptions()
{
    // Kept off from the start: lines are shown, nothing is written, not even an empty file.
    computer(13);
    WriteSetting(settings::KeepHistory, u"0"_s);
    auto k = std::make_unique<Kivara>();
    QCOMPARE(k->ChatInit(), 0);
    const QString bob = address(13, 3);
    k->rooms().publicRoom().addRow(u"Bob"_s, u"1_0"_s).setDetails(test::PartyRecord(u"Bob"_s, bob));
    auto say = [&](const QString& datagram) { k->session().HandleDatagram(FrameDatagram(datagram), bob); };
    say(BuildPubChat(u"Bob"_s, 200, u"secret plan"_s));
    QVERIFY(k->rooms().publicRoom().transcript.toPlainText().contains(u"secret plan"_s));
    k.reset();
    QVERIFY(!QFileInfo::exists(HistoryFolder()));

    // Turned on, the running control rereading its settings: what is shown is found, whatever the words hold.
    k = std::make_unique<Kivara>();
    QCOMPARE(k->ChatInit(), 0);
    WriteSetting(settings::KeepHistory, u"1"_s);
    k->RefreshSettings();
    k->rooms().publicRoom().addRow(u"Bob"_s, u"1_0"_s).setDetails(test::PartyRecord(u"Bob"_s, bob));
    const QStringList lines = {u"Bob\thello there"_s, u"Bob\tsay \"hi\" to -all* now"_s,
                               u"Bob\tcol:on NEAR(x) AND y"_s,
                               u"[Bob]\thas changed status to 'Stepped Out'."_s, u"Ann\tmy own reply"_s};
    for (const QString& line : lines.mid(0, 3))
        say(BuildPubChat(u"Bob"_s, 200, line.section(u'\t', 1)));
    say(BuildStatus(u"Bob"_s, u"Stepped Out"_s));
    QCOMPARE(k->DataSend(session::mode::PubChat, u"my own reply"_s), 0);
    k.reset(); // the session's end writes what waits; the next one reads it from the file

    k = std::make_unique<Kivara>();
    QCOMPARE(k->ChatInit(), 0);
    {
        frmHistory d(k->session().history());
        QCOMPARE(test::FormFaults(&d), QString());
        auto* box = d.findChild<QLineEdit*>(u"txtSearch"_s);
        auto* found = d.findChild<QTreeWidget*>(u"lstResults"_s);
        auto* around = d.findChild<QTextEdit*>(u"txtContext"_s);
        auto shown = [&] {
            QStringList rows;
            for (int i = 0; i < found->topLevelItemCount(); ++i)
                rows << found->topLevelItem(i)->text(2) + u'\t' + found->topLevelItem(i)->text(3);
            return rows;
        };
        for (const auto& [words, rows] :
             QList<std::pair<QString, QStringList>>{{u"HELLO"_s, {lines[0]}},
                                                    {u"\"hi\""_s, {lines[1]}},
                                                    {u"-all* say"_s, {lines[1]}},
                                                    {u"col:on NEAR(x)"_s, {lines[2]}},
                                                    {u"\" * - : ( ) ^"_s, {}},
                                                    {u"[bob] stepped"_s, {lines[3]}},
                                                    {u"bob"_s, {lines[3], lines[2], lines[1], lines[0]}}}) {
            box->setText(words);
            QCOMPARE(shown(), rows);
        }
        QCOMPARE(found->topLevelItem(0)->text(1), u"Public room"_s);

        // Enter on a line found shows its room's lines around it, the line itself selected.
        box->setText(u"col:on"_s);
        QTest::keyClick(found, Qt::Key_Return);
        QStringList context;
        for (const QString& line : around->toPlainText().split(u'\n'))
            context << line.section(u"  "_s, 1);
        QCOMPARE(context, lines);
        QCOMPARE(around->textCursor().selectedText().section(u"  "_s, 1), lines[2]);
    }

    // The transcript's menu opens the search.
    m_desk.rules(u"form Search History => cmdClose"_s);
    k->FileMenu_Click(12);
    QCOMPARE(lastPrompt(u"kind"_s), u"form"_s);

    // The options dialog on the same computer.
    const QString folder = m_computer->root() + u"/incoming"_s;
    QVERIFY(QDir().mkpath(folder));
    {
        frmOptions d(frmOptions::Mode::Normal, m_ip);
        QCOMPARE(test::FormFaults(&d), QString());
        // Clear History asks first; No (the default) keeps the lines, Yes deletes them.
        auto* clear = d.findChild<QPushButton*>(u"cmdClearHistory"_s);
        clear->click();
        QCOMPARE(m_desk.promptTexts().last(), frmOptions::ClearHistoryQuestion.toString());
        QCOMPARE(k->session().history()->search(u"hello"_s).size(), 1);
        m_desk.rules(u"msgbox Delete every line => Yes"_s);
        clear->click();
        QVERIFY(k->session().history()->search(u"hello"_s).isEmpty());
        // The defaults of a fresh computer that depend on where it is installed.
        QCOMPARE(d.findChild<QLineEdit*>(u"txtSound_0"_s)->text(),
                 m_computer->installDir() + u"trillo.wav"_s);
        QCOMPARE(d.findChild<QLineEdit*>(u"txtFolder"_s)->text(), m_computer->home() + u"/Downloads"_s);
        QCOMPARE(d.findChild<QComboBox*>(u"cboUserName"_s)->currentText(), u"Ann"_s);
        QCOMPARE(d.findChild<QComboBox*>(u"cboUserName"_s)->itemText(1), u"Ann Example"_s);

        for (const auto& [box, text] :
             {std::pair{u"txtProfile_3"_s, u"Springfield, IL"_s},
              std::pair{u"txtEnterMsg"_s, u"  hello all  "_s}, std::pair{u"txtLeaveMsg"_s, u"bye"_s},
              std::pair{u"txtSound_1"_s, u"/s/ping.wav"_s}})
            d.findChild<QLineEdit*>(box)->setText(text);
        for (const auto& [box, checked] : {std::pair{u"chkSound_0"_s, false}, std::pair{u"chkOthers"_s, true},
                                           std::pair{u"chkView_0"_s, false}, std::pair{u"chkView_1"_s, false},
                                           std::pair{u"chkAccept"_s, false}, std::pair{u"chkMyInfo"_s, true},
                                           std::pair{u"chkHistory"_s, false}})
            d.findChild<QCheckBox*>(box)->setChecked(checked);
        d.findChild<QLineEdit*>(u"txtFolder"_s)->setText(folder);
        d.findChild<QComboBox*>(u"cboFontSize"_s)->setCurrentText(u"12"_s);
        d.setColor(0, QColor(0, 128, 0));
        d.setColor(1, QColor(1, 2, 3));
        d.findChild<QRadioButton*>(u"optAutoAdd_2"_s)->setChecked(true);
        // A separator in a profile field is refused and nothing is stored.
        d.findChild<QLineEdit*>(u"txtProfile_5"_s)->setText(u"Sales | Support"_s);
        d.findChild<QPushButton*>(u"cmdOptions_0"_s)->click();
        QCOMPARE(d.result(), int(QDialog::Rejected));
        QCOMPARE(m_desk.prompt->log().last().text, SeparatorRefusalText(u"Comment"_s));
        QCOMPARE(reg(settings::PrivateInfo), u"0"_s);
        d.findChild<QLineEdit*>(u"txtProfile_5"_s)->setText(u"Sales and Support"_s);
        d.findChild<QPushButton*>(u"cmdOptions_0"_s)->click();
        QCOMPARE(d.result(), int(QDialog::Accepted));
        QCOMPARE(d.resultText(), u"SUCCESS"_s);
    }
    using namespace settings;
    const QList<std::pair<SettingSpec, QString>> stored = {
        {City, u"Springfield"_s}, {State, u"IL"_s},
        {PrivateInfo, u"1"_s},    {EnterMsg, u"hello all"_s},
        {LeaveMsg, u"bye"_s},     {UseCallSnd, u"0"_s},
        {UseAttnSnd, u"1"_s},     {AttnFile, u"/s/ping.wav"_s},
        {FontSize, u"12"_s},      {MyColor, QString::number(0x008000)},
        {UseOthers, u"1"_s},      {OthersColor, QString::number(0x030201)},
        {ShowUsers, u"0"_s},      {StatusBar, u"0"_s},
        {AcceptFiles, u"0"_s},    {FileFolder, folder},
        {AutoAdd, u"2"_s},        {KeepHistory, u"0"_s}};
    for (const auto& [spec, value] : stored)
        QCOMPARE(reg(spec), value);

    // The dialog shows what it stored.
    frmOptions again(frmOptions::Mode::Normal, m_ip);
    QCOMPARE(again.findChild<QLineEdit*>(u"txtProfile_3"_s)->text(), u"Springfield, IL"_s);
    QVERIFY(!again.findChild<QLineEdit*>(u"txtSound_0"_s)->isEnabled());
    QCOMPARE(again.color(1), QColor(1, 2, 3));
    QVERIFY(again.findChild<QRadioButton*>(u"optAutoAdd_2"_s)->isChecked());
    // Cancel stores nothing.
    again.findChild<QLineEdit*>(u"txtLeaveMsg"_s)->setText(u"changed"_s);
    again.findChild<QPushButton*>(u"cmdOptions_1"_s)->click();
    QCOMPARE(reg(settings::LeaveMsg), u"bye"_s);

    // The dialog's own controls, then what it refuses to store.
    {
        frmOptions d(frmOptions::Mode::Normal, m_ip);
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        auto* others = d.findChild<QCheckBox*>(u"chkOthers"_s);
        others->setChecked(false);
        QVERIFY(!d.findChild<QWidget*>(u"picColor_1"_s)->isEnabled());
        QVERIFY(!d.findChild<QWidget*>(u"cmdColor_1"_s)->isEnabled());
        QVERIFY(!d.findChild<QWidget*>(u"lblColor_1"_s)->isEnabled());
        others->setChecked(true);
        QVERIFY(d.findChild<QWidget*>(u"cmdColor_1"_s)->isEnabled());

        // The palette: a click picks the cell under the pointer.
        d.findChild<QPushButton*>(u"cmdColor_0"_s)->click();
        QWidget* palette = d.findChild<QWidget*>(u"picPalette"_s);
        QVERIFY(palette);
        QTRY_VERIFY(palette->isVisible());
        QTest::mouseClick(palette, Qt::LeftButton, {}, QPoint(18 * 2 + 5, 5)); // third cell: dark red
        QCOMPARE(d.color(0), QColor(0x80, 0, 0));
        QCOMPARE(d.findChild<QWidget*>(u"picColor_0"_s)->property("colorValue").toLongLong(), 0x000080);

        // A sound is chosen and played once as a preview.
        const qsizetype played = m_desk.sound->events().size(); // the chat's sounds so far
        m_desk.rules(u"open Select Sound File => /snd/bell.wav"_s);
        d.findChild<QPushButton*>(u"cmdSound_1"_s)->click();
        QCOMPARE(d.findChild<QLineEdit*>(u"txtSound_1"_s)->text(), u"/snd/bell.wav"_s);
        QCOMPARE(m_desk.sound->events().mid(played), QStringList{u"play /snd/bell.wav"_s});
        m_desk.rules(QString()); // cancelled: nothing changes, nothing plays
        d.findChild<QPushButton*>(u"cmdSound_1"_s)->click();
        QCOMPARE(d.findChild<QLineEdit*>(u"txtSound_1"_s)->text(), u"/snd/bell.wav"_s);
        QCOMPARE(m_desk.sound->events().size(), played + 1);

        // The folder chooser.
        d.findChild<QCheckBox*>(u"chkAccept"_s)->setChecked(true);
        m_desk.rules(u"folder Save Kivara file transfers to => /data/in"_s);
        d.findChild<QPushButton*>(u"cmdFolder"_s)->click();
        QCOMPARE(d.findChild<QLineEdit*>(u"txtFolder"_s)->text(), u"/data/in"_s);

        // Ctrl+Tab goes round the tabs.
        auto* tabs = d.findChild<QTabWidget*>(u"tbsOptions"_s);
        QCOMPARE(tabs->currentIndex(), 0);
        d.activateWindow();
        for (int expected : {1, 2, 3, 0}) {
            QTest::keyClick(d.findChild<QWidget*>(u"txtProfile_0"_s), Qt::Key_Tab, Qt::ControlModifier);
            QCOMPARE(tabs->currentIndex(), expected);
        }

        // No chat name: the message, the dialog stays, nothing is stored.
        m_desk.rules(QString());
        d.findChild<QComboBox*>(u"cboUserName"_s)->setCurrentText(QString());
        d.findChild<QLineEdit*>(u"txtLeaveMsg"_s)->setText(u"later"_s);
        d.findChild<QPushButton*>(u"cmdOptions_0"_s)->click();
        QVERIFY(d.isVisible());
        QCOMPARE(m_desk.promptTexts(), QStringList{u"You must supply a Chat name."_s});
        QCOMPARE(reg(settings::LeaveMsg), u"bye"_s);

        // Auto-accept with no folder: the message, the dialog stays, the flag is not stored.
        m_desk.rules(QString());
        d.findChild<QComboBox*>(u"cboUserName"_s)->setCurrentText(u"Ann"_s);
        d.findChild<QLineEdit*>(u"txtFolder"_s)->setText(u"  "_s);
        d.findChild<QPushButton*>(u"cmdOptions_0"_s)->click();
        QVERIFY(d.isVisible());
        QCOMPARE(m_desk.promptTexts(),
                 QStringList{u"You must specify a folder name if you choose to automatically save "
                             u"file transfers."_s});
        QCOMPARE(reg(settings::AcceptFiles), u"0"_s);
        QCOMPARE(reg(settings::LeaveMsg), u"later"_s); // the steps before it were taken
        // Unchecked, the empty box is accepted; a city and state without a comma end in the state.
        d.findChild<QCheckBox*>(u"chkAccept"_s)->setChecked(false);
        d.findChild<QLineEdit*>(u"txtProfile_3"_s)->setText(u"Sioux Falls SD"_s);
        d.findChild<QPushButton*>(u"cmdOptions_0"_s)->click();
        QVERIFY(!d.isVisible());
        QCOMPARE(reg(settings::City) + u'|' + reg(settings::State), u"Sioux Falls|SD"_s);
    }
    {
        // A new folder for the contacts is reported; a file folder that does not exist is asked
        // about, and created on Yes.
        const QString missing = m_computer->root() + u"/new/files"_s;
        m_desk.rules(u"msgbox does not exist => Yes"_s);
        frmOptions d(frmOptions::Mode::Normal, m_ip);
        d.findChild<QComboBox*>(u"cboFolder"_s)->setCurrentText(u"Friends"_s);
        d.findChild<QCheckBox*>(u"chkAccept"_s)->setChecked(true);
        d.findChild<QLineEdit*>(u"txtFolder"_s)->setText(missing);
        d.findChild<QPushButton*>(u"cmdOptions_0"_s)->click();
        QCOMPARE(m_desk.promptTexts(),
                 (QStringList{u"The default Outlook folder for your Kivara contacts is now 'Friends'."_s,
                              u"The folder '"_s + missing +
                                  u"' does not exist.\r\rDo you want to create it ?"_s}));
        QCOMPARE(reg(settings::Folder), u"Friends"_s);
        QVERIFY(QFileInfo(missing).isDir());
        QCOMPARE(reg(settings::AcceptFiles), u"1"_s);
        QCOMPARE(reg(settings::FileFolder), missing);
    }
    {
        // Standard contacts in the folder: asked, converted on Yes, and reported.
        StoreAccess access(Deliverable::Quillon);
        QCOMPARE(access.OpenFolder(u"Kivara"_s), 0);
        const outlook::Item plain = access.currentFolder().Items().Add(u"IPM.Contact"_s);
        QVERIFY(plain);
        QVERIFY(plain.Save());
        QCOMPARE(access.CountStandardContacts(u"Kivara"_s), 1);
        m_desk.rules(u"msgbox Standard Outlook contacts => Yes"_s);
        frmOptions d(frmOptions::Mode::Normal, m_ip);
        d.findChild<QComboBox*>(u"cboFolder"_s)->setCurrentText(u"'Kivara' folder"_s);
        d.findChild<QPushButton*>(u"cmdOptions_0"_s)->click();
        QCOMPARE(m_desk.promptTexts(),
                 (QStringList{u"Standard Outlook contacts were found in this folder.\r\rWould you "
                              u"like to update these contacts to Kivara contacts ?"_s,
                              u"The 'Kivara' contacts were updated successfully."_s,
                              u"The default Outlook folder for your Kivara contacts is now "
                              u"'Kivara'."_s}));
        QCOMPARE(access.CountStandardContacts(u"Kivara"_s), 0);
        QCOMPARE(reg(settings::Folder), u"Kivara"_s);
    }
}

KV_TEST_MAIN(TestTranscript)
#include "tst_transcript.moc"
