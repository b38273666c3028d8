#pragma once
// A chat session without its window: the chat socket, the rooms, the call
// state, the profile, every message that arrives and every message sent. What
// must be shown or asked goes to the SessionView; a session with a view that
// shows nothing runs without a display (tests, fuzzing).
#include "Control/Session/Rooms.h"
#include "Platform/Prompt.h"
#include "Shared/modUser.h"

#include <QColor>
#include <QObject>
#include <QStringList>
#include <deque>
#include <memory>
#include <optional>

class QTimer;

namespace kv::platform {
class Socket;
}
namespace kv::outlook {
class Item;
}
namespace kv {
class StoreAccess;
}

namespace kv::control {

class FileSend;
class History;
class Fields;
struct Arrival;

// Intervals and bounds of the control's timers and waits, in milliseconds.
// Tests shorten them; every wait of the control also ends with the session.
struct KivaraTimings {
    int mainTimerMs = 30000;      // tmrMain: supervision of a call being placed or waiting to enter
    int helloIntervalMs = 3000;   // HELLO and the call sound repeat while a call is placed
    int admissionRingMs = 600;    // the admission dialog's ring
    int admissionRefuseMs = 45000; // the admission dialog refuses by itself
    int privateRoomWaitMs = 30000; // bound on waiting for a requested private room to open
    int fileOfferMs = 120000;     // a file offer that no connection takes expires
    int callLoopBoundMs = 600000; // a call not let in by then is given up (GIVEUP, and the user told)
};

// The states of a call; their numbers are the codes hosts read from CallStatus.
enum class CallState : short {
    NotStarted = 0,
    NoProfile = 2,
    Idle = 4,
    WaitingToEnter = 5, // caller: the party called is asking whether to let us in
    Calling = 6,        // caller: HELLO repeats until an answer
    Connected = 7,
    Incoming = 10, // party called: a caller waits for admission
    NoAnswer = 11, // caller: the supervision gave up; the call returns to Idle
};

// Per-instance state (the rooms and their current position live in the RoomTable).
struct SessionState {
    bool trayOpened = false;
    QString remoteHost;
    int remotePort = 0;
    short networkState = 0;
    CallState callStatus = CallState::NotStarted;
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
    // Off until the preferences are read: a session that never reads them (fuzzing) keeps nothing.
    bool keepHistory = false;
    // Settings read at session start
    QString installDir;
    QString service;
    QString folder;
    // What RefreshSettings last showed, to notice changes
    QString shownChatName;
    QString shownStatus;
};

// The admission choice the dialog ends with.
enum AdmissionChoice : short { ChoiceEnter = 0, ChoiceRefuse = 1, ChoicePrivate = 2, ChoiceGaveUp = 3, ChoiceMessage = 4 };

// A message the caller leaves when the party called takes messages.
struct LeftMessage {
    QString subject;
    QString body;
};

// What a session asks of the window that shows it.
class SessionView {
public:
    virtual ~SessionView() = default;
    // Status-bar panel 1 to 3; a null picture keeps the one shown.
    virtual void showPanel(int panel, const QString& text, const QString& picture = QString()) = 0;
    // The call status changed to code (text: the party, where the status names one).
    virtual void showCallStatus(CallState state, const QString& text) = 0;
    // No network: the session is offline.
    virtual void showOffline() = 0;
    // The user's availability, as the availability menu and panel 2 show it.
    virtual void showAvailability(const QString& status) = 0;
    virtual void playSound(const QString& file) = 0;
    virtual void beep() = 0;
    // Rooms: a new room at position (widgets to make), one about to go, the room to show.
    virtual void roomOpened(int position) = 0;
    virtual void roomClosing(int position) = 0;
    virtual void switchRoom(int position) = 0;
    // A room's caption changed (inFront: it is the room in front); a line came to a room behind.
    virtual void roomCaptionChanged(int position, bool inFront) = 0;
    virtual void roomMarked(int position) = 0;
    // A new caller while alone: the public conversation starts afresh.
    virtual void conversationCleared() = 0;
    // The admission dialog for a caller; nothing when one is already open or it went away.
    virtual std::optional<short> askAdmission(const QString& caller) = 0;
    // The caller gave up: an admission dialog still open for it closes.
    virtual void closeAdmissionOf(const QString& caller) = 0;
    // The message dialog for a party that takes messages; nothing when not sent.
    virtual std::optional<LeftMessage> askLeftMessage(const QString& callee) = 0;
    // Something can be cancelled (a call being placed, a file offer or transfer).
    virtual void showCancel(bool visible) = 0;
    virtual void showBusy(bool busy) = 0;
    virtual void focusEntry() = 0;
    // The contact the hosting form shows, and closing that form.
    virtual outlook::Item shownItem() const = 0;
    virtual bool closeForm() = 0;
};

// A view that shows nothing and is asked nothing: what a released session keeps.
class SilentView : public SessionView {
public:
    void showPanel(int, const QString&, const QString&) override {}
    void showCallStatus(CallState, const QString&) override {}
    void showOffline() override {}
    void showAvailability(const QString&) override {}
    void playSound(const QString&) override {}
    void beep() override {}
    void roomOpened(int) override {}
    void roomClosing(int) override {}
    void switchRoom(int) override {}
    void roomCaptionChanged(int, bool) override {}
    void roomMarked(int) override {}
    void conversationCleared() override {}
    std::optional<short> askAdmission(const QString&) override { return std::nullopt; }
    void closeAdmissionOf(const QString&) override {}
    std::optional<LeftMessage> askLeftMessage(const QString&) override { return std::nullopt; }
    void showCancel(bool) override {}
    void showBusy(bool) override {}
    void focusEntry() override {}
    outlook::Item shownItem() const override;
    bool closeForm() override { return false; }
};

class ChatSession : public QObject {
    Q_OBJECT
public:
    ChatSession(SessionView& view, const KivaraTimings& timings, QObject* parent = nullptr);
    ~ChatSession() override;
    // The view is going: the session ends and never uses the view again. While one of
    // its handlers still runs (a dialog open inside it) the session is deleted once
    // that handler returns, so no handler needs to check whether it still exists.
    static void release(std::unique_ptr<ChatSession> session);

    const SessionState& state() const { return m_state; }
    const ProfileRecord& profile() const { return m_profile; }
    bool profileLoaded() const { return m_profileLoaded; }
    RoomTable& rooms() { return m_rooms; }
    const RoomTable& rooms() const { return m_rooms; }
    platform::Socket& chatSocket() { return *m_wskChat; }
    FileSend& fileSend() { return *m_fileSend; }
    const KivaraTimings& timings() const { return m_timings; }

    // Starting, in ChatInit's steps: the network check, the settings and the
    // rooms; the profile (false when there is none); the own row, once the
    // profile is known; the own address kept current; the chat and file ports.
    void prepare();
    bool loadProfile();
    void profileReady(bool haveProfile);
    void keepAddressCurrent();
    // 0, or -1 when another session of this computer holds the chat port (after the message).
    int openPorts();
    // Ends the session: what leaving every room sends goes out, the sockets close.
    void end();

    // ---- What the automation interface does ----
    bool Alone(short nRoom) const;
    // The CallStatus property's setter: the state only, nothing shown or sent.
    void setCallStatus(CallState state) { storeCallState(state); }
    int ChangeUserName(const QString& sNewName);
    int ClosePrivateRoom(const QString& tag);
    int DataRcvd(const QStringList& vData, bool bPassed);
    short OpenPrivateRoom(const QStringList& vData);
    QString UserProfile(short nIndex, const QString& sUserName) const;
    int Connect(const QString& sRemoteHost, int lRemotePort);
    void setRemoteHost(const QString& host);
    void setRemotePort(int port);
    void setTrayOpened(bool opened) { m_state.trayOpened = opened; }
    // The options changed: the profile reread (own rows follow), a chat name changed
    // elsewhere told to the others, and the colours and sounds.
    void reloadProfile();
    void announceChatName();
    void readPreferences();
    void SetStatus(const QString& sStatus);
    int ShowUser(const QStringList& vData);
    int ShowFile(const QStringList& vData);
    int DataSend(short nSendMode, const QString& sData = QString(), const QString& sData2 = QString());
    int DataPass(const QString& sDataPass);
    int Disconnect(bool bPrompt);
    bool RunCommandLine(const QString& text);
    // One datagram read from the chat port, from sender's address.
    void HandleDatagram(const QByteArray& datagram, const QString& sender);
    void SetCallStatus(CallState state, const QString& text = QString());
    void SetNetworkState(short state);
    // The cancel button: gives up a call being placed or waiting to enter, or a file transfer.
    void CancelCall();
    int CancelFileTransfer();
    void ToggleIgnore(Participant row);
    void RequestPrivateRoom(const QString& name);
    // /part, /leave, /quit: tells the room's others, then closes a private room
    // or empties the public one.
    void LeaveRoom(int position);
    // Closing the form: what leaving every room sends, without touching the rooms.
    void LeaveOnClose();
    void OwnRowEdited(QString oldName, QString newName);
    bool refuseChatName(const QString& name);
    void renameOwnRows(const QString& name);
    void updateOwnRows();
    void ShowRoomName();
    UserRecord ownRecord() const;
    void PlayAlert(int kind);
    // This session's own store access, made on first use.
    StoreAccess& store();
    // The user's conversation history, shared with the process's other sessions.
    std::shared_ptr<History> history();

Q_SIGNALS:
    // Raised by every SetCallStatus.
    void callStatusChanged(kv::control::CallState state);

private:
    // Held by every handler that may open a dialog or wait: a released session lives on
    // until the last of them returns.
    class Running {
    public:
        explicit Running(ChatSession& session) : m_session(session) { ++m_session.m_running; }
        ~Running()
        {
            if (--m_session.m_running == 0 && m_session.m_released) m_session.deleteLater();
        }
        Running(const Running&) = delete;
        Running& operator=(const Running&) = delete;

    private:
        ChatSession& m_session;
    };

    // Asks through the prompt service; a session that ended asks nothing and gets Cancel.
    platform::MsgResult MsgBox(const QString& text, platform::MsgButtons buttons, platform::MsgIcon icon);

    // A chat or notice line shown in a room, and kept in the history while that is on.
    void showChatLine(Room& room, const QString& name, const QColor& color, const QString& text);
    void showNoticeLine(Room& room, const QString& name, const QString& text);

    void onChatDatagram();
    void onChatError(int number, const QString& description);
    bool confirmDumpUser(const QString& name);
    // Connect's checks of the host and port; a failing one is told and sets the call idle.
    bool checkCallTarget();
    // Every change of the call state is stored here. While a call is being placed it
    // rings on in the states that wait for an answer, and ends in the others.
    void storeCallState(CallState next);
    // One ring of a call being placed: HELLO while calling, and the call sound.
    void ring();
    void stopPlacing();
    void onMainTimer();
    // The call's outer bound passed while still ringing or waiting to enter.
    void giveUpUnanswered();
    // GIVEUP to the party this session is calling.
    void sendGiveUp();
    // Finds the message word's handler in one table; unknown words are ignored.
    void dispatch(const Fields& f, bool bPassed, const QString& sender);
    // One handler per message word. They change rooms and state; what shows it goes
    // through the view.
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
    // True when the caller came in.
    bool answerCaller(short choice, const UserRecord& caller, const QString& own);
    void refuseCaller(const UserRecord& caller, const QString& own);
    // A caller taken to a private room is welcomed once its room opens here; a caller
    // who never opens it is given up after privateRoomWaitMs.
    void admitPrivately(const UserRecord& caller, bool found);
    void privateRoomOpened(const QString& name);
    void privateAdmissionExpired(const QString& name);
    void welcomeCaller(const UserRecord& caller, bool found);
    // False when the user declined the contact.
    bool offerAutoContact(const QString& caller, bool found);
    bool knownHost(const QString& sender) const;
    // A row of another participant by name; never the local user's own row 1.
    Participant otherRow(const Room& room, const QString& name) const;
    bool removeOther(Room& room, const QString& name);
    void closeFormWhenAloneFromTray();
    // DataSend's longer modes: ROOMLIST to an admitted caller, LEAVE of a room, FILEPREP
    // (an empty path asks for one first).
    void sendRoomList();
    void sendLeave(const QString& tag, const QString& position);
    int prepareFileOffer(int position, const QString& name, QString path);
    // File offers: one at a time to the party in the room at position; the rest queue.
    int offerFile(int position, const QString& name, const QString& path);
    void offerNextFile();
    void UpdateShownContact(const QString& match, bool alsoEmpty,
                            const QList<std::pair<QString, QString>>& userProperties,
                            const QList<std::pair<QString, QString>>& members = {});

    SessionView* m_view;
    int m_running = 0;       // handlers of this session on the stack
    bool m_released = false; // deleted when the last of them returns
    KivaraTimings m_timings;
    SessionState m_state;
    ProfileRecord m_profile;
    bool m_profileLoaded = false;
    bool m_sessionEnded = false;
    RoomTable m_rooms;
    platform::Socket* m_wskChat = nullptr;
    platform::Socket* m_wskProbe = nullptr;
    FileSend* m_fileSend = nullptr; // the wskFile pool and the transfers
    QTimer* m_tmrMain = nullptr;
    QTimer* m_tmrRing = nullptr;      // the rings of a call being placed
    QTimer* m_tmrCallBound = nullptr; // the outer bound of a call being placed
    std::unique_ptr<StoreAccess> m_store;
    std::shared_ptr<History> m_history;
    struct QueuedFile {
        QString tag; // the room it was offered in
        QString name;
        QString path;
    };
    std::deque<QueuedFile> m_fileQueue;
    bool m_placing = false; // Connect waits for this call's outcome
    struct PrivateAdmission {
        UserRecord caller;
        bool found = false; // the caller was in the list before calling
    };
    QList<PrivateAdmission> m_privateAdmissions; // callers whose private room has not opened yet
    std::optional<PrivateAdmission> takePrivateAdmission(const QString& name);
    bool m_fromNetwork = false; // the message being dispatched came in a datagram
    QString m_datagramSender;   // and from this address
};

} // namespace kv::control
