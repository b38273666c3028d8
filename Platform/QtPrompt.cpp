#include "Platform/QtPrompt.h"

#include "Platform/ScriptedPrompt.h"

#include <QApplication>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QPageSetupDialog>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QRegularExpression>

using namespace Qt::StringLiterals;

namespace kv::platform {

namespace {

QWidget* DialogParent()
{
    return QApplication::activeWindow();
}

struct ButtonMap {
    QMessageBox::StandardButton qt;
    MsgResult result;
};

QList<ButtonMap> ButtonsOf(MsgButtons buttons)
{
    using B = QMessageBox;
    switch (buttons) {
    case MsgButtons::OK:
        return {{B::Ok, MsgResult::OK}};
    case MsgButtons::OKCancel:
        return {{B::Ok, MsgResult::OK}, {B::Cancel, MsgResult::Cancel}};
    case MsgButtons::AbortRetryIgnore:
        return {{B::Abort, MsgResult::Abort}, {B::Retry, MsgResult::Retry}, {B::Ignore, MsgResult::Ignore}};
    case MsgButtons::YesNoCancel:
        return {{B::Yes, MsgResult::Yes}, {B::No, MsgResult::No}, {B::Cancel, MsgResult::Cancel}};
    case MsgButtons::YesNo:
        return {{B::Yes, MsgResult::Yes}, {B::No, MsgResult::No}};
    case MsgButtons::RetryCancel:
        return {{B::Retry, MsgResult::Retry}, {B::Cancel, MsgResult::Cancel}};
    }
    return {{B::Ok, MsgResult::OK}};
}

QMessageBox::Icon QtIcon(MsgIcon icon)
{
    switch (icon) {
    case MsgIcon::None:
        return QMessageBox::NoIcon;
    case MsgIcon::Critical:
        return QMessageBox::Critical;
    case MsgIcon::Question:
        return QMessageBox::Question;
    case MsgIcon::Exclamation:
        return QMessageBox::Warning;
    case MsgIcon::Information:
        return QMessageBox::Information;
    }
    return QMessageBox::NoIcon;
}

void SetUpFileDialog(QFileDialog& dialog, const FileDialogRequest& request)
{
    dialog.setWindowTitle(request.title);
    const QStringList filters = QtNameFilters(request.filter);
    if (!filters.isEmpty()) {
        dialog.setNameFilters(filters);
        dialog.selectNameFilter(filters.value(qBound(1, request.filterIndex, int(filters.size())) - 1));
    }
    if (!request.initialDir.isEmpty()) dialog.setDirectory(request.initialDir);
    if (!request.fileName.isEmpty()) dialog.selectFile(request.fileName);
}

} // namespace

QStringList QtNameFilters(const QString& pairs)
{
    // A trailing "(...)" on a description is replaced by the real patterns, so the
    // dialog shows and applies the same thing.
    static const QRegularExpression trailingPatterns(u"\\s*\\([^()]*\\)\\s*$"_s);
    QStringList result;
    const QStringList parts = pairs.split(u'|');
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns;
        for (QString p : parts[i + 1].split(u';', Qt::SkipEmptyParts)) {
            p = p.trimmed();
            if (p == u"*.*"_s) p = u"*"_s;
            if (!p.isEmpty()) patterns << p;
        }
        if (patterns.isEmpty()) continue;
        QString description = parts[i].trimmed();
        description.remove(trailingPatterns);
        if (description.isEmpty()) description = patterns.join(u' ');
        result << description + u" ("_s + patterns.join(u' ') + u')';
    }
    return result;
}

QString DisplayText(const QString& text)
{
    QString shown = text;
    shown.replace(u"\r\n"_s, u"\n"_s);
    shown.replace(u'\r', u'\n');
    return shown;
}

MsgResult QtPrompt::msgBox(const MsgBoxRequest& request)
{
    QMessageBox box(DialogParent());
    box.setWindowTitle(request.title);
    box.setText(DisplayText(request.text));
    box.setTextFormat(Qt::PlainText);
    box.setIcon(QtIcon(request.icon));
    const QList<ButtonMap> buttons = ButtonsOf(request.buttons);
    QList<QAbstractButton*> made;
    for (const ButtonMap& b : buttons)
        made << box.addButton(b.qt);
    box.setDefaultButton(
        qobject_cast<QPushButton*>(made.value(qBound(1, request.defaultButton, int(made.size())) - 1)));
    // Escape and the close box give Cancel where there is one, OK on a lone OK box.
    for (qsizetype i = 0; i < buttons.size(); ++i) {
        if (buttons[i].result == MsgResult::Cancel || buttons.size() == 1) box.setEscapeButton(made[i]);
    }
    box.exec();
    const qsizetype chosen = made.indexOf(box.clickedButton());
    if (chosen >= 0) return buttons[chosen].result;
    // Closed without a button on a box that has no way to cancel: its default answers.
    return buttons[qBound(1, request.defaultButton, int(buttons.size())) - 1].result;
}

QString QtPrompt::inputBox(const QString& text, const QString& title, const QString& defaultText)
{
    bool ok = false;
    const QString answer =
        QInputDialog::getText(DialogParent(), title, DisplayText(text), QLineEdit::Normal, defaultText, &ok);
    return ok ? answer : QString();
}

QString QtPrompt::openFile(const FileDialogRequest& request)
{
    QFileDialog dialog(DialogParent());
    SetUpFileDialog(dialog, request);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    if (dialog.exec() != QDialog::Accepted) return {};
    return dialog.selectedFiles().value(0);
}

QStringList QtPrompt::openFiles(const FileDialogRequest& request)
{
    QFileDialog dialog(DialogParent());
    SetUpFileDialog(dialog, request);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    if (dialog.exec() != QDialog::Accepted) return {};
    return dialog.selectedFiles();
}

QString QtPrompt::saveFile(const FileDialogRequest& request)
{
    QFileDialog dialog(DialogParent());
    SetUpFileDialog(dialog, request);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !request.overwritePrompt);
    if (dialog.exec() != QDialog::Accepted) return {};
    return dialog.selectedFiles().value(0);
}

QString QtPrompt::chooseFolder(const QString& title, const QString& initialDir)
{
    return QFileDialog::getExistingDirectory(DialogParent(), title, initialDir, QFileDialog::ShowDirsOnly);
}

PrintAnswer QtPrompt::print(const PrintRequest& request)
{
    QPrinter ownPrinter;
    QPrinter* printer = request.printer ? request.printer : &ownPrinter;
    PrintAnswer answer;
    if (request.setup) {
        QPageSetupDialog dialog(printer, DialogParent());
        dialog.setWindowTitle(request.title);
        answer.accepted = dialog.exec() == QDialog::Accepted;
    } else {
        QPrintDialog dialog(printer, DialogParent());
        dialog.setWindowTitle(request.title);
        dialog.setOption(QAbstractPrintDialog::PrintSelection, request.selectionAvailable);
        dialog.setOption(QAbstractPrintDialog::PrintPageRange, false);
        dialog.setOption(QAbstractPrintDialog::PrintCurrentPage, false);
        answer.accepted = dialog.exec() == QDialog::Accepted;
    }
    if (answer.accepted) {
        answer.copies = qMax(1, printer->copyCount());
        answer.selectionOnly = request.selectionAvailable && printer->printRange() == QPrinter::Selection;
        // The caller prints each copy as a document of its own.
        printer->setCopyCount(1);
    }
    return answer;
}

void QtPrompt::formShown(QWidget*) {}

void UseDesktopPrompts()
{
    static constexpr auto RulesVariable = "KIVARA_PROMPTS";
    static constexpr auto LogVariable = "KIVARA_PROMPT_LOG";
    Prompt::setDefaultFactory([]() -> std::unique_ptr<Prompt> {
        const QString rules = qEnvironmentVariable(RulesVariable);
        const QString log = qEnvironmentVariable(LogVariable);
        if (!rules.isEmpty()) return ScriptedPrompt::fromFile(rules, log);
        if (!log.isEmpty()) return std::make_unique<ScriptedPrompt>(QString(), log);
        return std::make_unique<QtPrompt>();
    });
}

} // namespace kv::platform
