#pragma once
// The prompt service for a person at the screen: Qt message boxes and the
// desktop's common dialogs.
#include "Platform/Prompt.h"

namespace kv::platform {

// "Sound Files (*.wav)|*.wav|All Files (*.*)|*.*" -> Qt name filters
// ("Sound Files (*.wav)", "All Files (*)"): the pattern half of each pair is
// what filters; "*.*" means every file, with or without an extension.
QStringList QtNameFilters(const QString& pairs);

// A text as the product builds it (CR or CR LF line breaks) as Qt shows it.
QString DisplayText(const QString& text);

class QtPrompt : public Prompt {
public:
    MsgResult msgBox(const MsgBoxRequest& request) override;
    QString inputBox(const QString& text, const QString& title, const QString& defaultText) override;
    QString openFile(const FileDialogRequest& request) override;
    QStringList openFiles(const FileDialogRequest& request) override;
    QString saveFile(const FileDialogRequest& request) override;
    QString chooseFolder(const QString& title, const QString& initialDir) override;
    PrintAnswer print(const PrintRequest& request) override;
    void formShown(QWidget* form) override;
};

// Makes the process's prompt service (Prompt::current()) the desktop's:
// scripted when KIVARA_PROMPTS or KIVARA_PROMPT_LOG is set, interactive
// otherwise. Every program and control library with a user interface calls it first.
void UseDesktopPrompts();

} // namespace kv::platform
