#include "Platform/Events.h"
#include "Platform/QtPrompt.h"
#include "Platform/ScriptedPrompt.h"
#include "testing/SimComputer.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;
using namespace kv::platform;

namespace {

MsgBoxRequest Box(const QString& text, MsgButtons buttons, int defaultButton = 1)
{
    MsgBoxRequest r;
    r.text = text;
    r.buttons = buttons;
    r.icon = MsgIcon::Question;
    r.defaultButton = defaultButton;
    return r;
}

FileDialogRequest Dialog(const QString& title)
{
    FileDialogRequest r;
    r.title = title;
    r.filter = u"Sound Files (*.wav)|*.wav|All Files (*.*)|*.*"_s;
    return r;
}

QList<QJsonObject> ReadLog(const QString& path)
{
    QList<QJsonObject> entries;
    for (const QByteArray& line : kv::test::FileBytes(path).split('\n'))
        if (!line.isEmpty()) entries << QJsonDocument::fromJson(line).object();
    return entries;
}

// A modal form in the shape of the product's: named controls, OK and Cancel,
// and the prompt service told when it is shown.
class TestForm : public QDialog {
public:
    TestForm()
    {
        const auto named = [](auto* widget, const QString& name) {
            widget->setObjectName(name);
            return widget;
        };
        setObjectName(u"frmEntry"_s);
        setWindowTitle(u"Bob entering room..."_s);
        for (int i = 0; i < 3; ++i)
            opt[i] = named(new QRadioButton(this), u"optEnter_"_s + QString::number(i));
        opt[0]->setChecked(true);
        chk = named(new QCheckBox(this), u"chkAttach"_s);
        chk->setChecked(true);
        txt = named(new QLineEdit(this), u"txtSubject"_s);
        cbo = named(new QComboBox(this), u"cboFolder"_s);
        cbo->addItems({u"'Kivara' folder"_s, u"'Contacts' folder"_s});
        spn = named(new QSpinBox(this), u"spnCopies"_s);
        spn->setRange(1, 9);
        auto* ok = named(new QPushButton(this), u"cmdEnter_0"_s);
        auto* cancel = named(new QPushButton(this), u"cmdEnter_1"_s);
        connect(ok, &QPushButton::clicked, this, &QDialog::accept);
        connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
        connect(opt[2], &QRadioButton::clicked, this, [this] { ++privateClicks; });
    }

    QRadioButton* opt[3];
    QCheckBox* chk;
    QLineEdit* txt;
    QComboBox* cbo;
    QSpinBox* spn;
    int privateClicks = 0;

protected:
    void showEvent(QShowEvent* event) override
    {
        QDialog::showEvent(event);
        Prompt::current().formShown(this);
    }
};

} // namespace

class TestPrompt : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void cleanup() { Prompt::install(nullptr); }
    void rulesAndMessageBoxAnswers();
    void dialogAndPrintAnswers();
    void logFormatAndQtTexts();
    void environmentChoosesService();
    void formsAnsweredUnmatchedOrDeleted();
};

void TestPrompt::rulesAndMessageBoxAnswers()
{
    const PromptRules parsed =
        PromptRules::parse(u"# answers for the uninstaller\n"
                           "\n"
                           "msgbox Close now => Yes\r\n"
                           "  # indented comment\n"
                           "msgbox ([ => Yes\n"
                           "beep x => y\n"
                           "msgbox no arrow here\n"
                           "input name => a => b\n"
                           "save Transcript =>\n"
                           "form entering room... => optEnter_2=checked; cmdEnter_0\n"_s);
    QCOMPARE(parsed.errors.size(), 3);
    QVERIFY(parsed.errors[0].startsWith(u"line 5: bad regex"_s));
    QVERIFY(parsed.errors[1].startsWith(u"line 6: unknown kind"_s));
    QVERIFY(parsed.errors[2].startsWith(u"line 7:"_s));
    QCOMPARE(parsed.rules.size(), 4);
    QCOMPARE(parsed.rules[0].kind, u"msgbox"_s);
    QCOMPARE(parsed.rules[0].pattern.pattern(), u"Close now"_s);
    QCOMPARE(parsed.rules[0].answer, u"Yes"_s); // the CR of a CR LF file is not part of it
    QCOMPARE(parsed.rules[1].answer, u"a => b"_s);
    QCOMPARE(parsed.rules[2].answer, QString());
    QCOMPARE(parsed.rules[3].pattern.pattern(), u"entering room..."_s);
    QCOMPARE(parsed.rules[3].answer, u"optEnter_2=checked; cmdEnter_0"_s);

    // A prompt still works with the bad lines dropped.
    ScriptedPrompt prompt(u"msgbox ([ => No\nmsgbox . => Yes\n"_s);
    QCOMPARE(prompt.ruleErrors().size(), 1);
    QCOMPARE(prompt.msgBox(Box(u"Sure ?"_s, MsgButtons::YesNo)), MsgResult::Yes);

    // A rules file is read again when it changes.
    QTemporaryDir dir;
    const QString rules = dir.filePath(u"rules"_s);
    const auto write = [&](const QByteArray& content) { QVERIFY(kv::test::WriteBytes(rules, content)); };
    write("msgbox . => No\n");
    auto fromFile = ScriptedPrompt::fromFile(rules, QString());
    QCOMPARE(fromFile->msgBox(Box(u"Q"_s, MsgButtons::YesNo)), MsgResult::No);
    write("msgbox . => Yes\n# changed\n");
    QCOMPARE(fromFile->msgBox(Box(u"Q"_s, MsgButtons::YesNo)), MsgResult::Yes);
    QFile::remove(rules); // a vanished rules file leaves every prompt unmatched
    QCOMPARE(fromFile->msgBox(Box(u"Q"_s, MsgButtons::YesNo, 2)), MsgResult::No);
    QVERIFY(fromFile->log().last().unmatched);

    // Message boxes.
    ScriptedPrompt boxes(u"msgbox already exists => No\n"
                         "msgbox Close now => Retry\n"
                         "msgbox \\?$ => yes\n"
                         "msgbox ^Network => Ignore\n"
                         "msgbox Kivara for Microsoft => OK\n"_s);
    // The first matching rule answers; rules do not wear out.
    QCOMPARE(boxes.msgBox(Box(u"The file 'a' already exists.\r\rOverwrite ?"_s, MsgButtons::YesNo)),
             MsgResult::No);
    QCOMPARE(boxes.msgBox(Box(u"The file 'b' already exists.\r\rOverwrite ?"_s, MsgButtons::YesNo)),
             MsgResult::No);
    // An answer the box has no button for does not fit; a later rule may (case does not matter).
    QCOMPARE(boxes.msgBox(Box(u"Close now ?"_s, MsgButtons::YesNoCancel)), MsgResult::Yes);
    QCOMPARE(boxes.msgBox(Box(u"Network down"_s, MsgButtons::AbortRetryIgnore)), MsgResult::Ignore);
    // No rule fits: the default button, logged as unmatched.
    QCOMPARE(boxes.msgBox(Box(u"Network down"_s, MsgButtons::YesNo, 2)), MsgResult::No);
    QCOMPARE(boxes.msgBox(Box(u"Closing"_s, MsgButtons::OKCancel, 2)), MsgResult::Cancel);
    QCOMPARE(boxes.msgBox(Box(u"Closing"_s, MsgButtons::RetryCancel, 9)), MsgResult::Cancel); // clamped
    // The regex is searched in the text, not the title.
    QCOMPARE(boxes.msgBox(Box(u"Done."_s, MsgButtons::OKCancel, 2)), MsgResult::Cancel);

    const QList<PromptLogEntry>& log = boxes.log();
    QCOMPARE(log.size(), 8);
    QCOMPARE(log[2].answer, u"Yes"_s);
    QVERIFY(!log[3].unmatched);
    QVERIFY(log[4].unmatched);
    QCOMPARE((QStringList{log[4].answer, log[4].buttons, log[4].icon, log[4].title}),
             (QStringList{u"No"_s, u"YesNo"_s, u"Question"_s, u"Kivara for Microsoft Outlook"_s}));
    QVERIFY(log[7].unmatched);
}

void TestPrompt::dialogAndPrintAnswers()
{
    ScriptedPrompt prompt(u"input Chat name => Alice\n"
                          "input Subject =>\n"
                          "open ^Select file => /files/a.txt| /files/b c.txt ||\n"
                          "open Sound => /snd/ring.wav\n"
                          "save Transcript =>\n"
                          "save as => /files/out.bin\n"
                          "folder transfers => /files/in\n"
                          "print Transcript => OK copies=0\n"
                          "print Transcript => OK copies=2 selection\n"
                          "print Transcript => OK\n"
                          "print Setup => Cancel\n"
                          "print Other => OK sideways\n"_s);
    QCOMPARE(prompt.inputBox(u"Enter new Chat name:"_s, u"T"_s, u"Old"_s), u"Alice"_s);
    QCOMPARE(prompt.inputBox(u"Subject:"_s, u"T"_s, u"Old"_s), QString()); // empty answer cancels
    QCOMPARE(prompt.inputBox(u"Other:"_s, u"T"_s, u"Old"_s), u"Old"_s);    // unmatched: OK with the default
    QVERIFY(prompt.log().last().unmatched);

    QCOMPARE(prompt.openFiles(Dialog(u"Select file to send..."_s)),
             QStringList({u"/files/a.txt"_s, u"/files/b c.txt"_s}));
    // Dialogs are matched by title.
    QCOMPARE(prompt.openFile(Dialog(u"Select Sound File..."_s)), u"/snd/ring.wav"_s);
    QCOMPARE(prompt.saveFile(Dialog(u"Save Kivara Transcript..."_s)), QString());
    QVERIFY(!prompt.log().last().unmatched);
    QCOMPARE(prompt.saveFile(Dialog(u"Save file as..."_s)), u"/files/out.bin"_s);
    QCOMPARE(prompt.saveFile(Dialog(u"Export"_s)), QString());
    QVERIFY(prompt.log().last().unmatched);
    QCOMPARE(prompt.chooseFolder(u"Save Kivara file transfers to..."_s, u"/home"_s), u"/files/in"_s);
    QCOMPARE(prompt.chooseFolder(u"Pick"_s, u"/home"_s), QString());
    QCOMPARE(prompt.openFiles(Dialog(u"Nothing"_s)), QStringList());
    QCOMPARE(prompt.log().last().kind, u"open"_s);
    QVERIFY(prompt.log().last().unmatched);

    PrintRequest request;
    request.title = u"Print Kivara Transcript..."_s;
    request.selectionAvailable = true;
    PrintAnswer answer = prompt.print(request);
    QCOMPARE((std::tuple{answer.accepted, answer.copies, answer.selectionOnly}), (std::tuple{true, 2, true}));

    // Without a selection the dialog cannot print one: the next rule fits.
    request.selectionAvailable = false;
    answer = prompt.print(request);
    QCOMPARE((std::tuple{answer.accepted, answer.copies, answer.selectionOnly}),
             (std::tuple{true, 1, false}));
    QCOMPARE(prompt.log().last().answer, u"OK"_s);

    request.title = u"Print Setup"_s;
    QVERIFY(!prompt.print(request).accepted);
    QVERIFY(!prompt.log().last().unmatched);
    request.title = u"Print Other"_s;
    QVERIFY(!prompt.print(request).accepted);
    QVERIFY(prompt.log().last().unmatched);
    QCOMPARE(prompt.log().last().answer, u"Cancel"_s);
}

void TestPrompt::logFormatAndQtTexts()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(u"prompts.log"_s);
    const QString text = u"The folder 'C:\\x' does not exist.\r\rDo you want to create it ?\r\n\"quoted\""_s;
    {
        ScriptedPrompt prompt(u"msgbox does not exist => Yes\n"_s, path);
        MsgBoxRequest r = Box(text, MsgButtons::YesNo);
        r.icon = MsgIcon::Exclamation;
        prompt.msgBox(r);
        prompt.msgBox(Box(u"Other"_s, MsgButtons::OK));
        prompt.openFile(Dialog(u"Select Sound File..."_s));
        // Each line is on disk as soon as the prompt returns.
        QCOMPARE(ReadLog(path).size(), 3);
    }
    const QList<QByteArray> lines = kv::test::FileBytes(path).split('\n');
    QCOMPARE(lines.size(), 4); // three lines and the empty rest after the last break
    QVERIFY(lines[0].contains("\\r\\rDo you"));
    QVERIFY(!lines[0].contains('\r'));

    const QList<QJsonObject> log = ReadLog(path);
    QCOMPARE(log[0], (QJsonObject{{u"kind"_s, u"msgbox"_s},
                                  {u"title"_s, u"Kivara for Microsoft Outlook"_s},
                                  {u"text"_s, text},
                                  {u"buttons"_s, u"YesNo"_s},
                                  {u"icon"_s, u"Exclamation"_s},
                                  {u"answer"_s, u"Yes"_s}}));
    QCOMPARE(log[1].value(u"answer"_s).toString(), u"OK"_s);
    QCOMPARE(log[2].value(u"kind"_s).toString(), u"open"_s);
    QCOMPARE(log[2].value(u"title"_s).toString(), u"Select Sound File..."_s);
    QCOMPARE(log[2].value(u"filter"_s).toString(), u"Sound Files (*.wav)|*.wav|All Files (*.*)|*.*"_s);
    for (int i : {1, 2})
        QCOMPARE(log[i].value(u"unmatched"_s), QJsonValue(true));

    const std::pair<QString, QStringList> rows[] = {
        {u"Sound Files (*.wav)|*.wav|All Files (*.*)|*.*"_s, {u"Sound Files (*.wav)"_s, u"All Files (*)"_s}},
        {u"All Files (*.*)|*.*|Kivara Peerslip (*.kvp)|*.kvp"_s,
         {u"All Files (*)"_s, u"Kivara Peerslip (*.kvp)"_s}},
        {u"Pictures|*.bmp;*.gif"_s, {u"Pictures (*.bmp *.gif)"_s}},
        {u"Text (txt)|*.txt|Dangling"_s, {u"Text (*.txt)"_s}},
        {u"|*.rtf"_s, {u"*.rtf (*.rtf)"_s}},
        {QString(), {}},
        {u"Empty|"_s, {}}};
    for (const auto& [filter, names] : rows)
        QCOMPARE(QtNameFilters(filter), names);
    QCOMPARE(DisplayText(u"Your Kivara Profile was not found.\r\rYou must create a profile."_s),
             u"Your Kivara Profile was not found.\n\nYou must create a profile."_s);
    QCOMPARE(DisplayText(u"a\r\n\r\nb\rc"_s), u"a\n\nb\nc"_s);
}

void TestPrompt::environmentChoosesService()
{
    // Rules and log named by the environment are used across processes by the multi-process suites.
    qunsetenv("KIVARA_PROMPTS");
    qunsetenv("KIVARA_PROMPT_LOG");

    // Installed services win over the environment until removed.
    auto scripted = std::make_unique<ScriptedPrompt>(u"msgbox . => OK"_s);
    ScriptedPrompt* installed = scripted.get();
    Prompt::install(std::move(scripted));
    QCOMPARE(MsgBox(u"Hello"_s), MsgResult::OK);
    QCOMPARE(installed->log().size(), 1);
    QCOMPARE(installed->log()[0].title, u"Kivara for Microsoft Outlook"_s);
    QCOMPARE(installed->log()[0].icon, u"None"_s);

    // A process without a desktop (no UseDesktopPrompts) never waits on a dialog:
    // each question takes its default button, kept within the buttons it has.
    Prompt::install(nullptr);
    Prompt::setDefaultFactory(nullptr);
    const struct {
        MsgButtons buttons;
        int defaultButton;
        MsgResult answer;
    } headless[] = {{MsgButtons::OK, 1, MsgResult::OK},           {MsgButtons::YesNoCancel, 3, MsgResult::Cancel},
                    {MsgButtons::YesNo, 2, MsgResult::No},        {MsgButtons::AbortRetryIgnore, 2, MsgResult::Retry},
                    {MsgButtons::RetryCancel, 5, MsgResult::Cancel}, {MsgButtons::OKCancel, 0, MsgResult::OK}};
    for (const auto& row : headless)
        QCOMPARE(Prompt::current().msgBox(Box(u"Q"_s, row.buttons, row.defaultButton)), row.answer);
    QCOMPARE(Prompt::current().inputBox(u"Name?"_s, QString(), u"Ann"_s), QString());
    QVERIFY(!Prompt::current().print({}).accepted);
    Prompt::install(nullptr);
    UseDesktopPrompts();
    QVERIFY(dynamic_cast<QtPrompt*>(Prompt::createDefault().get()));
}

void TestPrompt::formsAnsweredUnmatchedOrDeleted()
{
    Prompt::install(std::make_unique<ScriptedPrompt>(
        u"form entering room => nosuch=checked; cmdEnter_0\n" // no such control: does not fit
        "form entering room => spnCopies=12; cmdEnter_0\n"    // out of range: does not fit
        "form entering room => optEnter_2=checked; chkAttach=unchecked; txtSubject=Hello there; "
        "cboFolder='Contacts' folder; spnCopies=3; cmdEnter_0\n"_s));
    auto* prompt = static_cast<ScriptedPrompt*>(&Prompt::current());
    TestForm form;
    QTimer::singleShot(30000, &form, [&form] { form.done(-1); }); // only if the answer never comes
    QCOMPARE(form.exec(), int(QDialog::Accepted));
    QVERIFY(form.opt[2]->isChecked());
    QVERIFY(!form.opt[0]->isChecked());
    QCOMPARE(form.privateClicks, 1); // set as a click, so the form's handlers ran
    QVERIFY(!form.chk->isChecked());
    QCOMPARE(form.txt->text(), u"Hello there"_s);
    QCOMPARE(form.cbo->currentIndex(), 1);
    QCOMPARE(form.spn->value(), 3);
    QCOMPARE(prompt->log().size(), 1);
    QCOMPARE(prompt->log()[0].kind, u"form"_s);
    QCOMPARE(prompt->log()[0].title, u"Bob entering room..."_s);
    QVERIFY(!prompt->log()[0].unmatched);

    // Index as combo value, the other button, a second showing of a new form.
    Prompt::install(
        std::make_unique<ScriptedPrompt>(u"form room => cboFolder=1; optEnter_1=1; cmdEnter_1\n"_s));
    TestForm again;
    QCOMPARE(again.exec(), int(QDialog::Rejected));
    QVERIFY(again.opt[1]->isChecked());
    QCOMPARE(again.cbo->currentIndex(), 1);

    // No rule fits: the form stays as it is, logged as unmatched.
    Prompt::install(
        std::make_unique<ScriptedPrompt>(u"form Options => cmdEnter_0\n"
                                         "form entering => optEnter_0=unchecked; cmdEnter_0\n"_s));
    prompt = static_cast<ScriptedPrompt*>(&Prompt::current());
    QPointer<TestForm> open = new TestForm;
    open->show();
    DoEvents();
    DoEvents();
    QVERIFY(open->isVisible() && open->result() == 0 && open->opt[0]->isChecked());
    QCOMPARE(prompt->log().size(), 1);
    QVERIFY(prompt->log()[0].unmatched && prompt->log()[0].answer.isEmpty());
    delete open;

    // A form deleted before its answer: the queued answer must find nothing to press.
    Prompt::install(std::make_unique<ScriptedPrompt>(u"form . => txtSubject=x; cmdEnter_0\n"_s));
    open = new TestForm;
    open->show();
    delete open;
    DoEvents();
    DoEvents();
    QVERIFY(open.isNull());
}

KV_TEST_MAIN(TestPrompt)
#include "tst_prompt.moc"
