#include "Platform/Notify.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QVariantMap>

using namespace Qt::StringLiterals;

namespace kv::platform {

namespace {

const QString Service = u"org.freedesktop.Notifications"_s;
const QString Path = u"/org/freedesktop/Notifications"_s;
// The service's own default display time.
constexpr int ServerDefaultTimeout = -1;

class DesktopNotifier : public Notifier {
public:
    void notify(const QString& title, const QString& text) override
    {
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (!bus.isConnected()) return;
        QDBusMessage call = QDBusMessage::createMethodCall(Service, Path, Service, u"Notify"_s);
        call.setArguments({QCoreApplication::applicationName(), 0u, QString(), title, text, QStringList(),
                           QVariantMap(), ServerDefaultTimeout});
        // Not waited for: the service may be slow or absent.
        bus.send(call);
    }
};

std::unique_ptr<Notifier>& Installed()
{
    static std::unique_ptr<Notifier> notifier;
    return notifier;
}

} // namespace

Notifier& Notifier::current()
{
    std::unique_ptr<Notifier>& notifier = Installed();
    if (!notifier) notifier = std::make_unique<DesktopNotifier>();
    return *notifier;
}

void Notifier::install(std::unique_ptr<Notifier> notifier)
{
    Installed() = std::move(notifier);
}

} // namespace kv::platform
