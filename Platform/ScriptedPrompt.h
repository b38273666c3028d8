#pragma once
// The prompt service for tests and multi-process runs: every prompt is
// recorded exactly as built and answered from rules instead of a person.
//
// Rules, one a line, "#" starting a comment line:
//     <kind> <regex> => <answer>
// kind: msgbox, input, open, save, folder, print, form. The regex is searched
// in the text of message and input boxes and in the title of dialogs and
// forms. The first rule whose regex matches and whose answer the prompt can
// take answers; rules never wear out. A prompt no rule answers gets its
// default (a message box its default button, an input box its default text,
// a dialog cancel, a form is left open) and is logged as unmatched.
#include "Platform/Prompt.h"

#include <QList>
#include <QRegularExpression>

namespace kv::platform {

QString ButtonsName(MsgButtons buttons);
QString IconName(MsgIcon icon);
QString ResultName(MsgResult result);

struct PromptLogEntry {
    QString kind;
    QString title;
    QString text;
    QString buttons;
    QString icon;
    QString answer;
    bool unmatched = false;
    QList<std::pair<QString, QString>> extra; // filter, folder, default text, ... when the prompt has them
    QString error;                            // why an answer could not be applied

    // One line of the log file: a JSON object, without the line break.
    QByteArray toJson() const;
};

struct PromptRule {
    QString kind;
    QRegularExpression pattern;
    QString answer;
};

struct PromptRules {
    QList<PromptRule> rules;
    QStringList errors; // "line N: reason" for every line that was ignored

    static PromptRules parse(const QString& text);
};

class ScriptedPrompt : public Prompt {
public:
    // Rules given as text; each prompt is kept in log() and, when logFile is
    // not empty, appended to that file.
    explicit ScriptedPrompt(const QString& rules = {}, const QString& logFile = {});
    // Rules read from a file, read again whenever the file changes, so a
    // multi-process test can change its answers between steps.
    static std::unique_ptr<ScriptedPrompt> fromFile(const QString& rulesFile, const QString& logFile);

    MsgResult msgBox(const MsgBoxRequest& request) override;
    QString inputBox(const QString& text, const QString& title, const QString& defaultText) override;
    QString openFile(const FileDialogRequest& request) override;
    QStringList openFiles(const FileDialogRequest& request) override;
    QString saveFile(const FileDialogRequest& request) override;
    QString chooseFolder(const QString& title, const QString& initialDir) override;
    PrintAnswer print(const PrintRequest& request) override;
    void formShown(QWidget* form) override;

    const QList<PromptLogEntry>& log() const { return m_log; }
    QStringList ruleErrors() const { return m_rules.errors; }

private:
    // The first rule of this kind whose regex matches subject and whose answer
    // fits says fits() true; nullptr when none.
    template <typename Fits> const PromptRule* find(const QString& kind, const QString& subject, Fits fits);
    QString fileDialog(const QString& kind, const FileDialogRequest& request);
    void record(const PromptLogEntry& entry);
    void reloadIfChanged();

    PromptRules m_rules;
    QString m_rulesFile;
    QByteArray m_rulesStamp;
    QString m_logFile;
    QList<PromptLogEntry> m_log;
};

} // namespace kv::platform
