// Placing a call: Connect's checks and its HELLO loop, the supervision timer,
// cancelling, and the remote host and port.
#include "Control/Session/ChatSession.h"

#include "Control/Session/FileSend.h"
#include "Platform/Events.h"
#include "Platform/Prompt.h"
#include "Platform/Socket.h"
#include "Shared/StoreAccess.h"

#include <QTimer>

using namespace Qt::StringLiterals;

namespace kv::control {

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

} // namespace

int ChatSession::Connect(const QString& sRemoteHost, int lRemotePort)
{
    const Running running(*this);
    if (m_state.networkState == 1) {
        MsgBox(text::NoNetworkForCall.toString(), MsgButtons::OK, MsgIcon::Information);
        return -1;
    }
    if (m_state.callStatus == CallState::WaitingToEnter) return -1;
    // A call already being placed rings on; a second one would only double the HELLOs.
    if (m_placing) return -1;
    if (!sRemoteHost.isEmpty()) setRemoteHost(sRemoteHost);
    if (lRemotePort > 0) setRemotePort(lRemotePort);
    if (!checkCallTarget()) return -1;
    // A flag left from an earlier call must not turn this call's outcome into a cancellation.
    m_state.callCancelled = false;
    m_view->showBusy(true);
    m_wskChat->setRemoteHost(m_state.remoteHost);
    m_wskChat->setRemotePort(m_state.remotePort);
    SetCallStatus(CallState::Calling);
    m_placing = true;
    m_tmrCallBound->start();
    ring();
    m_tmrRing->start();
    // The call runs on its timers and the answers that arrive; the caller of Connect
    // learns its outcome. Bound: the call's own outer bound ends placing before this.
    platform::WaitUntil([this] { return !m_placing; }, m_timings.callLoopBoundMs + m_timings.mainTimerMs);
    stopPlacing();
    m_view->showBusy(false);
    if (m_state.callStatus == CallState::Connected) return 0;
    if (m_state.callCancelled) {
        m_state.callCancelled = false;
        return Alone(0) ? -3 : -4;
    }
    return -2;
}

void ChatSession::storeCallState(CallState next)
{
    m_state.callStatus = next;
    if (!m_placing) return;
    switch (next) {
    case CallState::Connected:
    case CallState::Idle:
        stopPlacing();
        break;
    case CallState::NoAnswer:
        // A HELLO may have arrived without its answer coming back: the party called hears the end.
        stopPlacing();
        sendGiveUp();
        SetCallStatus(CallState::Idle);
        break;
    default:
        // A new state rings at once, then every HELLO interval.
        ring();
        m_tmrRing->start();
        break;
    }
}

void ChatSession::ring()
{
    if (m_state.callStatus == CallState::Calling) {
        // The HELLO goes to the callee's monitor; other sends in between move the socket's target.
        m_wskChat->setRemoteHost(m_state.remoteHost);
        DataSend(HelloMode);
    }
    PlayAlert(1);
}

void ChatSession::stopPlacing()
{
    m_placing = false;
    m_tmrRing->stop();
    m_tmrCallBound->stop();
}

bool ChatSession::checkCallTarget()
{
    if (m_state.remoteHost.isEmpty()) {
        m_view->showPanel(1, text::NoRemoteHost.toString());
        MsgBox(text::NoRemoteHost.toString() + text::NoRemoteHostHint.toString(), MsgButtons::OK,
               MsgIcon::Information);
        SetCallStatus(CallState::Idle);
        return false;
    }
    if (m_state.remoteHost == platform::Socket::LocalIP()) {
        MsgBox(text::OwnComputer.toString(), MsgButtons::OK, MsgIcon::Information);
        SetCallStatus(CallState::Idle);
        return false;
    }
    if (m_state.remotePort == 0) {
        m_view->showPanel(1, text::NoRemotePort.toString());
        MsgBox(text::NoRemotePort.toString(), MsgButtons::OK, MsgIcon::Information);
        SetCallStatus(CallState::Idle);
        return false;
    }
    return true;
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
    SetCallStatus(CallState::Idle);
    m_view->showPanel(1, text::CallTo.toString() + m_state.remoteHost + text::Cancelled.toString());
    MsgBox(text::NotLetIn.toString(), MsgButtons::OK, MsgIcon::Information);
}

void ChatSession::onMainTimer()
{
    const Running running(*this);
    switch (m_state.callStatus) {
    case CallState::Calling:
        // No second tick while the message is up.
        m_tmrMain->stop();
        MsgBox(text::NoAnswer.toString(), MsgButtons::OK, MsgIcon::Information);
        // Stored without an event; a call being placed then returns to idle.
        if (m_state.callStatus == CallState::Calling) storeCallState(CallState::NoAnswer);
        break;
    case CallState::WaitingToEnter: {
        m_tmrMain->stop();
        const MsgResult answer = MsgBox(text::KeepWaiting.toString(), MsgButtons::YesNo, MsgIcon::Question);
        if (m_state.callStatus != CallState::WaitingToEnter) break; // answered while asking
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
    const Running running(*this);
    m_tmrMain->stop();
    switch (m_state.callStatus) {
    case CallState::WaitingToEnter:
        sendGiveUp();
        SetCallStatus(CallState::Idle);
        m_view->showPanel(1, text::CallTo.toString() + m_state.remoteHost + text::Cancelled.toString());
        closeFormWhenAloneFromTray();
        break;
    case CallState::Calling:
        m_state.callCancelled = true;
        sendGiveUp();
        closeFormWhenAloneFromTray();
        SetCallStatus(m_rooms.publicRoom().rowCount() > 1 ? CallState::Connected : CallState::Idle);
        m_view->showPanel(1, text::CallTo.toString() + m_state.remoteHost + text::Cancelled.toString());
        break;
    case CallState::Connected:
        CancelFileTransfer();
        break;
    default:
        if (m_fileSend->busy())
            CancelFileTransfer();
        else
            storeCallState(CallState::Idle);
        break;
    }
}

void ChatSession::closeFormWhenAloneFromTray()
{
    if (Alone(0) && m_state.trayOpened) m_view->closeForm();
}

} // namespace kv::control
