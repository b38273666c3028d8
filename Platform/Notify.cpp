#include "Platform/Notify.h"

#include "notificationsproxy.h"
#include "propertiesproxy.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QHash>
#include <QVariantMap>

using namespace Qt::StringLiterals;

namespace kv::platform {

namespace {

const QString Service = u"org.freedesktop.Notifications"_s;
const QString Path = u"/org/freedesktop/Notifications"_s;
// The do-not-disturb switch, on the services that have one.
const QString InhibitedProperty = u"Inhibited"_s;
const QString UrgencyHint = u"urgency"_s;
const QString TransientHint = u"transient"_s;
// The service's own display time, and none.
constexpr int ServerDefaultTimeout = -1;
constexpr int NeverExpires = 0;

// Every call is sent without waiting: the service may be slow or absent, and
// its answers (the service's ids, the property) arrive as events.
class DesktopNotifier : public Notifier {
public:
    DesktopNotifier()
        : m_bus(QDBusConnection::sessionBus()), m_service(Service, Path, m_bus),
          m_properties(Service, Path, m_bus),
          m_watcher(Service, m_bus, QDBusServiceWatcher::WatchForRegistration)
    {
        if (!m_bus.isConnected()) {
            m_available = false;
            return;
        }
        // A service started after this program: from then on notices go to it.
        QObject::connect(&m_watcher, &QDBusServiceWatcher::serviceRegistered, &m_watcher, [this] {
            m_available = true;
            readInhibited();
        });
        QObject::connect(&m_service, &NotificationsProxy::ActionInvoked, &m_service,
                         [this](uint serverId, const QString& key) {
                             for (const Shown& shown : std::as_const(m_shown)) {
                                 if (shown.serverId != serverId) continue;
                                 // The handler may close this notice and so change the table.
                                 const ActionHandler handler = shown.onAction;
                                 if (handler) handler(key);
                                 return;
                             }
                         });
        QObject::connect(
            &m_service, &NotificationsProxy::NotificationClosed, &m_service, [this](uint serverId, uint) {
                m_shown.removeIf([serverId](const auto& s) { return s.value().serverId == serverId; });
            });
        QObject::connect(
            &m_properties, &PropertiesProxy::PropertiesChanged, &m_properties,
            [this](const QString& interface, const QVariantMap& changed, const QStringList& gone) {
                if (interface != Service) return;
                if (changed.contains(InhibitedProperty))
                    m_inhibited = changed.value(InhibitedProperty).toBool();
                else if (gone.contains(InhibitedProperty))
                    readInhibited();
            });
        readInhibited();
    }

    int show(const Notice& notice, ActionHandler onAction) override
    {
        const int id = ++m_lastId;
        if (!m_bus.isConnected()) return id;
        QStringList actions;
        for (const auto& [key, label] : notice.actions)
            actions << key << label;
        QVariantMap hints{{UrgencyHint, QVariant::fromValue(uchar(notice.urgency))}};
        if (notice.transient) hints.insert(TransientHint, true);
        m_shown.insert(id, {0, std::move(onAction), false});
        const QDBusPendingCall call =
            m_service.Notify(QCoreApplication::applicationName(), 0, QString(), notice.title, notice.text,
                             actions, hints, notice.persistent ? NeverExpires : ServerDefaultTimeout);
        auto* watcher = new QDBusPendingCallWatcher(call, &m_service);
        QObject::connect(watcher, &QDBusPendingCallWatcher::finished, &m_service,
                         [this, id](QDBusPendingCallWatcher* finished) {
                             finished->deleteLater();
                             const QDBusPendingReply<uint> reply = *finished;
                             const auto shown = m_shown.find(id);
                             if (shown == m_shown.end()) return;
                             if (reply.isError()) {
                                 m_shown.erase(shown);
                             } else if (shown->closed) {
                                 m_service.CloseNotification(reply.value());
                                 m_shown.erase(shown);
                             } else {
                                 shown->serverId = reply.value();
                             }
                         });
        return id;
    }

    void close(int id) override
    {
        const auto shown = m_shown.find(id);
        if (shown == m_shown.end()) return;
        // Not shown yet: closed as soon as the service says under which id.
        if (shown->serverId == 0) {
            shown->closed = true;
            return;
        }
        m_service.CloseNotification(shown->serverId);
        m_shown.erase(shown);
    }

    bool inhibited() const override { return m_inhibited; }
    bool available() const override { return m_available; }

private:
    struct Shown {
        uint serverId = 0;
        ActionHandler onAction;
        bool closed = false;
    };

    void readInhibited()
    {
        auto* watcher =
            new QDBusPendingCallWatcher(m_properties.Get(Service, InhibitedProperty), &m_properties);
        QObject::connect(watcher, &QDBusPendingCallWatcher::finished, &m_properties,
                         [this](QDBusPendingCallWatcher* finished) {
                             finished->deleteLater();
                             const QDBusPendingReply<QDBusVariant> reply = *finished;
                             m_inhibited = !reply.isError() && reply.value().variant().toBool();
                             // Neither running nor startable by the bus: no service.
                             if (reply.isError() && reply.error().type() == QDBusError::ServiceUnknown)
                                 m_available = false;
                         });
    }

    QDBusConnection m_bus;
    NotificationsProxy m_service;
    PropertiesProxy m_properties;
    QDBusServiceWatcher m_watcher;
    QHash<int, Shown> m_shown; // by our id
    int m_lastId = 0;
    bool m_inhibited = false;
    bool m_available = true;
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
    if (!notifier) {
        notifier = desktop();
        // Its bus objects must go while the application (and its bus) still exists.
        qAddPostRoutine([] { Installed().reset(); });
    }
    return *notifier;
}

void Notifier::install(std::unique_ptr<Notifier> notifier)
{
    Installed() = std::move(notifier);
}

std::unique_ptr<Notifier> Notifier::desktop()
{
    return std::make_unique<DesktopNotifier>();
}

} // namespace kv::platform
