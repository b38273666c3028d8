#pragma once
// Dorvan's main window and command dispatch. The other programs start Dorvan
// with one argument: a command word, or the text of a SHOWUSER or FILEPREP
// message. Whenever the main window unloads, Dorvan ends.
#include "Shared/Installed.h"

#include <QString>
#include <QStringList>
#include <QWidget>
#include <array>

namespace kv::dorvan {

class frmFile;
class frmProp;
class frmConvert;
class frmReceived;

// Command words, compared with the whole command line.
namespace command {
inline constexpr QStringView Uninstall = u"uninstall";
inline constexpr QStringView OpenKVFolder = u"openkvfolder";
inline constexpr QStringView OpenKVMessages = u"openkvmessage";
inline constexpr QStringView ReceivedFiles = u"receivedfiles";
// Found anywhere in the command line, SHOWUSER first.
inline constexpr QStringView ShowUser = u"SHOWUSER";
inline constexpr QStringView FilePrep = u"FILEPREP";
} // namespace command

namespace text {
inline constexpr QStringView OutlookError = u"An error occured connecting to Microsoft Outlook.";
inline constexpr QStringView MessagesFolderError = u"Could not open the Kivara 'Messages' folder.";

// The uninstaller's messages.
inline constexpr QStringView UninstallQuestion =
    u"This will remove Kivara for Microsoft Outlook 1.1\r\rDo you wish to continue ?";
inline constexpr QStringView CloseMonitorQuestion =
    u"You should close Kivara Monitor before uninstalling.\r\rClose now ?";
inline constexpr QStringView NotUninstalled = u" was not uninstalled.";
inline constexpr QStringView SubfolderKeptHead = u"The uninstaller detected files in your '";
inline constexpr QStringView SubfolderKeptMiddle = u"' folder.";
inline constexpr QStringView SubfolderKeptTail = u"They will not be removed.  ";
inline constexpr QStringView ContactsRestoredHead =
    u"All Kivara contacts are now standard Outlook contacts.\r\rThey remain in the folder '";
inline constexpr QStringView ContactsRestoredTail = u"'.";
inline constexpr QStringView Uninstalled = u"Kivara for Microsoft Outlook 1.1 was uninstalled.";
// The refusal that guards a mistaken InstallDir setting.
inline constexpr QStringView UnsafeFolderHead = u"The installation folder '";
inline constexpr QStringView UnsafeFolderTail =
    u"' is not a folder the uninstaller may remove files from.\r\rCheck the InstallDir setting.";
// The welcome contact the set-up places in the product folder.
inline constexpr QStringView WelcomeContactName = u"1. Welcome to Kivara!!!";
// The folder named like this stays the user's own; no notice about it.
inline constexpr QStringView StandardContactsFolder = u"Contacts";

// The conversion's messages.
inline constexpr QStringView ItemsUpdated = u"The folder items were successfully updated.\r\r";
inline constexpr QStringView NowKivaraContacts = u"All items are now Kivara Contacts.";
inline constexpr QStringView NowStandardContacts = u"All items are now standard Outlook contacts.";
} // namespace text

// Whether the uninstaller may delete files in this folder: not the root, not
// the user's home or a folder above it, not a system folder or one inside it.
bool IsRemovableInstallFolder(const QString& folder);

enum class Route {
    EarlyEnd, // a setting was missing: nothing ran
    Uninstall,
    OpenKVFolder,
    OpenKVMessages,
    Conversion,    // empty command line: the folder-conversion window
    ShowUser,      // the Peerslip viewer
    FilePrep,      // the receiving window
    ReceivedFiles, // the list of received files
    Nothing,       // an unknown command line
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

    // Removes the product: its files, entries, settings and contact forms.
    void Uninstall(const QString& store, const QString& folder, const QString& installDir);
    // 0 when every item of the folder is of the product's contact class
    // (or the standard one); non-zero after an error message.
    int UpdateFormsToKV(const QString& folder, const QString& store);
    int UpdateFormsToMO(const QString& folder, const QString& store);

    // Seams for tests: where the control libraries live, and how long the
    // uninstaller waits for the monitor to close.
    void setSystemFolder(const QString& folder) { m_sysDir = folder; }
    void setMonitorWaitMs(int ms) { m_monitorWaitMs = ms; }

    frmProp* viewer() const { return m_prop; }
    frmConvert* conversionWindow() const { return m_convert; }

    frmFile* fileWindow() const { return m_file; }
    frmReceived* receivedWindow() const { return m_received; }
    bool isUnloaded() const { return m_unloaded; }
    // Unloads the main window and every window of Dorvan.
    void Unload();

Q_SIGNALS:
    void Unloaded();

private:
    int UpdateForms(const QString& folder, const QString& store, const QString& messageClass);
    void RemoveDesktopEntries();
    void RestoreContacts(const QString& store, const QString& folder);

    QString m_installDir;
    QString m_service;
    QString m_folder;
    frmFile* m_file = nullptr;
    frmProp* m_prop = nullptr;
    frmConvert* m_convert = nullptr;
    frmReceived* m_received = nullptr;
    QString m_sysDir;
    int m_monitorWaitMs = 10 * 60 * 1000;
    bool m_unloaded = false;
};

} // namespace kv::dorvan
