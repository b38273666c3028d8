#pragma once
// Getting a room's transcript out of the program: saving it as rich or plain
// text, printing it, copying it to a removable medium and mailing it through
// the mail host; and the transcript's behaviour as a view (caret, focus,
// right-click menus).
#include <QDate>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>

class QPrinter;
class QTextDocument;
class QTextEdit;

namespace kv::control {

namespace exporttext {
inline constexpr QStringView SaveTitle = u"Save Kivara Transcript...";
inline constexpr QStringView SaveFilter = u"Rich Text Format (*.rtf)|*.rtf";
inline constexpr QStringView FileExists = u"The file you selected already exists.\r\rReplace existing file ?";
inline constexpr QStringView PrintTitle = u"Print Kivara Transcript...";
inline constexpr QStringView NoAttachment = u"Could not prepare chat transcript as an attachment.";
inline constexpr QStringView CannotCreateMessage = u"Cannot create new Message";
inline constexpr QStringView SaveFailed = u"The transcript could not be saved to ";
inline constexpr QStringView NoMedium = u"No removable medium to copy the transcript to was found.";
inline constexpr QStringView CopyFailed = u"The transcript could not be copied to ";
inline constexpr QStringView NamePrefix = u"Kivara Transcript ";
inline constexpr QStringView RtfExtension = u".rtf";
} // namespace exporttext

// "Kivara Transcript " + month + "-" + day + ".rtf", without leading zeros.
QString DefaultTranscriptName(const QDate& date);
// The mail attachment's display name: "Kivara Transcript " + "mmm. dd" ("Dec. 06").
QString TranscriptAttachmentName(const QDate& date);

enum class TranscriptFormat { Rich, Plain };
// By the path's last three characters: "txt" plain, anything else rich.
TranscriptFormat FormatForPath(const QString& path);

// The transcript as rich text: fonts, bold, colours and the tab stop of every line.
QByteArray TranscriptRtf(const QTextDocument& document);
// Writes the transcript to path in the format; false, with the reason in
// error, when the file could not be written.
bool WriteTranscript(const QTextEdit& transcript, const QString& path, TranscriptFormat format,
                     QString* error = nullptr);

// SaveSession: asks for a path when path is empty or alwaysAsk is set, asks
// before replacing a file, writes, and remembers the path in lastSavedPath
// unless alwaysAsk was set. 0 when written; -1 when cancelled, or when it
// failed (after a message with the reason).
int SaveTranscript(const QTextEdit& transcript, QString& lastSavedPath, QString path, bool alwaysAsk,
                   const QDate& today = QDate::currentDate());

// Prints the transcript (its selection when the dialog chose it), once per copy.
// printer: the printer the set-up dialog configured. -1 when cancelled.
int PrintTranscript(const QTextEdit& transcript, QPrinter& printer);

// The first writable removable medium under /media/$USER or /run/media/$USER
// (or under the roots given); empty when there is none.
QStringList RemovableMediaRoots();
QString FloppyFolder(const QStringList& roots = RemovableMediaRoots());

// "Send To": the transcript saved as rich text to a fresh temporary file; empty
// (after the notice) when no temporary name could be made.
QString TranscriptTempCopy(const QTextEdit& transcript);
// Copies the file to the removable medium under the default name; false,
// after a message saying why, when there is no medium or the copy failed.
bool CopyToFloppy(const QString& file, const QStringList& roots = RemovableMediaRoots(),
                  const QDate& today = QDate::currentDate());
// A new mail to the recipients with the file attached under the display
// name, shown for the user to complete. -1 when no mail could be created.
int MailTranscript(const QString& recipients, const QString& file, const QDate& today = QDate::currentDate());

// The transcript as a view: a click that leaves no selection sends the caret
// to the end and the focus back to the entry box; releasing a mouse button
// other than the left one, or the menu key (Shift+F10), pops up the Edit menu
// when more than two characters are selected, otherwise the File menu.
class TranscriptView : public QObject {
    Q_OBJECT
public:
    struct Actions {
        std::function<void()> focusEntry;
        std::function<void(const QPoint& global)> popupEdit;
        std::function<void(const QPoint& global)> popupFile;
    };
    explicit TranscriptView(Actions actions, QObject* parent = nullptr);
    void watch(QTextEdit* transcript);

    // More than two characters selected: the Edit menu, else the File menu.
    static bool EditMenuFor(int selectedCharacters) { return selectedCharacters > 2; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void popupFor(const QTextEdit* transcript, const QPoint& global) const;

    Actions m_actions;
};

} // namespace kv::control
