#include "Platform/ScriptedPrompt.h"

#include "Platform/Log.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDateTime>
#include <QDoubleSpinBox>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QSpinBox>
#include <QTextEdit>
#include <QTimer>
#include <QWidget>

using namespace Qt::StringLiterals;

namespace kv::platform {

namespace {

const QStringList Kinds = {u"msgbox"_s, u"input"_s, u"open"_s, u"save"_s, u"folder"_s, u"print"_s, u"form"_s};
const QString DialogButtons = u"OKCancel"_s;
constexpr int MaxCopies = 9999;

QByteArray JsonString(const QString& s)
{
    const QByteArray array = QJsonDocument(QJsonArray{s}).toJson(QJsonDocument::Compact);
    return array.mid(1, array.size() - 2); // drop the brackets
}

QList<MsgResult> ResultsOf(MsgButtons buttons)
{
    using R = MsgResult;
    switch (buttons) {
    case MsgButtons::OK:
        return {R::OK};
    case MsgButtons::OKCancel:
        return {R::OK, R::Cancel};
    case MsgButtons::AbortRetryIgnore:
        return {R::Abort, R::Retry, R::Ignore};
    case MsgButtons::YesNoCancel:
        return {R::Yes, R::No, R::Cancel};
    case MsgButtons::YesNo:
        return {R::Yes, R::No};
    case MsgButtons::RetryCancel:
        return {R::Retry, R::Cancel};
    }
    return {R::OK};
}

// --- forms -------------------------------------------------------------------

struct FormAnswer {
    QList<std::pair<QString, QString>> settings;
    QString button; // empty: only set controls
};

FormAnswer ParseFormAnswer(const QString& answer)
{
    FormAnswer parsed;
    for (const QString& rawPart : answer.split(u';', Qt::SkipEmptyParts)) {
        const QString part = rawPart.trimmed();
        if (part.isEmpty()) continue;
        const qsizetype eq = part.indexOf(u'=');
        if (eq < 0)
            parsed.button = part; // the last bare name is the button
        else
            parsed.settings.append({part.left(eq).trimmed(), part.mid(eq + 1).trimmed()});
    }
    return parsed;
}

// Sets one control, or with apply false only checks that it could. Returns why not.
QString SetControl(QWidget* form, const QString& name, const QString& value, bool apply)
{
    QWidget* w = form->findChild<QWidget*>(name);
    if (!w) return u"no control "_s + name;
    if (auto* b = qobject_cast<QAbstractButton*>(w)) {
        const QString v = value.toLower();
        bool want = false;
        if (v == u"checked"_s || v == u"true"_s || v == u"1"_s)
            want = true;
        else if (v != u"unchecked"_s && v != u"false"_s && v != u"0"_s)
            return name + u" takes checked or unchecked"_s;
        if (!b->isCheckable()) return name + u" cannot be checked"_s;
        if (b->autoExclusive() && !want && b->isChecked())
            return name + u" is unchecked by checking another option"_s;
        // A click, as a person's, so the form's click handlers run.
        if (apply && b->isChecked() != want) b->click();
        return {};
    }
    if (auto* e = qobject_cast<QLineEdit*>(w)) {
        if (apply) e->setText(value);
        return {};
    }
    if (auto* e = qobject_cast<QTextEdit*>(w)) {
        if (apply) e->setPlainText(value);
        return {};
    }
    if (auto* e = qobject_cast<QPlainTextEdit*>(w)) {
        if (apply) e->setPlainText(value);
        return {};
    }
    if (auto* c = qobject_cast<QComboBox*>(w)) {
        bool isIndex = false;
        int index = value.toInt(&isIndex);
        if (!isIndex || index < 0 || index >= c->count()) index = c->findText(value);
        if (index < 0 && !c->isEditable()) return name + u" has no item "_s + value;
        if (apply) {
            if (index >= 0)
                c->setCurrentIndex(index);
            else
                c->setEditText(value);
        }
        return {};
    }
    if (auto* s = qobject_cast<QSpinBox*>(w)) {
        bool ok = false;
        const int n = value.toInt(&ok);
        if (!ok || n < s->minimum() || n > s->maximum())
            return name + u" takes a number from "_s + QString::number(s->minimum()) + u" to "_s +
                   QString::number(s->maximum());
        if (apply) s->setValue(n);
        return {};
    }
    if (auto* s = qobject_cast<QDoubleSpinBox*>(w)) {
        bool ok = false;
        const double n = value.toDouble(&ok);
        if (!ok || n < s->minimum() || n > s->maximum()) return name + u" takes a number in its range"_s;
        if (apply) s->setValue(n);
        return {};
    }
    return name + u" cannot be set"_s;
}

QString ApplyFormAnswer(QWidget* form, const FormAnswer& answer, bool apply)
{
    for (const auto& [name, value] : answer.settings) {
        const QString error = SetControl(form, name, value, apply);
        if (!error.isEmpty()) return error;
    }
    if (!answer.button.isEmpty() && !form->findChild<QAbstractButton*>(answer.button))
        return u"no button "_s + answer.button;
    return {};
}

// --- print -------------------------------------------------------------------

bool ParsePrintAnswer(const QString& answer, const PrintRequest& request, PrintAnswer& out)
{
    const QStringList tokens = answer.split(u' ', Qt::SkipEmptyParts);
    if (tokens.isEmpty()) return false;
    PrintAnswer parsed;
    if (tokens[0].compare(u"OK"_s, Qt::CaseInsensitive) == 0)
        parsed.accepted = true;
    else if (tokens[0].compare(u"Cancel"_s, Qt::CaseInsensitive) != 0)
        return false;
    for (qsizetype i = 1; i < tokens.size(); ++i) {
        const QString t = tokens[i].toLower();
        if (t.startsWith(u"copies="_s)) {
            bool ok = false;
            parsed.copies = t.mid(7).toInt(&ok);
            if (!ok || parsed.copies < 1 || parsed.copies > MaxCopies) return false;
        } else if (t == u"selection"_s && request.selectionAvailable) {
            parsed.selectionOnly = true;
        } else {
            return false;
        }
    }
    if (!parsed.accepted) parsed = PrintAnswer{};
    out = parsed;
    return true;
}

} // namespace

// --- names -------------------------------------------------------------------

QString ButtonsName(MsgButtons buttons)
{
    switch (buttons) {
    case MsgButtons::OK:
        return u"OK"_s;
    case MsgButtons::OKCancel:
        return u"OKCancel"_s;
    case MsgButtons::AbortRetryIgnore:
        return u"AbortRetryIgnore"_s;
    case MsgButtons::YesNoCancel:
        return u"YesNoCancel"_s;
    case MsgButtons::YesNo:
        return u"YesNo"_s;
    case MsgButtons::RetryCancel:
        return u"RetryCancel"_s;
    }
    return {};
}

QString IconName(MsgIcon icon)
{
    switch (icon) {
    case MsgIcon::None:
        return u"None"_s;
    case MsgIcon::Critical:
        return u"Critical"_s;
    case MsgIcon::Question:
        return u"Question"_s;
    case MsgIcon::Exclamation:
        return u"Exclamation"_s;
    case MsgIcon::Information:
        return u"Information"_s;
    }
    return {};
}

QString ResultName(MsgResult result)
{
    switch (result) {
    case MsgResult::OK:
        return u"OK"_s;
    case MsgResult::Cancel:
        return u"Cancel"_s;
    case MsgResult::Abort:
        return u"Abort"_s;
    case MsgResult::Retry:
        return u"Retry"_s;
    case MsgResult::Ignore:
        return u"Ignore"_s;
    case MsgResult::Yes:
        return u"Yes"_s;
    case MsgResult::No:
        return u"No"_s;
    }
    return {};
}

QByteArray PromptLogEntry::toJson() const
{
    QByteArray line = "{\"kind\":" + JsonString(kind) + ",\"title\":" + JsonString(title) +
                      ",\"text\":" + JsonString(text) + ",\"buttons\":" + JsonString(buttons) +
                      ",\"icon\":" + JsonString(icon) + ",\"answer\":" + JsonString(answer);
    if (unmatched) line += ",\"unmatched\":true";
    for (const auto& [key, value] : extra)
        line += ',' + JsonString(key) + ':' + JsonString(value);
    if (!error.isEmpty()) line += ",\"error\":" + JsonString(error);
    return line + '}';
}

// --- rules -------------------------------------------------------------------

PromptRules PromptRules::parse(const QString& text)
{
    PromptRules result;
    const QStringList lines = text.split(u'\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString line = lines[i].trimmed();
        if (line.isEmpty() || line.startsWith(u'#')) continue;
        const QString where = u"line "_s + QString::number(i + 1) + u": "_s;
        const qsizetype kindEnd = line.indexOf(QRegularExpression(u"\\s"_s));
        const QString kind = kindEnd < 0 ? line : line.left(kindEnd);
        if (!Kinds.contains(kind)) {
            result.errors << where + u"unknown kind "_s + kind;
            continue;
        }
        // "=>" after white space separates the regex from the answer; the answer may be empty.
        const QString rest = kindEnd < 0 ? QString() : line.mid(kindEnd);
        const QRegularExpressionMatch arrow = QRegularExpression(u"\\s=>(\\s|$)"_s).match(rest);
        if (!arrow.hasMatch()) {
            result.errors << where + u"no \"=>\""_s;
            continue;
        }
        PromptRule rule;
        rule.kind = kind;
        rule.pattern.setPattern(rest.left(arrow.capturedStart()).trimmed());
        rule.answer = rest.mid(arrow.capturedEnd()).trimmed();
        if (!rule.pattern.isValid()) {
            result.errors << where + u"bad regex: "_s + rule.pattern.errorString();
            continue;
        }
        result.rules << rule;
    }
    return result;
}

// --- the service -------------------------------------------------------------

ScriptedPrompt::ScriptedPrompt(const QString& rules, const QString& logFile)
    : m_rules(PromptRules::parse(rules)), m_logFile(logFile)
{
    for (const QString& e : m_rules.errors)
        qCWarning(lcDesktop, "prompt rules: %s", qPrintable(e));
}

std::unique_ptr<ScriptedPrompt> ScriptedPrompt::fromFile(const QString& rulesFile, const QString& logFile)
{
    auto prompt = std::make_unique<ScriptedPrompt>(QString(), logFile);
    prompt->m_rulesFile = rulesFile;
    prompt->reloadIfChanged();
    return prompt;
}

void ScriptedPrompt::reloadIfChanged()
{
    if (m_rulesFile.isEmpty()) return;
    const QFileInfo info(m_rulesFile);
    const QByteArray stamp = QByteArray::number(info.lastModified().toMSecsSinceEpoch()) + '/' +
                             QByteArray::number(info.size()) + '/' + QByteArray::number(info.exists());
    if (stamp == m_rulesStamp) return;
    m_rulesStamp = stamp;
    QFile file(m_rulesFile);
    if (!file.open(QIODevice::ReadOnly)) {
        qCWarning(lcDesktop, "prompt rules: cannot read %s", qPrintable(m_rulesFile));
        m_rules = {};
        return;
    }
    m_rules = PromptRules::parse(QString::fromUtf8(file.readAll()));
    for (const QString& e : m_rules.errors)
        qCWarning(lcDesktop, "prompt rules %s: %s", qPrintable(m_rulesFile), qPrintable(e));
}

template <typename Fits>
const PromptRule* ScriptedPrompt::find(const QString& kind, const QString& subject, Fits fits)
{
    reloadIfChanged();
    for (const PromptRule& rule : std::as_const(m_rules.rules)) {
        if (rule.kind == kind && rule.pattern.match(subject).hasMatch() && fits(rule.answer)) return &rule;
    }
    return nullptr;
}

void ScriptedPrompt::record(const PromptLogEntry& entry)
{
    m_log << entry;
    if (m_logFile.isEmpty()) return;
    // Opened per line and written in one call: other processes read the file while this one runs.
    QFile file(m_logFile);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        qCWarning(lcDesktop, "prompt log: cannot write %s", qPrintable(m_logFile));
        return;
    }
    file.write(entry.toJson() + '\n');
}

MsgResult ScriptedPrompt::msgBox(const MsgBoxRequest& request)
{
    const QList<MsgResult> buttons = ResultsOf(request.buttons);
    MsgResult result = buttons[qBound(1, request.defaultButton, int(buttons.size())) - 1];
    const PromptRule* rule = find(u"msgbox"_s, request.text, [&](const QString& answer) {
        for (MsgResult b : buttons) {
            if (answer.compare(ResultName(b), Qt::CaseInsensitive) == 0) {
                result = b;
                return true;
            }
        }
        return false;
    });
    record({u"msgbox"_s,
            request.title,
            request.text,
            ButtonsName(request.buttons),
            IconName(request.icon),
            ResultName(result),
            rule == nullptr,
            {},
            {}});
    return result;
}

QString ScriptedPrompt::inputBox(const QString& text, const QString& title, const QString& defaultText)
{
    const PromptRule* rule = find(u"input"_s, text, [](const QString&) { return true; });
    const QString answer = rule ? rule->answer : defaultText;
    record({u"input"_s,
            title,
            text,
            DialogButtons,
            IconName(MsgIcon::None),
            answer,
            rule == nullptr,
            {{u"default"_s, defaultText}},
            {}});
    return answer;
}

QString ScriptedPrompt::fileDialog(const QString& kind, const FileDialogRequest& request)
{
    const PromptRule* rule = find(kind, request.title, [](const QString&) { return true; });
    const QString answer = rule ? rule->answer : QString();
    record({kind,
            request.title,
            QString(),
            DialogButtons,
            IconName(MsgIcon::None),
            answer,
            rule == nullptr,
            {{u"filter"_s, request.filter},
             {u"initialDir"_s, request.initialDir},
             {u"fileName"_s, request.fileName}},
            {}});
    return answer;
}

QString ScriptedPrompt::openFile(const FileDialogRequest& request)
{
    return fileDialog(u"open"_s, request);
}

QStringList ScriptedPrompt::openFiles(const FileDialogRequest& request)
{
    QStringList files;
    for (const QString& f : fileDialog(u"open"_s, request).split(u'|', Qt::SkipEmptyParts)) {
        if (!f.trimmed().isEmpty()) files << f.trimmed();
    }
    return files;
}

QString ScriptedPrompt::saveFile(const FileDialogRequest& request)
{
    return fileDialog(u"save"_s, request);
}

QString ScriptedPrompt::chooseFolder(const QString& title, const QString& initialDir)
{
    const PromptRule* rule = find(u"folder"_s, title, [](const QString&) { return true; });
    const QString answer = rule ? rule->answer : QString();
    record({u"folder"_s,
            title,
            QString(),
            DialogButtons,
            IconName(MsgIcon::None),
            answer,
            rule == nullptr,
            {{u"initialDir"_s, initialDir}},
            {}});
    return answer;
}

PrintAnswer ScriptedPrompt::print(const PrintRequest& request)
{
    PrintAnswer result;
    const PromptRule* rule = find(u"print"_s, request.title, [&](const QString& answer) {
        return ParsePrintAnswer(answer, request, result);
    });
    record({u"print"_s,
            request.title,
            QString(),
            DialogButtons,
            IconName(MsgIcon::None),
            rule ? rule->answer : u"Cancel"_s,
            rule == nullptr,
            {{u"selectionAvailable"_s, request.selectionAvailable ? u"true"_s : u"false"_s}},
            {}});
    return result;
}

void ScriptedPrompt::formShown(QWidget* form)
{
    if (!form) return;
    // Only an answer that fits this form (its controls and button exist and take
    // the values) counts; the form is then set and pressed once it is running.
    FormAnswer chosen;
    const PromptRule* rule = find(u"form"_s, form->windowTitle(), [&](const QString& answer) {
        chosen = ParseFormAnswer(answer);
        return ApplyFormAnswer(form, chosen, false).isEmpty();
    });
    record({u"form"_s,
            form->windowTitle(),
            QString(),
            QString(),
            IconName(MsgIcon::None),
            rule ? rule->answer : QString(),
            rule == nullptr,
            {{u"name"_s, form->objectName()}},
            {}});
    if (!rule) return;
    // Queued, so that a form shown with exec() is answered from inside its own loop.
    QTimer::singleShot(0, form, [guard = QPointer<QWidget>(form), chosen] {
        if (!guard) return;
        const QString error = ApplyFormAnswer(guard, chosen, true);
        if (!error.isEmpty()) {
            qCWarning(lcDesktop, "prompt form %s: %s", qPrintable(guard->objectName()), qPrintable(error));
            return;
        }
        if (chosen.button.isEmpty()) return;
        if (auto* button = guard->findChild<QAbstractButton*>(chosen.button)) button->click();
    });
}

} // namespace kv::platform
