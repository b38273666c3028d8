// The monitor's desktop notices: a call's and a left message's carry actions
// and go to the desktop's notification service; the others show from the tray.
#include "Vigilo/Monitor/frmTray.h"

#include "Vigilo/Monitor/CallPort.h"
#include "Vigilo/Monitor/modTray.h"

#include "Platform/Notify.h"

#include <QPointer>
#include <QSystemTrayIcon>
#include <utility>

namespace kv::vigilo {

namespace {
// Keys of the notification actions.
constexpr QStringView AnswerKey = u"answer";
constexpr QStringView IgnoreKey = u"ignore";
constexpr QStringView OpenKey = u"open";
} // namespace

void frmTray::closeCallNotice()
{
    if (m_callNotice != 0) platform::Notifier::current().close(std::exchange(m_callNotice, 0));
}

bool frmTray::quiet()
{
    return platform::Notifier::current().inhibited();
}

// A call or a message is notified by the desktop's service, whose notices
// carry actions; a tray shows them where there is no such service.
void frmTray::showActionNotice(NoticeKind kind, const QString& text)
{
    platform::Notice notice;
    notice.title = traytext::Title.toString();
    notice.text = text;
    if (kind == NoticeKind::Message) {
        notice.actions = {{OpenKey.toString(), traytext::OpenAction.toString()}};
    } else {
        notice.actions = {{AnswerKey.toString(), traytext::AnswerAction.toString()},
                          {IgnoreKey.toString(), traytext::IgnoreAction.toString()}};
        // A call stays until it ends, unless the desktop asks not to be disturbed.
        const bool insist = !quiet();
        notice.urgency = insist ? platform::Notice::Urgency::Critical : platform::Notice::Urgency::Low;
        notice.persistent = insist;
        notice.transient = !insist;
    }
    const int id = platform::Notifier::current().show(
        notice, [self = QPointer<frmTray>(this), kind](const QString& key) {
            if (self) self->noticeAction(kind, key);
        });
    if (kind == NoticeKind::Call) m_callNotice = id;
}

void frmTray::noticeAction(NoticeKind kind, const QString& key)
{
    if (kind == NoticeKind::Message && key == OpenKey) {
        startOpener(OpenKvMessage);
    } else if (kind == NoticeKind::Call && key == IgnoreKey) {
        if (const QString caller = m_port->IgnoreCall(); !caller.isEmpty()) m_tray->WithdrawCall(caller);
    } else if (kind == NoticeKind::Call && key == AnswerKey && m_port->ringing()) {
        // The call is answered on its form; the form rings on its own.
        m_port->stopRing();
        closeCallNotice();
        m_tray->ShowCallForm();
    }
}

void frmTray::notify(NoticeKind kind, const QString& text)
{
    m_notices.append({kind, text});
    if ((kind == NoticeKind::Call || kind == NoticeKind::Message) &&
        (!m_trayIcon || platform::Notifier::current().available()))
        showActionNotice(kind, text);
    else if (!m_trayIcon)
        platform::Notifier::current().notify(traytext::Title.toString(), text);
    else if (QSystemTrayIcon::supportsMessages())
        m_trayIcon->showMessage(traytext::Title.toString(), text, QSystemTrayIcon::Information);
}

void frmTray::noticeClicked()
{
    const NoticeKind kind = m_notices.isEmpty() ? NoticeKind::None : m_notices.last().first;
    if (kind == NoticeKind::Message)
        startOpener(OpenKvMessage);
    else
        ShowMonitor();
}

} // namespace kv::vigilo
