#pragma once
// The chat control: one instance is one chat session of the local user. It
// owns the datagram socket, the rooms, the entry box and the call state; hosts
// reach it only through the members of its automation interface, which are
// callable by name (Q_INVOKABLE / Q_PROPERTY, declared in the interface's order).
#include "Control/Session/Rooms.h"
#include "Control/frmEntry.h"
#include "Shared/modUser.h"

#include <QPointer>
#include <QStringList>
#include <QVariant>
#include <QWidget>
#include <deque>
#include <memory>
#include <optional>
#include <vector>

class QLabel;
class QMenu;
class QAction;
class QTimer;
class QPrinter;
class QPushButton;
class QTextEdit;
class QTreeView;

namespace Ui {
class Kivara;
}

namespace kv::platform {
class Socket;
}
namespace kv::outlook {
class Inspector;
class Item;
} // namespace kv::outlook
namespace kv {
class StoreAccess;
}

namespace kv::control {

class FileSend;
class FileDrop;
class Fields;
struct Arrival;

// Intervals and bounds of the control's timers and waits, in milliseconds.
// Tests shorten them; every wait of the control also ends with the session.
struct KivaraTimings {
    int mainTimerMs = 30000;      // tmrMain: supervision of a call being placed or waiting to enter
    int helloPauseMs = 750;       // one of the four pauses between HELLO repeats (3 s in all)
    int admissionRingMs = 600;    // the admission dialog's ring
    int admissionRefuseMs = 45000; // the admission dialog refuses by itself
    int socketCloseWaitMs = 5000; // bound on waiting for a socket to read closed
    int privateRoomWaitMs = 30000; // bound on waiting for a requested private room to open
    int fileOfferMs = 120000;     // a file offer that no connection takes expires
    int callLoopBoundMs = 600000; // a call not let in by then is given up (GIVEUP, and the user told)
};

// Call status codes.
namespace call {
inline constexpr short NotStarted = 0;
inline constexpr short NoProfile = 2;
inline constexpr short Idle = 4;
inline constexpr short WaitingToEnter = 5;
inline constexpr short Calling = 6;
inline constexpr short Connected = 7;
inline constexpr short Incoming = 10;
inline constexpr short NoAnswer = 11;
} // namespace call

// Per-instance state (the rooms and their current position live in the RoomTable).
struct SessionState {
    bool trayOpened = false;
    QString remoteHost;
    int remotePort = 0;
    short appearance = 0;
    short networkState = 0;
    short callStatus = call::NotStarted;
    bool callCancelled = false;
    QColor myColor;
    bool useOthers = false;
    QColor othersColor;
    bool confirmContactSaves = false;
    // File sending
    QString sendFilePath;
    qint64 sendFileSize = 0;
    // Sounds
    bool useCallSound = false;
    QString callFile;
    bool useAttnSound = false;
    QString attnFile;
    // Settings read at session start
    QString installDir;
    QString service;
    QString folder;
    // What RefreshSettings last showed, to notice changes
    QString shownChatName;
    QString shownStatus;
    QString shownLocalIp;
};

class TranscriptView;
class LayoutKeeper;

// The widgets that show one room.
struct RoomView {
    QPushButton* button = nullptr;
    QTreeView* list = nullptr;
    QTextEdit* transcript = nullptr;
};

class Kivara : public QWidget {
    Q_OBJECT
    // ---- Automation interface, in its declared order -------------------------
    Q_PROPERTY(QObject* objParent READ objParent WRITE setObjParent)
    Q_PROPERTY(bool TrayOpened READ TrayOpened WRITE setTrayOpened)
    Q_PROPERTY(short CallStatus READ CallStatus WRITE setCallStatus)
    Q_PROPERTY(QString KivaraName READ KivaraName)
    Q_PROPERTY(int LocalPort READ LocalPort)
    Q_PROPERTY(QStringList SelectedUser READ SelectedUser)
    Q_PROPERTY(QString PeerslipFile READ PeerslipFile)
    Q_PROPERTY(QString LocalHost READ LocalHost)
    Q_PROPERTY(QString RemoteHost READ RemoteHost WRITE setRemoteHost)
    Q_PROPERTY(short Appearance READ Appearance WRITE setAppearance)
    Q_PROPERTY(QString Service READ Service)
    Q_PROPERTY(QString Folder READ Folder)
    Q_PROPERTY(bool Personal READ Personal WRITE setPersonal)
    Q_PROPERTY(int RemotePort READ RemotePort WRITE setRemotePort)

public:
    explicit Kivara(QWidget* parent = nullptr, const KivaraTimings& timings = {});
    ~Kivara() override;

    // A host reaching the control by name sets an object that answers
    // CurrentItem and Close(int); an in-process host sets the inspector itself.
    QObject* objParent() const { return m_objParent; }
    void setObjParent(QObject* parent) { m_objParent = parent; }
    std::shared_ptr<outlook::Inspector> parentInspector() const { return m_inspector; }
    void setParentInspector(std::shared_ptr<outlook::Inspector> inspector) { m_inspector = std::move(inspector); }
    bool TrayOpened() const { return m_state.trayOpened; }
    void setTrayOpened(bool opened) { m_state.trayOpened = opened; }
    Q_INVOKABLE bool Alone(short nRoom);
    short CallStatus() const { return m_state.callStatus; }
    void setCallStatus(short code) { m_state.callStatus = code; }
    Q_INVOKABLE int ChangeUserName(const QString& sNewName = QString());
    Q_INVOKABLE int ClosePrivateRoom(const QVariant& sUserName);
    Q_INVOKABLE int DataRcvd(const QStringList& vData, bool bPassed = false);
    Q_INVOKABLE int EMailContact(const QString& sRecipients);
    QString KivaraName() const { return m_profileLoaded ? m_profile.ChatName : QString(); }
    int LocalPort() const { return m_profileLoaded ? m_profile.LocalPort : 0; }
    Q_INVOKABLE short OpenPrivateRoom(const QStringList& vData);
    QStringList SelectedUser() const;
    QString PeerslipFile() const;
    Q_INVOKABLE void ShowAbout();
    Q_INVOKABLE QString UserProfile(short nIndex, const QString& sUserName = QString());
    QString LocalHost() const { return m_profileLoaded ? m_profile.IPAddress : QString(); }
    Q_INVOKABLE int ChatInit();
    Q_INVOKABLE int Connect(const QString& sRemoteHost = QString(), int lRemotePort = 0);
    Q_INVOKABLE int RefreshSettings();
    QString RemoteHost() const { return m_state.remoteHost; }
    void setRemoteHost(const QString& host);
    Q_INVOKABLE int SendSession(const QString& sRecipients, const QString& sFileName);
    Q_INVOKABLE void SetStatus(const QString& sStatus);
    Q_INVOKABLE int ShowUser(const QStringList& vData);
    Q_INVOKABLE int ShowFile(const QStringList& vData);
    Q_INVOKABLE int DataSend(short nSendMode, const QString& sData = QString(), const QString& sData2 = QString());
    Q_INVOKABLE int DataPass(const QString& sDataPass);
    Q_INVOKABLE int SaveSession(QString sFileName, bool bPrompt);
    short Appearance() const { return m_state.appearance; }
    void setAppearance(short n);
    QString Service() const { return m_state.service; }
    QString Folder() const { return m_state.folder; }
    bool Personal() const { return false; }
    void setPersonal(bool) {}
    int RemotePort() const { return m_state.remotePort; }
    void setRemotePort(int port);
    Q_INVOKABLE void FileMenu_Click(short Index);
    Q_INVOKABLE void PrivateMenu_Click(short Index);
    Q_INVOKABLE void SendToTarget_Click(short Index);
    Q_INVOKABLE void StatusMenu_Click(short Index);
    Q_INVOKABLE void UserMenu_Click(short Index);
    Q_INVOKABLE int Disconnect(bool bPrompt);
    // The transcript's Edit menu: 0 "&Copy", 2 "Select A&ll".
    void EditMenu_Click(short Index);

    // ---- Inside the control (used by inbound handling, the layout and tests) ----
    const SessionState& state() const { return m_state; }
    const ProfileRecord& profile() const { return m_profile; }
    RoomTable& rooms() { return m_rooms; }
    // The widgets of the room at position (same order as rooms()).
    const RoomView& roomView(int position) const { return m_roomViews.at(static_cast<size_t>(position)); }
    // One datagram read from the chat port, from sender's address (the port's
    // handler; the fuzz harness calls it directly).
    void HandleDatagram(const QByteArray& datagram, const QString& sender);
    platform::Socket& chatSocket() { return *m_wskChat; }
    const KivaraTimings& timings() const { return m_timings; }

    // Runs a slash command; false when the line is not one. Callable by name
    // too, so a host or script can hand the control a typed command line.
    Q_INVOKABLE bool RunCommandLine(const QString& text);
    // Enter in the entry box.
    void SendEntry();
    // Status-bar panels 1 to 3: text and picture name.
    QString panelText(int panel) const;
    QString panelPicture(int panel) const;
    // The room switch a click on room button k performs.
    void SwitchRoom(int position);
    void ShowRoomName();
    void ToggleIgnore(Participant row);
    // Prepares the participant menu for the current selection (visibility, default item).
    void PrepareUserMenu();
    // A participant of the current room dropped on the button of room k.
    void DropParticipantOnRoom(int position, const QString& name);
    // The close question for a private room, as the menus ask it.
    void ConfirmClosePrivateRoom(const QString& tag);
    // Sends the private-room request to a participant of the public room.
    void RequestPrivateRoom(const QString& name);
    // Closes the contact form the control sits on, saving its item (Close(0) on objParent).
    bool CloseParentForm();
    // File sending: the pool and its transfers; NOFILE from the dispatcher goes to its OnNoFile.
    FileSend& fileSend() { return *m_fileSend; }
    // The cancel button's file-transfer branch (in a call): asks, then ends the transfer.
    int CancelFileTransfer();
    // The contact the hosting form shows, or none.
    outlook::Item shownItem() const;
    // The cancel button: gives up a call being placed or waiting to enter.
    void CancelCall();
    // The admission or message dialog open right now; nullptr when none.
    frmEntry* entryDialog() const { return m_entry; }
    // The path "&Save" writes to; empty until a save set it.
    QString lastSavedPath() const { return m_lastSavedPath; }
    // The printer that "Print Set&up..." configures and "&Print..." prints on.
    QPrinter& printer();
    LayoutKeeper& layoutKeeper() { return *m_layout; }
    // Applies an in-place edit of the own row.
    void OwnRowEdited(QString oldName, QString newName); // by value: the old name may be the profile's own

Q_SIGNALS:
    // The control's one outgoing event, raised by every SetCallStatus.
    void CallStatus(short Status);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Initialize();
    void Terminate();
    // /part, /leave, /quit: tells the room's others, then closes a private room
    // or empties the public one.
    void LeaveRoom(int position);
    // Closing the form: what leaving every room sends, without touching the rooms.
    void LeaveOnClose();
    void buildMenus();
    void buildStatusBar();
    Room& createRoom(const QString& tag);
    void renumberRooms();
    // The room's widgets let go of its model and document, which are about to go.
    static void detachRoomView(const RoomView& view);
    // The current room's list and its rows the user selected.
    QTreeView* currentList() const;
    QList<Participant> selectedRows() const;
    // The e-mail addresses of the selected others, "; " between them.
    QString selectedAddresses() const;
    void applyRoomButtons();
    void setPanel(int panel, const QString& text, const QString& picture = QString());
    void SetCallStatus(short code, const QString& text = QString());
    void SetNetworkState(short state);
    void PlayAlert(int kind);
    // The local user's row in every room.
    void renameOwnRows(const QString& name);
    void onChatDatagram();
    void onChatError(int number, const QString& description);
    bool confirmDumpUser(const QString& name);
    UserRecord ownRecord() const;
    void updateOwnRows();
    void applyFonts();
    void focusEntry();
    Participant selectedRow() const;
    bool selectionIsOwnRow() const;
    void toggleRoomDetails(bool on);
    void openOptions(int mode);
    void closeWaitChatSocket();
    bool refuseChatName(const QString& name);
    // Calls and inbound handling
    // Connect's checks of the host and port; a failing one is told and sets the call idle.
    bool checkCallTarget();
    // Connect's HELLO loop: rings until the call is answered, refused, cancelled or bounded.
    // False when the control went away meanwhile.
    bool ringUntilAnswered();
    void onMainTimer();
    // The call's outer bound passed while still ringing or waiting to enter.
    void giveUpUnanswered();
    // GIVEUP to the party this control is calling.
    void sendGiveUp();
    // Finds the message word's handler in one table; unknown words are ignored.
    void dispatch(const Fields& f, bool bPassed, const QString& sender);
    // One handler per message word. They change rooms and state; what shows it goes
    // through the view members below.
    void onHello(const Fields& f, const Arrival& a);
    void onHelloWait(const Fields& f, const Arrival& a);
    void onGiveUp(const Fields& f, const Arrival& a);
    void onRoomList(const Fields& f, const Arrival& a);
    void onEnter(const Fields& f, const Arrival& a);
    void onPubChat(const Fields& f, const Arrival& a);
    void onPriChat(const Fields& f, const Arrival& a);
    void onStatus(const Fields& f, const Arrival& a);
    void onNickName(const Fields& f, const Arrival& a);
    void onUpdate(const Fields& f, const Arrival& a);
    void onGetUser(const Fields& f, const Arrival& a);
    void onSaveUser(const Fields& f, const Arrival& a);
    void onShowUser(const Fields& f, const Arrival& a);
    void onFilePrep(const Fields& f, const Arrival& a);
    void onNoFile(const Fields& f, const Arrival& a);
    void onLeave(const Fields& f, const Arrival& a);
    void onDumpUser(const Fields& f, const Arrival& a);
    void onLeaveMsg(const Fields& f, const Arrival& a);
    // HELLO's steps: a caller with the own name is refused at once; the others are
    // listed, asked about (nothing when the dialog was already open or went away),
    // let in, refused or taken to a private room, and offered as a contact.
    void refuseOwnName(const Fields& f);
    void addressCaller(const QString& host);
    std::optional<short> askAdmission(const QString& caller);
    // True when the caller came in and the control is still there.
    bool answerCaller(short choice, const UserRecord& caller, const QString& own);
    void refuseCaller(const UserRecord& caller, const QString& own);
    bool admitPrivately(const UserRecord& caller);
    // False when the user declined the contact or the control went away.
    bool offerAutoContact(const QString& caller, bool found);
    // Views the handlers change: the admission dialog a GIVEUP ends, a room's caption on
    // its button (and, in front, its list header and panel 1), the public conversation.
    void closeAdmissionOf(const QString& caller);
    void showRoomCaption(int position, bool inFront);
    void clearConversation();
    bool knownHost(const QString& sender) const;
    // A row of another participant by name; never the local user's own row 1.
    Participant otherRow(const Room& room, const QString& name) const;
    bool removeOther(Room& room, const QString& name);
    void markRoomButton(int position);
    void closeFormWhenAloneFromTray();
    // DataSend's longer modes: ROOMLIST to an admitted caller, LEAVE of a room, FILEPREP
    // (an empty path asks for one first).
    void sendRoomList();
    void sendLeave(const QString& tag, const QString& position);
    int prepareFileOffer(int position, const QString& name, QString path);
    // File offers: one at a time to the party in the room at position; the rest queue.
    int offerFile(int position, const QString& name, const QString& path);
    void offerNextFile();
    // This control's own store access, made on first use.
    StoreAccess& store();
    void UpdateShownContact(const QString& match, bool alsoEmpty,
                            const QList<std::pair<QString, QString>>& userProperties,
                            const QList<std::pair<QString, QString>>& members = {});

    std::unique_ptr<Ui::Kivara> ui;
    KivaraTimings m_timings;
    SessionState m_state;
    ProfileRecord m_profile;
    bool m_profileLoaded = false;
    bool m_sessionEnded = false;
    bool m_roomDetails = false; // "&Show Room Details" is checked
    QPointer<QObject> m_objParent;
    std::shared_ptr<outlook::Inspector> m_inspector;
    RoomTable m_rooms;
    std::vector<RoomView> m_roomViews;
    platform::Socket* m_wskChat = nullptr;
    platform::Socket* m_wskProbe = nullptr;
    FileSend* m_fileSend = nullptr; // the wskFile pool and the transfers
    FileDrop* m_fileDrop = nullptr;
    QTimer* m_tmrMain = nullptr;
    QPointer<frmEntry> m_entry;
    std::unique_ptr<StoreAccess> m_store;
    struct QueuedFile {
        QString tag; // the room it was offered in
        QString name;
        QString path;
    };
    std::deque<QueuedFile> m_fileQueue;
    bool m_connecting = false;     // Connect's loop is running
    bool m_fromNetwork = false;    // the message being dispatched came in a datagram
    QString m_datagramSender;      // and from this address
    QLabel* m_panelText[3] = {};
    QLabel* m_panelPicture[3] = {};
    QString m_panelPictureName[3];
    QMenu* m_mnuFile = nullptr;
    QMenu* m_mnuSendTo = nullptr;
    QMenu* m_mnuUser = nullptr;
    QMenu* m_mnuPrivate = nullptr;
    QMenu* m_mnuStatus = nullptr;
    QMenu* m_mnuSendEdit = nullptr;
    QMenu* m_mnuEdit = nullptr;
    TranscriptView* m_transcriptView = nullptr;
    LayoutKeeper* m_layout = nullptr;
    QString m_lastSavedPath;
    std::unique_ptr<QPrinter> m_printer;
};

} // namespace kv::control
