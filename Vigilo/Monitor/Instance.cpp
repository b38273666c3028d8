#include "Vigilo/Monitor/Instance.h"
#include "Vigilo/Monitor/frmTray.h"

#include "Shared/modReg.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace kv::vigilo {

namespace {
// Bound on the call that hands a command line over: the running monitor only queues it.
constexpr int HandOverTimeoutMs = 5000;

bool CallRunning(const QString& member, const QVariantList& args)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return false;
    QDBusMessage call = QDBusMessage::createMethodCall(BusName.toString(), BusPath.toString(),
                                                       BusInterface.toString(), member);
    call.setAutoStartService(false);
    call.setArguments(args);
    const QDBusMessage reply = bus.call(call, QDBus::Block, HandOverTimeoutMs);
    return reply.type() == QDBusMessage::ReplyMessage;
}
} // namespace

MonitorInstance::MonitorInstance(QObject* parent) : QObject(parent) {}

MonitorInstance::~MonitorInstance()
{
    if (m_claimed) {
        QDBusConnection bus = QDBusConnection::sessionBus();
        bus.unregisterObject(BusPath.toString());
        bus.unregisterService(BusName.toString());
    }
}

bool MonitorInstance::Claim()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return true;
    const auto reply =
        bus.interface()->registerService(BusName.toString(), QDBusConnectionInterface::DontQueueService,
                                         QDBusConnectionInterface::DontAllowReplacement);
    if (!reply.isValid()) return true;
    m_claimed = reply.value() == QDBusConnectionInterface::ServiceRegistered;
    return m_claimed;
}

void MonitorInstance::Attach(frmTray* window)
{
    m_window = window;
    if (m_claimed)
        QDBusConnection::sessionBus().registerObject(BusPath.toString(), this,
                                                     QDBusConnection::ExportScriptableSlots);
}

void MonitorInstance::Close()
{
    // Answer the caller first; the closing path may ask its question.
    QTimer::singleShot(0, this, [this] {
        if (m_window) m_window->RequestClose(true);
    });
}

void MonitorInstance::HandleCommandLine(const QString& commandLine)
{
    QTimer::singleShot(0, this, [this, commandLine] {
        if (m_window) m_window->HandleCommandLine(commandLine);
    });
}

QString MonitorInstance::CallerLine() const
{
    return m_window ? m_window->callerLine() : QString();
}

bool MonitorInstance::SendCommandLine(const QString& commandLine)
{
    return CallRunning(u"HandleCommandLine"_s, {commandLine});
}

bool MonitorInstance::RequestClose()
{
    return CallRunning(u"Close"_s, {});
}

} // namespace kv::vigilo
