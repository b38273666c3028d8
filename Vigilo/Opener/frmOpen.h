#pragma once
// Dorvan's main window and command dispatch. The other programs start Dorvan
// with one argument: a command word, or the text of a SHOWUSER or FILEPREP
// message. Whenever the main window unloads, Dorvan ends.
#include <QString>
#include <QStringList>
#include <QWidget>

namespace kv::dorvan {

class frmFile;

// Command words, compared with the whole command line.
namespace command {
inline constexpr auto Uninstall = u"uninstall";
inline constexpr auto OpenKVFolder = u"openkvfolder";
inline constexpr auto OpenKVMessages = u"openkvmessage";
// Found anywhere in the command line, SHOWUSER first.
inline constexpr auto ShowUser = u"SHOWUSER";
inline constexpr auto FilePrep = u"FILEPREP";
} // namespace command

namespace text {
inline constexpr auto OutlookError = u"An error occured connecting to Microsoft Outlook.";
inline constexpr auto MessagesFolderError = u"Could not open the Kivara 'Messages' folder.";
// The literal name of the Messages folder inside the product folder (not the MsgFolder setting).
inline constexpr auto MessagesFolder = u"Messages";
} // namespace text

enum class Route {
    EarlyEnd, // a setting was missing: nothing ran
    Uninstall,
    OpenKVFolder,
    OpenKVMessages,
    Conversion, // empty command line: the folder-conversion window
    ShowUser,   // the Peerslip viewer
    FilePrep,   // the receiving window
    Nothing,    // an unknown command line
};

// Which command a command line carries, by the dispatch table.
Route Classify(const QString& commandLine);
// Cut at every "|"; no "|" gives one piece, a trailing "|" a last empty piece.
QStringList SplitPieces(const QString& commandLine);
// The command line a program of the product was started with: its one argument
// as it is (several arguments, as the shell would have passed them, joined by blanks).
QString CommandLineOf(const QStringList& arguments);

class frmOpen : public QWidget {
    Q_OBJECT
public:
    explicit frmOpen(QWidget* parent = nullptr);
    ~frmOpen() override;

    // Reads the settings and carries out the command line; returns where it went.
    Route Start(const QString& commandLine);

    // 0 on success; an error number after the user was told.
    int OpenKVFolder(const QString& store, const QString& folder);
    int OpenKVMessages(const QString& store, const QString& folder);
    QString GetSysDir() const;

    frmFile* fileWindow() const { return m_file; }
    bool isUnloaded() const { return m_unloaded; }
    // Unloads the main window and every window of Dorvan.
    void Unload();

Q_SIGNALS:
    void Unloaded();

private:
    QString m_installDir;
    QString m_service;
    QString m_folder;
    frmFile* m_file = nullptr;
    bool m_unloaded = false;
};

} // namespace kv::dorvan
