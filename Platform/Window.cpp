#include "Window.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>

namespace kv::platform {

namespace {
QString S(const char16_t* s)
{
    return QString::fromUtf16(s);
}
} // namespace

bool MonitorWindowExists()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface()) return false;
    return bus.interface()->isServiceRegistered(S(MonitorBusName)).value();
}

bool CloseMonitorWindow()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return false;
    // Posted, not awaited: the monitor may ask its user something while it closes.
    QDBusMessage call = QDBusMessage::createMethodCall(S(MonitorBusName), S(MonitorBusPath),
                                                       S(MonitorBusInterface), S(MonitorCloseMember));
    call.setAutoStartService(false);
    return bus.send(call);
}

} // namespace kv::platform
