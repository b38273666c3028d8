#pragma once
// Every message box, input box, common dialog and modal form of the product
// goes through one service, so tests and multi-process runs can answer it.
#include <QString>
#include <QStringList>
#include <memory>

class QPrinter;
class QWidget;

namespace kv::platform {

// The title every message box of the product carries.
inline constexpr QStringView ProductTitle = u"Kivara for Microsoft Outlook";

enum class MsgButtons { OK, OKCancel, AbortRetryIgnore, YesNoCancel, YesNo, RetryCancel };
enum class MsgIcon { None, Critical, Question, Exclamation, Information };
// Values as the message-box results the callers compare against.
enum class MsgResult { OK = 1, Cancel = 2, Abort = 3, Retry = 4, Ignore = 5, Yes = 6, No = 7 };

struct MsgBoxRequest {
    QString text; // CR line breaks, as built by the caller
    MsgButtons buttons = MsgButtons::OK;
    MsgIcon icon = MsgIcon::None;
    QString title = ProductTitle.toString();
    int defaultButton = 1; // 1-based, as the design's default-button flags
};

struct FileDialogRequest {
    QString title;
    QString filter;      // "Text (*.txt)|*.txt|All (*.*)|*.*" pairs, as the design's dialogs
    int filterIndex = 1; // 1-based
    QString initialDir;
    QString fileName; // initial file name
    bool overwritePrompt = false;
};

struct PrintRequest {
    QString title;
    bool selectionAvailable = false;
    bool setup = false;          // the printer-setup dialog rather than the print dialog
    QPrinter* printer = nullptr; // set up by the interactive dialog when given
};
struct PrintAnswer {
    bool accepted = false;
    int copies = 1;
    bool selectionOnly = false;
};

class Prompt {
public:
    virtual ~Prompt() = default;
    virtual MsgResult msgBox(const MsgBoxRequest& request) = 0;
    // Returns the text entered; empty when cancelled.
    virtual QString inputBox(const QString& text, const QString& title, const QString& defaultText) = 0;
    // Return the chosen path, empty when cancelled.
    virtual QString openFile(const FileDialogRequest& request) = 0;
    virtual QStringList openFiles(const FileDialogRequest& request) = 0;
    virtual QString saveFile(const FileDialogRequest& request) = 0;
    virtual QString chooseFolder(const QString& title, const QString& initialDir) = 0;
    virtual PrintAnswer print(const PrintRequest& request) = 0;
    // A form of the product was shown (modal or not). The scripted service
    // sets its controls and presses a button as its rules say; the interactive
    // one leaves it to the user.
    virtual void formShown(QWidget* form) = 0;

    // The process's prompt service, unless one was installed: made by the
    // default factory, which a desktop process sets with UseDesktopPrompts()
    // (QtPrompt.h); without one, each question is written to standard error
    // and takes its default answer, as a program without a desktop must.
    static Prompt& current();
    // A new service, made as current() makes it.
    static std::unique_ptr<Prompt> createDefault();
    using Factory = std::unique_ptr<Prompt> (*)();
    static void setDefaultFactory(Factory factory);
    // Replaces the process's service (tests install a scripted one per case).
    static void install(std::unique_ptr<Prompt> prompt);
};

// Shorthand used throughout: a message box with the product title.
MsgResult MsgBox(const QString& text, MsgButtons buttons = MsgButtons::OK, MsgIcon icon = MsgIcon::None,
                 const QString& title = ProductTitle.toString());

} // namespace kv::platform
