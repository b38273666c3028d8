#pragma once
// The monitor's call port without its window: reads the datagrams of UDP 8085,
// decides what a HELLO gets (a ring and HELLOWAIT, the busy reply at once, the
// unavailable question), stores left MESSAGEs and holds the call's state and
// the user's profile. What the user sees or hears and the hand-off to a
// contact form it asks of its window (CallPortWindow), so it links no widgets
// and runs on its own under tests and the fuzz harness.
#include "Shared/modUser.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QStringView>

class QTimer;

namespace kv::platform {
class Socket;
}

namespace kv::vigilo {

class MonitorStore;

// Texts of the call port; the window's own texts are in frmTray.h.
namespace traytext {
inline constexpr QStringView CannotTalk = u"I cannot talk now.  Please call back later.";
inline constexpr QStringView UnavailableCallingAfter =
    u" is calling, but your status indicates you are unavailable.\r\rWould you like to answer the call ?";
inline constexpr QStringView MessageNotStored = u"A message from %1 could not be stored in the '%2' folder.";
inline constexpr QStringView CallNotice = u"Incoming call from %1";
inline constexpr QStringView Unavailable = u"Unavailable";
inline constexpr QStringView OutOfOffice = u"Out of Office";
inline constexpr QStringView Available = u"Available";
inline constexpr QStringView PeerslipSuffix = u"'s Peerslip";
} // namespace traytext

// What the last desktop notification was about; a click on it acts on that.
enum class NoticeKind { None, Call, Message, Failure };

// What the call port needs of the window, in the order a HELLO asks for it.
class CallPortWindow {
public:
    virtual ~CallPortWindow() = default;
    // Out of the way (in the tray, or minimised without one), and putting it back there.
    virtual bool parked() const = 0;
    virtual void park() = 0;
    // An availability the port adopted: the stored one, or Available when the user answers.
    virtual void applyStatus(const QString& text) = 0;
    // A call rings: the window waits (busy, disabled) until the hand-off returns.
    virtual void callRinging() = 0;
    // One ring of the bell (at the start and at each tick of the ring timer).
    virtual void playRing() = 0;
    // HELLOWAIT went: the caller is shown.
    virtual void callShown(const QString& callerName) = 0;
    // Hands the call to a contact form. May run events, and may delete the window and the port.
    virtual void handOff(const QStringList& fields, const QString& source) = 0;
    // The call is over (handed off, given up or done): the display waits for the next.
    virtual void callEnded() = 0;
    // The hand-off returned: the window takes input again and goes back where it was.
    virtual void handOffReturned(bool wasParked) = 0;
    virtual void notify(NoticeKind kind, const QString& text) = 0;
};

class CallPort : public QObject {
    Q_OBJECT
public:
    CallPort(MonitorStore& store, CallPortWindow& window, int ringMs, QObject* parent = nullptr);
    ~CallPort() override;

    // Binds the call port (MonitorDatagramPort); 0, or the socket's error.
    int Bind();

    // One datagram read from the call port, from source's address.
    void HandleDatagram(const QByteArray& datagram, const QString& source);
    // The call is over: its fields go and the window shows that it waits.
    void ResetCall();
    // ROOMLIST with the user's short record, text in place of the availability, to the caller.
    void SendBusyReply(const QString& text);
    // The user will not take the ringing call: the caller hears that they cannot talk now,
    // and the bell and the display stop. The caller's name, or nothing when no call rang.
    QString IgnoreCall();
    // Stores a left message (fields of a MESSAGE). 0, or -1 when it could not be stored.
    int StoreMessage(const QStringList& fields);

    // The user's profile as the monitor holds it; the window edits it too.
    ProfileRecord& profile() { return m_profile; }
    const ProfileRecord& profile() const { return m_profile; }
    // Unavailable with this set declines a call at once, without asking.
    void setAutoIgnore(bool on) { m_autoIgnore = on; }
    bool autoIgnore() const { return m_autoIgnore; }

    platform::Socket& socket() { return *m_wskTray; }
    bool ringing() const;
    void stopRing();
    QStringList callFields() const { return m_callFields; }
    bool inUnavailablePrompt() const { return m_inUnavailablePrompt; }
    qint64 datagramsHandled() const { return m_datagramsHandled; }

private:
    void onDataArrival();
    void onHello(const QStringList& fields, bool enciphered, const QString& source);
    // Unavailable or away: the busy reply, at once or when the user says No. True when declined.
    bool declined(const QString& callerName, const QString& source, bool wasParked);
    void ring(const QStringList& fields, bool enciphered, const QString& source, bool wasParked);
    void onMessage(const QStringList& fields, const QString& source);
    void adoptStoredStatus();

    MonitorStore& m_store;
    CallPortWindow& m_window;
    platform::Socket* m_wskTray = nullptr;
    QTimer* m_tmrRing = nullptr;
    ProfileRecord m_profile;
    bool m_autoIgnore = false;
    bool m_inUnavailablePrompt = false;
    QStringList m_callFields;
    QString m_callSource;
    qint64 m_datagramsHandled = 0;
};

} // namespace kv::vigilo
