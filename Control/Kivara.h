#pragma once
// The chat control: one instance is one chat session of the local user. It
// owns the datagram socket, the rooms, the entry box and the call state; hosts
// reach it only through the members of its automation interface, which are
// callable by name (Q_INVOKABLE / Q_PROPERTY, declared in the interface's order).
#include "Control/Session/ChatSession.h"
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

class FileDrop;

class TranscriptView;
class LayoutKeeper;

// The widgets that show one room.
struct RoomView {
    QPushButton* button = nullptr;
    QTreeView* list = nullptr;
    QTextEdit* transcript = nullptr;
};

class Kivara : public QWidget, private SessionView {
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
    bool TrayOpened() const { return state().trayOpened; }
    void setTrayOpened(bool opened) { m_session->setTrayOpened(opened); }
    Q_INVOKABLE bool Alone(short nRoom) { return m_session->Alone(nRoom); }
    short CallStatus() const { return short(state().callStatus); }
    void setCallStatus(short code) { m_session->setCallStatus(CallState(code)); }
    Q_INVOKABLE int ChangeUserName(const QString& sNewName = QString()) { return m_session->ChangeUserName(sNewName); }
    Q_INVOKABLE int ClosePrivateRoom(const QVariant& sUserName) { return m_session->ClosePrivateRoom(sUserName.toString()); }
    Q_INVOKABLE int DataRcvd(const QStringList& vData, bool bPassed = false) { return m_session->DataRcvd(vData, bPassed); }
    Q_INVOKABLE int EMailContact(const QString& sRecipients);
    QString KivaraName() const { return m_session->profileLoaded() ? profile().ChatName : QString(); }
    int LocalPort() const { return m_session->profileLoaded() ? profile().LocalPort : 0; }
    Q_INVOKABLE short OpenPrivateRoom(const QStringList& vData) { return m_session->OpenPrivateRoom(vData); }
    QStringList SelectedUser() const;
    QString PeerslipFile() const;
    Q_INVOKABLE void ShowAbout();
    Q_INVOKABLE QString UserProfile(short nIndex, const QString& sUserName = QString())
    {
        return m_session->UserProfile(nIndex, sUserName);
    }
    QString LocalHost() const { return m_session->profileLoaded() ? profile().IPAddress : QString(); }
    Q_INVOKABLE int ChatInit();
    Q_INVOKABLE int Connect(const QString& sRemoteHost = QString(), int lRemotePort = 0)
    {
        return m_session->Connect(sRemoteHost, lRemotePort);
    }
    Q_INVOKABLE int RefreshSettings();
    QString RemoteHost() const { return state().remoteHost; }
    void setRemoteHost(const QString& host) { m_session->setRemoteHost(host); }
    Q_INVOKABLE int SendSession(const QString& sRecipients, const QString& sFileName);
    Q_INVOKABLE void SetStatus(const QString& sStatus) { m_session->SetStatus(sStatus); }
    Q_INVOKABLE int ShowUser(const QStringList& vData) { return m_session->ShowUser(vData); }
    Q_INVOKABLE int ShowFile(const QStringList& vData) { return m_session->ShowFile(vData); }
    Q_INVOKABLE int DataSend(short nSendMode, const QString& sData = QString(), const QString& sData2 = QString())
    {
        return m_session->DataSend(nSendMode, sData, sData2);
    }
    Q_INVOKABLE int DataPass(const QString& sDataPass) { return m_session->DataPass(sDataPass); }
    Q_INVOKABLE int SaveSession(QString sFileName, bool bPrompt);
    short Appearance() const { return m_appearance; }
    void setAppearance(short n);
    QString Service() const { return state().service; }
    QString Folder() const { return state().folder; }
    bool Personal() const { return false; }
    void setPersonal(bool) {}
    int RemotePort() const { return state().remotePort; }
    void setRemotePort(int port) { m_session->setRemotePort(port); }
    Q_INVOKABLE void FileMenu_Click(short Index);
    Q_INVOKABLE void PrivateMenu_Click(short Index);
    Q_INVOKABLE void SendToTarget_Click(short Index);
    Q_INVOKABLE void StatusMenu_Click(short Index);
    Q_INVOKABLE void UserMenu_Click(short Index);
    Q_INVOKABLE int Disconnect(bool bPrompt) { return m_session->Disconnect(bPrompt); }
    // The transcript's Edit menu: 0 "&Copy", 2 "Select A&ll".
    void EditMenu_Click(short Index);

    // ---- Inside the control (used by inbound handling, the layout and tests) ----
    ChatSession& session() { return *m_session; }
    const SessionState& state() const { return m_session->state(); }
    const ProfileRecord& profile() const { return m_session->profile(); }
    RoomTable& rooms() { return m_session->rooms(); }
    const RoomTable& rooms() const { return m_session->rooms(); }
    // The widgets of the room at position (same order as rooms()).
    const RoomView& roomView(int position) const { return m_roomViews.at(static_cast<size_t>(position)); }
    // One datagram read from the chat port, from sender's address (the port's
    // handler; the fuzz harness calls it directly).
    void HandleDatagram(const QByteArray& datagram, const QString& sender) { m_session->HandleDatagram(datagram, sender); }
    platform::Socket& chatSocket() { return m_session->chatSocket(); }
    const KivaraTimings& timings() const { return m_session->timings(); }

    // Runs a slash command; false when the line is not one. Callable by name
    // too, so a host or script can hand the control a typed command line.
    Q_INVOKABLE bool RunCommandLine(const QString& text) { return m_session->RunCommandLine(text); }
    // Enter in the entry box.
    void SendEntry();
    // Status-bar panels 1 to 3: text and picture name.
    QString panelText(int panel) const;
    QString panelPicture(int panel) const;
    // The room switch a click on room button k performs.
    void SwitchRoom(int position);
    void ShowRoomName() { m_session->ShowRoomName(); }
    void ToggleIgnore(Participant row) { m_session->ToggleIgnore(row); }
    // Prepares the participant menu for the current selection (visibility, default item).
    void PrepareUserMenu();
    // A participant of the current room dropped on the button of room k.
    void DropParticipantOnRoom(int position, const QString& name);
    // The close question for a private room, as the menus ask it.
    void ConfirmClosePrivateRoom(const QString& tag);
    // Sends the private-room request to a participant of the public room.
    void RequestPrivateRoom(const QString& name) { m_session->RequestPrivateRoom(name); }
    // Closes the contact form the control sits on, saving its item (Close(0) on objParent).
    bool CloseParentForm();
    // File sending: the pool and its transfers; NOFILE from the dispatcher goes to its OnNoFile.
    FileSend& fileSend() { return m_session->fileSend(); }
    // The cancel button's file-transfer branch (in a call): asks, then ends the transfer.
    int CancelFileTransfer() { return m_session->CancelFileTransfer(); }
    // The cancel button: gives up a call being placed or waiting to enter.
    void CancelCall() { m_session->CancelCall(); }
    // The admission or message dialog open right now; nullptr when none.
    frmEntry* entryDialog() const { return m_entry; }
    // The path "&Save" writes to; empty until a save set it.
    QString lastSavedPath() const { return m_lastSavedPath; }
    // The printer that "Print Set&up..." configures and "&Print..." prints on.
    QPrinter& printer();
    LayoutKeeper& layoutKeeper() { return *m_layout; }
    // Applies an in-place edit of the own row.
    void OwnRowEdited(const QString& oldName, const QString& newName) { m_session->OwnRowEdited(oldName, newName); }

Q_SIGNALS:
    // The control's one outgoing event, raised by every SetCallStatus.
    void CallStatus(short Status);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Initialize();
    // The session's view.
    void showPanel(int panel, const QString& text, const QString& picture = QString()) override;
    void showCallStatus(CallState state, const QString& text) override;
    void showOffline() override;
    void showAvailability(const QString& status) override;
    void playSound(const QString& file) override;
    void beep() override;
    void roomOpened(int position) override;
    void roomClosing(int position) override;
    void switchRoom(int position) override { SwitchRoom(position); }
    void roomCaptionChanged(int position, bool inFront) override;
    void roomMarked(int position) override;
    void conversationCleared() override;
    std::optional<short> askAdmission(const QString& caller) override;
    void closeAdmissionOf(const QString& caller) override;
    std::optional<LeftMessage> askLeftMessage(const QString& callee) override;
    void showCancel(bool visible) override;
    void showBusy(bool busy) override;
    void focusEntry() override;
    outlook::Item shownItem() const override;
    bool closeForm() override { return CloseParentForm(); }

    void buildMenus();
    void buildStatusBar();
    void renumberRooms();
    // The room's widgets let go of its model and document, which are about to go.
    static void detachRoomView(const RoomView& view);
    // The current room's list and its rows the user selected.
    QTreeView* currentList() const;
    QList<Participant> selectedRows() const;
    // The e-mail addresses of the selected others, "; " between them.
    QString selectedAddresses() const;
    void applyRoomButtons();
    void applyFonts();
    Participant selectedRow() const;
    bool selectionIsOwnRow() const;
    void toggleRoomDetails(bool on);
    void openOptions(int mode);
    // The admission or the message dialog, modal; its choice (and, when asked, the message
    // written), or nothing when the dialog or the control went away meanwhile.
    std::optional<short> execEntryDialog(int mode, const QString& party, LeftMessage* message);

    std::unique_ptr<Ui::Kivara> ui;
    std::unique_ptr<ChatSession> m_session;
    short m_appearance = 0;
    bool m_roomDetails = false; // "&Show Room Details" is checked
    bool m_busy = false;        // the busy pointer is set
    QPointer<QObject> m_objParent;
    std::shared_ptr<outlook::Inspector> m_inspector;
    std::vector<RoomView> m_roomViews;
    FileDrop* m_fileDrop = nullptr;
    QPointer<frmEntry> m_entry;
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
