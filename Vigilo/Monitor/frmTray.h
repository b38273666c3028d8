#pragma once
// The monitor's hidden window: the tray icon, the call port 8085, the ring and
// poll timers, the caller line, both combos, the message counter, the option
// bar and the pop-up menu. Its load checks the profile, the store and the
// network; its unload saves the settings.
#include "Shared/modUser.h"
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

// Texts shown by the monitor.
namespace traytext {
inline constexpr QStringView Title = u"Kivara for Microsoft Outlook";
inline constexpr QStringView WaitingForCall = u"Waiting for call...";
inline constexpr QStringView NoNetworkDetected = u"No network detected.";
inline constexpr QStringView NoNetworkAvailable = u"No network available.";
inline constexpr QStringView NoNetworkTip = u"No network available";
inline constexpr QStringView NoOutlook = u"No Outlook connection.";
inline constexpr QStringView NoNewMessages = u"No new messages";
inline constexpr QStringView UnreadSuffix = u" unread";
inline constexpr QStringView IncomingCallFrom = u"Incoming call from:  ";
inline constexpr QStringView CannotTalk = u"I cannot talk now.  Please call back later.";
inline constexpr QStringView UnavailableCallingAfter =
    u" is calling, but your status indicates you are unavailable.\r\rWould you like to answer the call ?";
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
inline constexpr QStringView MessageNotStored = u"A message from %1 could not be stored in the '%2' folder.";
inline constexpr QStringView CallNotice = u"Incoming call from %1";
inline constexpr QStringView MessageNotice = u"A new Kivara message has arrived.";
inline constexpr QStringView Unavailable = u"Unavailable";
inline constexpr QStringView OutOfOffice = u"Out of Office";
inline constexpr QStringView Available = u"Available";
inline constexpr QStringView BeRightBack = u"Be Right Back";
inline constexpr QStringView Separator = u"-----------------";
inline constexpr QStringView PeerslipSuffix = u"'s Peerslip";
} // namespace traytext

// Rows of the availability combo and submenu.
QStringList AvailabilityRows();
// The row of an availability text: unknown texts and the empty text give row 0.
int AvailabilityRow(const QString& text);

// The Dorvan command words and the help context of the first run.
inline constexpr QStringView OpenKvFolder = u"openkvfolder";
inline constexpr QStringView OpenKvMessage = u"openkvmessage";
inline constexpr QStringView OpenerProgram = u"/dorvan";
inline constexpr int FirstRunHelpContext = 1005;
inline constexpr QStringView ProductWebPage = u"http://www.kivara.com";

struct MonitorTimings {
    int ringMs = 3000;
    int pollMs = 10000;
    int socketCloseWaitMs = 5000;
};

// What the last desktop notification was about; a click on it acts on that.
enum class NoticeKind { None, Call, Message, Failure };

class frmTray : public QWidget {
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

    // Listener: one datagram read from the call port, from source's address.
    void HandleDatagram(const QByteArray& datagram, const QString& source);
    void ResetCallDisplay();
    void PlayRing();
    void SendBusyReply(const QString& text);
    // Stores a left message (fields of a MESSAGE). 0, or -1 when it could not be stored.
    int StoreMessage(const QStringList& fields);

    // Poll and availability
    void Poll();
    int CountUnread(int& count);
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
    bool inUnavailablePrompt() const { return m_inUnavailablePrompt; }
    bool ringing() const;
    QStringList callFields() const { return m_callFields; }
    bool soundOn() const { return m_soundOn; }
    bool displayOnCall() const { return m_autoAnswer; }
    QMenu* popupMenu() const { return m_popup; }
    MonitorStore& store() { return *m_store; }
    modTray& handOff() { return *m_tray; }
    platform::Socket& socket() { return *m_wskTray; }
    QList<QPair<NoticeKind, QString>> notices() const { return m_notices; }
    qint64 datagramsHandled() const { return m_datagramsHandled; }
    void noticeClicked();
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
    void onDataArrival();
    void onHello(const QStringList& fields, bool enciphered, const QString& source);
    void onMessage(const QStringList& fields);
    void onStatusCombo(int row);
    void onChatNameCommit();
    void onOkButton();
    void onTrayActivated(int reason);
    void startOpener(QStringView word);
    void hoverOption(int index);
    void notify(NoticeKind kind, const QString& text);
    void unload();
    int bindCallPort();
    bool adoptTray();
    void park();
    bool parked() const;

    std::unique_ptr<Ui::frmTray> ui;
    MonitorTimings m_timings;
    std::unique_ptr<MonitorStore> m_store;
    std::unique_ptr<modTray> m_tray;
    platform::Socket* m_wskTray = nullptr;
    platform::Socket* m_wskConnect = nullptr;
    QTimer* m_tmrRing = nullptr;
    QTimer* m_tmrConnect = nullptr;
    QSystemTrayIcon* m_trayIcon = nullptr;
    std::function<bool()> m_trayProbe = &QSystemTrayIcon::isSystemTrayAvailable;
    QMenu* m_popup = nullptr;
    QMenu* m_statusMenu = nullptr;
    QList<QAction*> m_mnuP;
    QList<QAction*> m_mnuS;
    QList<QLabel*> m_imgOptions;
    int m_hovered = -1;

    ProfileRecord m_profile;
    QString m_installDir;
    QString m_serialNum;
    QString m_ringFile;
    bool m_soundOn = true;
    bool m_autoAnswer = false;
    bool m_autoIgnore = false;
    int m_alwaysOnTop = 0;

    short m_networkState = 0;
    short m_previousNetworkState = 0;
    short m_outlookError = 0;
    int m_lastUnreadCount = 0;
    bool m_hasUnread = false;
    int m_iconIndex = iconindex::Other;
    QString m_tip;
    bool m_inStatusUpdate = false;
    bool m_inUnavailablePrompt = false;
    bool m_closingNoPrompt = false;
    bool m_unloaded = false;
    QStringList m_callFields;
    QString m_callSource;
    QList<QPair<NoticeKind, QString>> m_notices;
    qint64 m_datagramsHandled = 0;
    bool m_inPoll = false;
};

} // namespace kv::vigilo
