#pragma once
// The monitor's hidden window: the tray icon, the poll timer, the caller line,
// both combos, the message counter, the option bar and the pop-up menu, over
// the call port (CallPort), whose window it is. Its load checks the profile,
// the store and the network; its unload saves the settings.
#include "Shared/modUser.h"
#include "Vigilo/Monitor/CallPort.h"
#include "Vigilo/Monitor/TrayIcons.h"

#include <QIcon>
#include <QList>
#include <QPointer>
#include <QStringList>
#include <QStringView>
#include <QSystemTrayIcon>
#include <QWidget>
#include <functional>
#include <memory>

class QAction;
class QLabel;
class QMenu;
class QTimer;

namespace Ui {
class frmTray;
}
namespace kv::platform {
class Socket;
}

namespace kv::vigilo {

class MonitorStore;
class modTray;

// Texts shown by the monitor; those of the call port are in CallPort.h.
namespace traytext {
inline constexpr QStringView Title = u"Kivara for Microsoft Outlook";
inline constexpr QStringView WaitingForCall = u"Waiting for call...";
inline constexpr QStringView NoNetworkDetected = u"No network detected.";
inline constexpr QStringView NoNetworkAvailable = u"No network available.";
inline constexpr QStringView NoNetworkTip = u"No network available";
inline constexpr QStringView NoOutlook = u"No Outlook connection.";
inline constexpr QStringView CallPortTaken = u"Another program holds the call port: no calls can arrive.";
inline constexpr QStringView NoNewMessages = u"No new messages";
inline constexpr QStringView UnreadSuffix = u" unread";
inline constexpr QStringView IncomingCallFrom = u"Incoming call from:  ";
inline constexpr QStringView NoProfile = u"Your Kivara Profile was not found.\r\rYou must create a profile "
                                         u"before using Kivara for Microsoft Outlook.";
inline constexpr QStringView NoNetworkAtStart = u"You are not connected to the network or Internet.\r\rYou "
                                                u"must connect to the network to receive incoming "
                                                u"calls.";
inline constexpr QStringView OutlookErrors =
    u"Kivara Monitor encountered one or more errors connecting to Outlook.\r\rPlease resolve the errors and "
    u"restart Kivara Monitor.";
inline constexpr QStringView AlreadyRunning = u"Kivara Monitor is already running.";
inline constexpr QStringView ExitQuestion = u"If you close the Kivara Monitor you will not receive incoming "
                                            u"calls.\r\rAre you sure you want to exit ?";
inline constexpr QStringView NewMessageQuestion =
    u"A new Kivara message has arrived.  Would you like to read it now ?";
inline constexpr QStringView MessageNotice = u"A new Kivara message has arrived.";
inline constexpr QStringView BeRightBack = u"Be Right Back";
inline constexpr QStringView Separator = u"-----------------";
inline constexpr QStringView AnswerAction = u"Answer";
inline constexpr QStringView IgnoreAction = u"Ignore";
inline constexpr QStringView OpenAction = u"Open";
} // namespace traytext

// Rows of the availability combo and submenu.
QStringList AvailabilityRows();
// The row of an availability text: unknown texts and the empty text give row 0.
int AvailabilityRow(const QString& text);

// The Dorvan command words and the help context of the first run.
inline constexpr QStringView OpenKvFolder = u"openkvfolder";
inline constexpr QStringView OpenKvMessage = u"openkvmessage";
inline constexpr QStringView OpenReceivedFiles = u"receivedfiles";
inline constexpr QStringView ReceivedFilesCaption = u"&Received Files";
inline constexpr QStringView OpenerProgram = u"/dorvan";
inline constexpr int FirstRunHelpContext = 1005;
inline constexpr QStringView ProductWebPage = u"http://www.kivara.com";

struct MonitorTimings {
    int ringMs = 3000;
    int pollMs = 10000;
};

class frmTray : public QWidget, private CallPortWindow {
    Q_OBJECT
public:
    explicit frmTray(const MonitorTimings& timings = {}, QWidget* parent = nullptr);
    ~frmTray() override;

    // Window load after the previous-instance test: position, tray icon,
    // availability rows, ChatInit, command line, first run. False when the
    // monitor unloaded itself (the program ends).
    bool Load(const QString& commandLine);
    int ChatInit();
    void HandleCommandLine(const QString& commandLine);

    // The call is over: the call port forgets it and the window waits for the next.
    void ResetCallDisplay();

    // Poll and availability
    void Poll();
    void ApplyStatus(const QString& text);
    void SetTopMost(bool topMost);
    void ShowMonitor();
    void MenuClick(int index);
    void StatusMenuClick(int index);
    void OptionClick(int index);
    void ShowOptions();

    // Closing: fromUser true for the window's own close or code, false for a
    // session end (no question). Returns true when the window unloaded.
    bool RequestClose(bool ask = true);
    bool isUnloaded() const { return m_unloaded; }

    // State that tests observe.
    QString availability() const { return m_profile.UserStatus; }
    const ProfileRecord& profile() const { return m_profile; }
    IconFamily iconFamily() const { return m_hasUnread ? IconFamily::Msg : IconFamily::Plain; }
    int iconIndex() const { return m_iconIndex; }
    QString toolTip() const { return m_tip; }
    bool hasUnread() const { return m_hasUnread; }
    int lastUnreadCount() const { return m_lastUnreadCount; }
    short networkState() const { return m_networkState; }
    QString callerLine() const;
    short outlookError() const { return m_outlookError; }
    bool inUnavailablePrompt() const { return m_port->inUnavailablePrompt(); }
    bool ringing() const { return m_port->ringing(); }
    QStringList callFields() const { return m_port->callFields(); }
    bool soundOn() const { return m_soundOn; }
    bool displayOnCall() const { return m_autoAnswer; }
    QMenu* popupMenu() const { return m_popup; }
    MonitorStore& store() { return *m_store; }
    modTray& handOff() { return *m_tray; }
    CallPort& callPort() { return *m_port; }
    platform::Socket& socket() { return m_port->socket(); }
    QList<QPair<NoticeKind, QString>> notices() const { return m_notices; }
    void noticeClicked();
    // An action chosen on the desktop notification of a call or a message.
    void noticeAction(NoticeKind kind, const QString& key);
    // Whether the desktop has a tray; asked at start and at each poll until it has.
    void setTrayProbe(std::function<bool()> probe);
    bool hasTrayIcon() const { return m_trayIcon != nullptr; }

Q_SIGNALS:
    // The window has unloaded: the program ends.
    void unloaded();

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;

private:
    void buildMenu();
    void readSettings();
    void SetUpMessageTaking();
    void fillChatNames(int selectRow);
    void setTrayIcon(int index);
    void setTip(const QString& tip);
    void setCallerBold(bool bold);
    void onStatusCombo(int row);
    void onChatNameCommit();
    void onOkButton();
    void onTrayActivated(int reason);
    void startOpener(QStringView word);
    // The entries that are not among the numbered ones, placed before `before`.
    void addSideEntries(QAction* before);
    void hoverOption(int index);
    void unload();
    bool adoptTray();
    // The desktop's do-not-disturb: no sounds, and calls notified without insisting.
    static bool quiet();
    void showActionNotice(NoticeKind kind, const QString& text);
    void closeCallNotice();

    // The call port's window.
    bool parked() const override;
    void park() override;
    void applyStatus(const QString& text) override { ApplyStatus(text); }
    void callRinging() override;
    void playRing() override;
    void callShown(const QString& callerName) override;
    void handOff(const QStringList& fields, const QString& source) override;
    void callEnded() override;
    void handOffReturned(bool wasParked) override;
    void notify(NoticeKind kind, const QString& text) override;

    std::unique_ptr<Ui::frmTray> ui;
    MonitorTimings m_timings;
    std::unique_ptr<MonitorStore> m_store;
    std::unique_ptr<modTray> m_tray;
    std::unique_ptr<CallPort> m_port;
    // The call port's profile, which the window shows and edits.
    ProfileRecord& m_profile;
    platform::Socket* m_wskConnect = nullptr;
    QTimer* m_tmrConnect = nullptr;
    QSystemTrayIcon* m_trayIcon = nullptr;
    std::function<bool()> m_trayProbe = &QSystemTrayIcon::isSystemTrayAvailable;
    QMenu* m_popup = nullptr;
    QMenu* m_statusMenu = nullptr;
    QList<QAction*> m_mnuP;
    QList<QAction*> m_mnuS;
    QList<QLabel*> m_imgOptions;
    int m_hovered = -1;

    QString m_installDir;
    QString m_serialNum;
    QString m_ringFile;
    bool m_soundOn = true;
    bool m_autoAnswer = false;
    int m_alwaysOnTop = 0;

    short m_networkState = 0;
    short m_previousNetworkState = 0;
    short m_outlookError = 0;
    int m_lastUnreadCount = 0;
    bool m_hasUnread = false;
    int m_iconIndex = iconindex::Other;
    QString m_tip;
    bool m_inStatusUpdate = false;
    bool m_closingNoPrompt = false;
    bool m_unloaded = false;
    QList<QPair<NoticeKind, QString>> m_notices;
    // The ringing call's desktop notification, 0 when none is shown.
    int m_callNotice = 0;
    bool m_inPoll = false;
};

} // namespace kv::vigilo
