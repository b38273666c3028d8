#pragma once
// Store access: how a deliverable reaches the mail store, finds the product's
// contacts folder and Messages folder in the configured information store,
// repairs the store setting when that store has gone, and converts contacts
// between the standard form and the product's form.
//
// Each deliverable (each chat-control instance) owns one StoreAccess, which
// holds its application, current folder and Messages folder and releases them
// when it ends. Which operations a deliverable carries is a parameter; the
// counter control composes its own variants from the public building blocks.
#include "Platform/Outlook/Outlook.h"
#include "Platform/Prompt.h"
#include "Shared/modReg.h"

#include <QFlags>
#include <QStringList>
#include <functional>
#include <optional>

namespace kv {

// ---- Message texts ----------------------------------------------------------

namespace storetext {
inline constexpr QStringView ConnectError = u"An error occured connecting to Microsoft Outlook.";
inline constexpr QStringView NoService = u"No information service has been specified.";
inline constexpr QStringView ReinstallProduct = u"Please reinstall Kivara for Microsoft Outlook.";
inline constexpr QStringView ServiceGoneBefore = u"The '";
inline constexpr QStringView ServiceGoneAfter = u"' information service is no longer present in the profile.";
inline constexpr QStringView ChangeLocationBefore = u"Would you like to change the default location to '";
inline constexpr QStringView SetLocationBefore = u"Would you like to set the default location to '";
inline constexpr QStringView LocationQuestionAfter = u"' ?";
inline constexpr QStringView ReinstallService =
    u"Please reinstall the service, or update your Outlook profile.";
inline constexpr QStringView LocationChanged = u"Default location successfully changed.";
inline constexpr QStringView FolderNotFoundBefore = u"Could not find the '";
inline constexpr QStringView FolderNotFoundAfter = u"' folder.";
} // namespace storetext

// "No information service has been specified." CR CR "Please reinstall ...".
QString NoServiceText();
// "The '<store>' information service is no longer present in the profile." CR CR
QString ServiceGoneText(const QString& storeName);
// "Could not find the '<folder>' folder."
QString FolderNotFoundText(const QString& folderName);
// The report of a failed store call: for 8004011D the error's description,
// CR CR and the store name; otherwise the connect-error text, CR CR, the
// number in decimal, " - " and the description.
QString OpenErrorText(const outlook::OlError& error, const QString& storeName);

// ---- Names ------------------------------------------------------------------

inline constexpr QStringView StandardContactClass = u"IPM.Contact";
inline constexpr QStringView PublicFoldersName = u"Public Folders";
// A store whose name holds this word is a server mailbox ("Mailbox - Ann Smith").
inline constexpr QStringView MailboxMarker = u"Mailbox";
inline constexpr QStringView MapiNamespace = u"MAPI";

// The welcome message placed in a new Messages folder.
namespace welcome {
inline constexpr QStringView SenderName = u"Kivara";
inline constexpr QStringView Subject = u"Welcome to Kivara for Microsoft Outlook!";
inline constexpr QStringView FirstLine = u"Welcome to Kivara(tm) for Microsoft Outlook(R)!!!";
inline constexpr QStringView Description =
    u"Kivara lets you call the people in your Kivara contacts straight from Outlook. Open a "
    u"Kivara contact and choose Place Call to chat with them, meet others in their chat rooms, "
    u"send them files, or leave them a message when they are away. The messages that callers "
    u"leave for you arrive in this folder.\r\n\r\nTo set up your profile and learn more, see the "
    u"Kivara user's guide: choose Help in the Kivara Monitor.";
inline constexpr QStringView ChatName = u"Kivara";
inline constexpr QStringView Availability = u"Available";
} // namespace welcome

// The user properties of a message item.
namespace msgprop {
inline constexpr QStringView IPAddress = u"IPAddress";
inline constexpr QStringView ChatName = u"ChatName";
inline constexpr QStringView Availability = u"Availability";
inline constexpr QStringView MsgRead = u"MsgRead";
} // namespace msgprop

// ---- Operations a deliverable carries ---------------------------------------

enum class StoreOp : unsigned {
    GetOutlook = 0x01,
    OpenFolder = 0x02,
    ResolveService = 0x04,
    OpenMessagesFolder = 0x08,
    CreateMessagesFolder = 0x10,
    CountStandardContacts = 0x20,
    ConvertFolders = 0x40,
    ListContactFolders = 0x80,
};
Q_DECLARE_FLAGS(StoreOps, StoreOp)
Q_DECLARE_OPERATORS_FOR_FLAGS(StoreOps)

// Vigilo: all; Quillon: all but the two Messages-folder operations; Dorvan:
// the connection, the product folder with its store check, and the folder
// list of its conversion window; Tallyo: the connection (it builds its own
// folder operations on the building blocks).
StoreOps CarriedOperations(Deliverable who);

// Attaches to the running application or, when none runs (429), starts one.
// Returns 0, or the error number when neither worked; any other failure of the
// attachment returns 0 with `app` unset and the error left pending, so that
// the caller's next call reports it. The host program, which is the
// application itself, installs its own connector.
using OutlookConnector = std::function<qint32(outlook::Application& app)>;
qint32 AttachOrStartOutlook(outlook::Application& app);

// ---- StoreAccess -------------------------------------------------------------

class StoreAccess {
public:
    // Reads Service, Folder and MsgFolder with the deliverable's defaults.
    explicit StoreAccess(Deliverable who);
    StoreAccess(Deliverable who, StoreOps carried, OutlookConnector connect = {});
    ~StoreAccess();
    StoreAccess(const StoreAccess&) = delete;
    StoreAccess& operator=(const StoreAccess&) = delete;

    Deliverable who() const { return m_who; }
    StoreOps carried() const { return m_carried; }

    // 0, or the error number when the application can be neither attached nor started.
    qint32 GetOutlook();
    // 0 when the folder of the configured store is open as current folder;
    // -1 after an error has been shown.
    int OpenFolder(const QString& name);
    // 0 when the configured store exists (offering a replacement store when
    // it has gone) and the product folder is the current folder; -1 otherwise.
    int ResolveService();
    // 0 when the Messages folder (inside the product folder) is held, created if missing.
    int OpenMessagesFolder(const QString& name);
    // Creates the Messages folder with its welcome message; -1 when no store is configured.
    int CreateMessagesFolder();
    // The number of standard contacts ("IPM.Contact") in the store's folder of that name.
    int CountStandardContacts(const QString& name);
    // Items of the old folder become standard contacts, those of the new one
    // product contacts; the new folder stays current. -1 when the new folder
    // could not be opened.
    int ConvertFolders(const QString& newFolder, const QString& oldFolder);
    // "'<name>' folder" for each top-level contacts folder of the store, the
    // product folder's entry first (the entry to select), the others in store order.
    QStringList ListContactFolders(const QString& productFolder);

    // ---- Building blocks (the counter control's variants reuse them) ----

    enum class StoreCheck {
        Present,     // the store opened (perhaps after a relocation)
        Failed,      // the store call failed with another error (see error)
        Declined,    // the user declined the offered store
        Unavailable, // nothing to offer; the reinstall notice has been shown
    };
    struct StoreCheckResult {
        StoreCheck outcome = StoreCheck::Failed;
        bool relocated = false;
        outlook::OlError error;
        outlook::MAPIFolder store;
    };
    // Opens the configured store; when it is missing, offers the personal
    // store for a mailbox and the other way round, and on Yes saves the new
    // store name in the settings and tries again.
    StoreCheckResult CheckStore();
    // Adds the product folder (a contacts folder) to the store, or takes the
    // existing one; the folder, or Nothing with Err() set.
    outlook::MAPIFolder AddProductFolder(const outlook::MAPIFolder& store);
    // Shows the report of a failed store call (information icon).
    void ShowOpenError(const outlook::OlError& error);
    // Sets every item of the folder that is not of this class to it and saves
    // it; items already of the class are left untouched. Returns the number changed.
    static int ConvertItems(const outlook::MAPIFolder& folder, const QString& messageClass);

    // ---- State ----

    const outlook::Application& application() const { return m_app; }
    const outlook::MAPIFolder& currentFolder() const { return m_folder; }
    const outlook::MAPIFolder& messagesFolder() const { return m_msgFolder; }
    QString serviceName() const { return m_service; }
    QString folderName() const { return m_folderName; }
    QString msgFolderName() const { return m_msgFolderName; }
    // The options dialogs move the product to another folder or rename the
    // Messages folder: the names used from then on.
    void setFolderName(const QString& name) { m_folderName = name; }
    void setMsgFolderName(const QString& name) { m_msgFolderName = name; }

    // Drops the application and folder references (also done when the owner ends).
    void Release();

    // A caller that polls (the counter, every second) asks once per condition:
    // the store check's question or notice, when its text is the one last
    // shown, is not shown again and gets the answer given then. Forgotten when
    // the caller finds everything in place again.
    void setAskOnce(bool on) { m_askOnce = on; }
    void forgetAnswers() { m_lastAsked.reset(); }
    platform::MsgResult ask(const QString& text, platform::MsgButtons buttons, platform::MsgIcon icon);

private:
    bool carries(StoreOp op, const char* name) const;
    outlook::NameSpace mapi() const;

    Deliverable m_who;
    StoreOps m_carried;
    OutlookConnector m_connect;
    outlook::Application m_app;
    outlook::MAPIFolder m_folder;
    outlook::MAPIFolder m_msgFolder;
    QString m_service;
    QString m_folderName;
    QString m_msgFolderName;
    bool m_askOnce = false;
    std::optional<std::pair<QString, platform::MsgResult>> m_lastAsked;
};

} // namespace kv
