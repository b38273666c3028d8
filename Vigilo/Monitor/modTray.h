#pragma once
// The hand-off of calls to the chat control on a Kivara contact form: the
// form that is active, or the caller's own contact opened (or created
// unsaved) for the purpose; Peerslips stored as contacts and called; the
// availability and chat name forwarded to an open form.
#include "Shared/modUser.h"

#include <QPointer>
#include <QString>
#include <QStringList>
#include <QStringView>
#include <QVariant>
#include <memory>

class QWidget;
class QLabel;
class QTimer;

namespace kv::outlook {
class Inspector;
class Item;
} // namespace kv::outlook

namespace kv::vigilo {

class MonitorStore;

namespace handofftext {
inline constexpr QStringView WaitingTitle = u"Kivara Monitor - Incoming Call...";
inline constexpr QStringView WaitingText = u"Kivara Monitor is waiting for you to respond to an incoming "
                                           u"call.\r\rPlease switch to the Kivara Contact "
                                           u"Form window, and respond to the prompt.";
inline constexpr QStringView FormFailed =
    u"Could not open the specified contact form.\r\rPlease restart Microsoft Outlook and try again.";
inline constexpr QStringView PeerslipNotFound = u"The Peerslip you are trying to add was not found.\r\r";
inline constexpr QStringView FormNotInstalled =
    u"Cannot create new Kivara Contact item.  The Kivara Contact form is not installed.";
inline constexpr QStringView PeerslipAdded = u"The Peerslip was successfully added to your Contact folder.";
} // namespace handofftext

inline constexpr QStringView ChatPageName = u"Kivara";
inline constexpr QStringView ChatControlName = u"Kivara1";
// How long a hand-off call may block before the waiting notice shows, and the
// time-out restored afterwards.
inline constexpr int HandOffPendingMs = 2500;
inline constexpr int NormalPendingMs = 5000;
// Attempts to reach the control on a form before giving up on it.
inline constexpr int ControlAttempts = 3;

class modTray {
public:
    modTray(MonitorStore& store, QWidget* window);
    ~modTray();

    // fields: the HELLO's field list; sourceAddress: where the datagram came from.
    int HandOffCall(const QStringList& fields, const QString& sourceAddress);
    // Brings forward the form a hand-off is giving the call to, while it does.
    void ShowCallForm();
    // The user ignored the call being handed off: its form stops asking whether to let the caller in,
    // as when the caller gives up.
    void WithdrawCall(const QString& callerName);
    int NotifyFormStatus(const QString& text);
    int NotifyFormUserName(const QString& name);
    int CallFromPeerslip(const QString& path);
    void AddPeerslipContact(const QString& path);

    // The request-pending notice: its title and text while a hand-off runs,
    // and the time-out after which it shows.
    QString pendingTitle() const { return m_pendingTitle; }
    QString pendingText() const { return m_pendingText; }
    int pendingTimeoutMs() const { return m_pendingMs; }
    QWidget* pendingNotice() const;

private:
    struct PendingScope;
    // The control "Kivara1" on the inspector's page "Kivara", displayed and made current.
    QObject* TakeControl(const std::shared_ptr<outlook::Inspector>& inspector);
    outlook::Item FindOrAddContact(const QString& serialNum);
    void FillFromRecord(const outlook::Item& item, const ProfileRecord& record);
    int Notify(const QString& member, const QString& text);
    // Connects when the contacts folder is not held, or was taken from a
    // host that has gone since. 0 when connected.
    qint32 Connected();
    void ShowPending();
    void Fail();

    MonitorStore& m_store;
    QPointer<QWidget> m_window;
    QString m_pendingTitle;
    QString m_pendingText;
    int m_pendingMs = NormalPendingMs;
    QPointer<QWidget> m_notice;
    std::shared_ptr<outlook::Inspector> m_callForm;
    QPointer<QObject> m_callControl;
    QTimer* m_pendingTimer = nullptr;
};

} // namespace kv::vigilo
