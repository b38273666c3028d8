#include "Vigilo/Monitor/CallPort.h"

#include "Vigilo/Monitor/Log.h"
#include "Vigilo/Monitor/MonitorStore.h"

#include "Platform/Outlook/Outlook.h"
#include "Platform/Prompt.h"
#include "Platform/Socket.h"
#include "Shared/Log.h"
#include "Shared/PeerslipMail.h"
#include "Shared/Protocol.h"

#include <QFile>
#include <QPointer>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace kv::vigilo {

namespace ol = kv::outlook;
using platform::MsgBox;
using platform::MsgButtons;
using platform::MsgIcon;
using platform::MsgResult;
using platform::Socket;

namespace {
// A left message that carries a Peerslip ends with the invitation's lines,
// after two more carriage returns.
constexpr QStringView FooterLead = u"\r\r";
} // namespace

CallPort::CallPort(MonitorStore& store, CallPortWindow& window, int ringMs, QObject* parent)
    : QObject(parent), m_store(store), m_window(window)
{
    m_wskTray = new Socket(Socket::Protocol::Udp, this);
    m_wskTray->setObjectName(u"wskTray"_s);
    connect(m_wskTray, &Socket::DataArrival, this, [this] { onDataArrival(); });
    m_tmrRing = new QTimer(this);
    m_tmrRing->setObjectName(u"tmrRing"_s);
    m_tmrRing->setInterval(ringMs);
    connect(m_tmrRing, &QTimer::timeout, this, [this] { m_window.playRing(); });
}

CallPort::~CallPort() = default;

int CallPort::Bind()
{
    m_wskTray->setLocalPort(MonitorDatagramPort);
    return m_wskTray->Bind();
}

bool CallPort::ringing() const
{
    return m_tmrRing->isActive();
}

void CallPort::stopRing()
{
    m_tmrRing->stop();
}

void CallPort::onDataArrival()
{
    const QByteArray datagram = m_wskTray->GetData();
    HandleDatagram(datagram, m_wskTray->RemoteHostIP());
}

void CallPort::HandleDatagram(const QByteArray& datagram, const QString& source)
{
    ++m_datagramsHandled;
    const bool enciphered = IsScrambledDatagram(datagram);
    const QStringList fields = ReadDatagram(datagram);
    const QString name = fields.value(field::Name);
    if (name == msg::Hello) {
        onHello(fields, enciphered, source);
    } else if (name == msg::DoneHello || name == msg::GiveUp) {
        ResetCall();
        m_tmrRing->stop();
    } else if (name == msg::Message) {
        onMessage(fields, source);
    } else {
        qCDebug(lcMonitor).nospace() << "datagram " << name.left(MaxLoggedWord) << " from "
                                     << qUtf8Printable(source) << " ignored: not a word of the call port";
    }
}

void CallPort::ResetCall()
{
    m_callFields.clear();
    m_window.callEnded();
}

// The chat control's availability menu saves the shared profile too: the
// stored availability is the user's latest choice, wherever it was made.
void CallPort::adoptStoredStatus()
{
    ProfileRecord stored;
    if (!LoadProfile(Deliverable::Vigilo, stored) && !stored.UserStatus.isEmpty() &&
        stored.UserStatus != m_profile.UserStatus) {
        m_profile.UserStatus = stored.UserStatus;
        m_window.applyStatus(stored.UserStatus);
    }
}

void CallPort::onHello(const QStringList& fields, bool enciphered, const QString& source)
{
    if (m_inUnavailablePrompt) {
        qCDebug(lcMonitor, "HELLO from %s ignored: still asking the user about an earlier call",
                qUtf8Printable(source));
        return;
    }
    // A HELLO without a whole user record cannot be answered or handed on: ignored.
    if (fields.size() < 1 + UserRecord::FieldCount) {
        qCDebug(lcMonitor, "HELLO from %s ignored: %lld of the %d fields a caller's record needs",
                qUtf8Printable(source), qlonglong(fields.size()), 1 + UserRecord::FieldCount);
        return;
    }
    m_callFields = fields;
    m_callSource = source;
    const bool wasParked = m_window.parked();
    adoptStoredStatus();
    if (declined(fields[field::Record], source, wasParked)) return;
    m_inUnavailablePrompt = false;
    ring(fields, enciphered, source, wasParked);
}

bool CallPort::declined(const QString& callerName, const QString& source, bool wasParked)
{
    if (m_profile.UserStatus == traytext::Unavailable) {
        if (m_autoIgnore) {
            qCDebug(lcMonitor, "call from %s declined: unavailable, calls ignored", qUtf8Printable(source));
            SendBusyReply(traytext::CannotTalk.toString());
            return true;
        }
        m_inUnavailablePrompt = true;
        const MsgResult answer = MsgBox(callerName + traytext::UnavailableCallingAfter.toString(),
                                        MsgButtons::YesNo, MsgIcon::Question);
        if (answer != MsgResult::Yes) {
            qCDebug(lcMonitor, "call from %s declined: unavailable, the user did not answer",
                    qUtf8Printable(source));
            m_callSource = source;
            SendBusyReply(traytext::CannotTalk.toString());
            if (wasParked) m_window.park();
            m_inUnavailablePrompt = false;
            return true;
        }
        m_window.applyStatus(traytext::Available.toString());
    }
    if (m_profile.UserStatus == traytext::OutOfOffice) {
        qCDebug(lcMonitor, "call from %s declined: out of office", qUtf8Printable(source));
        SendBusyReply(m_profile.UserStatus);
        return true;
    }
    return false;
}

void CallPort::ring(const QStringList& fields, bool enciphered, const QString& source, bool wasParked)
{
    const QString& callerName = fields[field::Record];
    m_window.callRinging();
    m_window.playRing();
    m_tmrRing->start();

    const QString reply = BuildHelloWait(m_profile.ChatName);
    m_wskTray->setRemoteHost(source);
    m_wskTray->setRemotePort(ChatDatagramPort);
    m_wskTray->SendData(enciphered ? FrameDatagram(reply) : PlainDatagram(reply));
    m_window.notify(NoticeKind::Call, traytext::CallNotice.toString().arg(callerName));
    m_window.callShown(callerName);

    QPointer<CallPort> self(this);
    m_window.handOff(fields, source);
    if (!self) return;

    ResetCall();
    m_tmrRing->stop();
    m_window.handOffReturned(wasParked);
}

QString CallPort::IgnoreCall()
{
    if (!ringing()) return {};
    m_tmrRing->stop();
    SendBusyReply(traytext::CannotTalk.toString());
    const QString caller = m_callFields.value(field::Record);
    ResetCall();
    return caller;
}

void CallPort::SendBusyReply(const QString& text)
{
    QStringList record = ShortProfileFieldString(m_profile).split(FieldSeparator);
    if (record.size() > 1) record[1] = text;
    m_wskTray->setRemoteHost(m_callSource);
    m_wskTray->setRemotePort(ChatDatagramPort);
    // Always plain, whatever the HELLO was.
    m_wskTray->SendData(PlainDatagram(msg::RoomList + FieldSeparator + word::PublicRoomTag + FieldSeparator +
                                      record.join(FieldSeparator)));
}

void CallPort::onMessage(const QStringList& fields, const QString& source)
{
    // Without the writer's whole record there is nobody to show it from: ignored.
    if (fields.size() < 1 + UserRecord::FieldCount) {
        qCDebug(lcMonitor, "MESSAGE from %s ignored: %lld of the %d fields a writer's record needs",
                qUtf8Printable(source), qlonglong(fields.size()), 1 + UserRecord::FieldCount);
        return;
    }
    if (StoreMessage(fields) != 0)
        m_window.notify(NoticeKind::Failure, traytext::MessageNotStored.toString().arg(
                                                 fields[field::Record], m_store.msgFolderName()));
}

int CallPort::StoreMessage(const QStringList& fields)
{
    const auto f = [&](int i) { return fields.value(i); };
    // A missing Messages folder is made rather than losing the message.
    if (!m_store.HoldsMessages() && m_store.OpenMessages() != 0 && m_store.CreateMessages() != 0) return -1;
    const ol::Item item = m_store.messagesFolder().Items().Add(ol::KivaraMessageClass.toString());
    if (!item) return -1;
    item.setSentOnBehalfOfName(f(1));
    item.setSubject(f(field::MessageSubject));
    QString body = f(field::MessageText);
    const bool withPeerslip = f(field::MessageHasPeerslip) == word::FlagOn;
    if (withPeerslip) body += FooterLead.toString() + PeerslipMailBody(MailBodyBreaks);
    item.setBody(body);
    if (withPeerslip) {
        const QString temp = WriteTempPeerslip(fields);
        if (!temp.isEmpty()) {
            item.Attachments().Add(temp, ol::olByValue, PeerslipAttachmentPosition,
                                   f(1) + traytext::PeerslipSuffix.toString());
            QFile::remove(temp);
        } else {
            qCDebug(lcMonitor, "left message stored without its Peerslip: no temporary file for it");
        }
    }
    const ol::UserProperties props = item.UserProperties();
    const auto set = [&](const QString& name, const QVariant& value) {
        if (const ol::UserProperty p = props.Find(name)) p.setValue(value);
    };
    set(u"IPAddress"_s, f(4));
    set(u"ChatName"_s, f(1));
    set(u"Availability"_s, f(2));
    set(u"MsgRead"_s, false);
    if (!item.Save()) {
        // The held folder may have gone: look it up afresh next time.
        m_store.Release();
        return -1;
    }
    item.Move(m_store.messagesFolder());
    return 0;
}

} // namespace kv::vigilo
