#include "Platform/Window.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>

namespace kv::platform {

bool WindowExists(const BusWindow& window)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface()) return false;
    return bus.interface()->isServiceRegistered(window.name).value();
}

bool CloseWindow(const BusWindow& window)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return false;
    // Posted, not awaited: the program may ask its user something while it closes.
    QDBusMessage call = QDBusMessage::createMethodCall(window.name, window.path, window.interface, window.closeMember);
    call.setAutoStartService(false);
    return bus.send(call);
}

} // namespace kv::platform
