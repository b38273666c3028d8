// Placing a call: Connect's checks and its HELLO loop, the supervision timer,
// cancelling, and the remote host and port.
#include "Control/Session/ChatSession.h"

#include "Control/Session/FileSend.h"
#include "Platform/Events.h"
#include "Platform/Prompt.h"
#include "Platform/Socket.h"
#include "Shared/StoreAccess.h"

#include <QElapsedTimer>
#include <QScopeGuard>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace kv::control {

using platform::MsgBox;
using platform::MsgButtons;
using platform::MsgIcon;
using platform::MsgResult;

namespace {

namespace text {
constexpr QStringView NoNetworkForCall =
    u"No network services were detected.\r\rYou must connect to the network to connect a call.";
constexpr QStringView NoRemoteHost = u"No Remote Host specified.";
constexpr QStringView NoRemoteHostHint = u"\r\rYou must specify an IP Address or Computer name.";
constexpr QStringView OwnComputer =
    u"You cannot place a call to your own computer.\r\rPlease check the IP Address and try again.";
constexpr QStringView NoRemotePort = u"No Remote Port specified.";
constexpr QStringView NoAnswer = u"Cannot connect to specified Contact.\r\rStatus: No answer.";
constexpr QStringView KeepWaiting =
    u"The user you are calling has responded, but is not answering your call.\r\rWould "
    u"you like to continue to wait ?";
constexpr QStringView NotLetIn = u"The contact you called did not let you in.\r\rThe call was ended.";
constexpr QStringView CallTo = u"Call to ";
constexpr QStringView Cancelled = u" cancelled.";
} // namespace text

constexpr short HelloMode = 0, GiveUpMode = 19;
constexpr int PausesPerHello = 4;

} // namespace

int ChatSession::Connect(const QString& sRemoteHost, int lRemotePort)
{
    if (m_state.networkState == 1) {
        MsgBox(text::NoNetworkForCall.toString(), MsgButtons::OK, MsgIcon::Information);
        return -1;
    }
    if (m_state.callStatus == call::WaitingToEnter) return -1;
    // A call already being placed keeps its own loop; a second one would only double the HELLOs.
    if (m_connecting) return -1;
    if (!sRemoteHost.isEmpty()) setRemoteHost(sRemoteHost);
    if (lRemotePort > 0) setRemotePort(lRemotePort);
    if (!checkCallTarget()) return -1;
    // A flag left from an earlier call must not turn this call's outcome into a cancellation.
    m_state.callCancelled = false;
    m_view.showBusy(true);
    // Every way out restores the pointer, a form closed while ringing included.
    QPointer<ChatSession> session(this);
    const auto cursor = qScopeGuard([this, session] {
        if (session) m_view.showBusy(false);
    });
    m_wskChat->setRemoteHost(m_state.remoteHost);
    m_wskChat->setRemotePort(m_state.remotePort);
    SetCallStatus(call::Calling);

    m_connecting = true;
    if (!ringUntilAnswered()) return -2;
    m_connecting = false;
    if (m_state.callStatus == call::Connected) return 0;
    if (m_state.callCancelled) {
        m_state.callCancelled = false;
        return Alone(0) ? -3 : -4;
    }
    return -2;
}

bool ChatSession::checkCallTarget()
{
    if (m_state.remoteHost.isEmpty()) {
        m_view.showPanel(1, text::NoRemoteHost.toString());
        MsgBox(text::NoRemoteHost.toString() + text::NoRemoteHostHint.toString(), MsgButtons::OK,
               MsgIcon::Information);
        SetCallStatus(call::Idle);
        return false;
    }
    if (m_state.remoteHost == platform::Socket::LocalIP()) {
        MsgBox(text::OwnComputer.toString(), MsgButtons::OK, MsgIcon::Information);
        SetCallStatus(call::Idle);
        return false;
    }
    if (m_state.remotePort == 0) {
        m_view.showPanel(1, text::NoRemotePort.toString());
        MsgBox(text::NoRemotePort.toString(), MsgButtons::OK, MsgIcon::Information);
        SetCallStatus(call::Idle);
        return false;
    }
    return true;
}

bool ChatSession::ringUntilAnswered()
{
    QPointer<ChatSession> self(this);
    QElapsedTimer elapsed;
    elapsed.start();
    auto ringing = [this] {
        return m_state.callStatus == call::Calling || m_state.callStatus == call::WaitingToEnter;
    };
    for (;;) {
        if (!self || m_sessionEnded) break;
        const short status = m_state.callStatus;
        if (status == call::Connected) break;
        if (status == call::Calling) {
            // The HELLO goes to the callee's monitor; other sends in between move the socket's target.
            m_wskChat->setRemoteHost(m_state.remoteHost);
            DataSend(HelloMode);
            if (!self) break; // sending may let events run, the form's closing among them
        } else if (status == call::NoAnswer) {
            // A HELLO may have arrived without its answer coming back: the party called hears the end.
            sendGiveUp();
            SetCallStatus(call::Idle);
            if (!self) break;
            m_tmrMain->stop();
            break;
        } else if (status == call::Idle) {
            break;
        }
        if (elapsed.elapsed() > m_timings.callLoopBoundMs) {
            if (ringing()) giveUpUnanswered();
            break;
        }
        PlayAlert(1);
        for (int i = 0; i < PausesPerHello; ++i) {
            const short before = m_state.callStatus;
            platform::WaitUntil(
                [&] { return !self || m_sessionEnded || m_state.callStatus != before; }, m_timings.helloPauseMs);
            if (!self || m_sessionEnded || m_state.callStatus != before) break;
        }
    }
    return !self.isNull();
}

void ChatSession::sendGiveUp()
{
    // Other sends in between move the socket's target.
    if (!m_state.remoteHost.isEmpty()) m_wskChat->setRemoteHost(m_state.remoteHost);
    DataSend(GiveUpMode);
}

void ChatSession::giveUpUnanswered()
{
    m_tmrMain->stop();
    // The party called hears the end too, or its admission dialog would wait on.
    sendGiveUp();
    SetCallStatus(call::Idle);
    m_view.showPanel(1, text::CallTo.toString() + m_state.remoteHost + text::Cancelled.toString());
    MsgBox(text::NotLetIn.toString(), MsgButtons::OK, MsgIcon::Information);
}

void ChatSession::onMainTimer()
{
    switch (m_state.callStatus) {
    case call::Calling:
        // No second tick while the message is up.
        m_tmrMain->stop();
        MsgBox(text::NoAnswer.toString(), MsgButtons::OK, MsgIcon::Information);
        if (m_state.callStatus == call::Calling) m_state.callStatus = call::NoAnswer;
        break;
    case call::WaitingToEnter: {
        m_tmrMain->stop();
        const MsgResult answer = MsgBox(text::KeepWaiting.toString(), MsgButtons::YesNo, MsgIcon::Question);
        if (m_state.callStatus != call::WaitingToEnter) break; // answered while asking
        if (answer == MsgResult::No)
            CancelCall();
        else
            m_tmrMain->start();
        break;
    }
    default:
        break;
    }
}

void ChatSession::CancelCall()
{
    m_tmrMain->stop();
    QPointer<ChatSession> self(this);
    platform::DoEvents();
    if (!self) return;
    switch (m_state.callStatus) {
    case call::WaitingToEnter:
        sendGiveUp();
        platform::DoEvents();
        if (!self) return;
        SetCallStatus(call::Idle);
        m_view.showPanel(1, text::CallTo.toString() + m_state.remoteHost + text::Cancelled.toString());
        closeFormWhenAloneFromTray();
        break;
    case call::Calling:
        m_state.callCancelled = true;
        sendGiveUp();
        platform::DoEvents();
        if (!self) return;
        closeFormWhenAloneFromTray();
        SetCallStatus(m_rooms.publicRoom().rowCount() > 1 ? call::Connected : call::Idle);
        m_view.showPanel(1, text::CallTo.toString() + m_state.remoteHost + text::Cancelled.toString());
        break;
    case call::Connected:
        CancelFileTransfer();
        break;
    default:
        if (m_fileSend->busy())
            CancelFileTransfer();
        else
            m_state.callStatus = call::Idle;
        break;
    }
}

void ChatSession::closeFormWhenAloneFromTray()
{
    if (Alone(0) && m_state.trayOpened) m_view.closeForm();
}

} // namespace kv::control
