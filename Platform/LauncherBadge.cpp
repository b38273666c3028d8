#include "Platform/LauncherBadge.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QVariantMap>

using namespace Qt::StringLiterals;

namespace kv::platform {

namespace {

// The signal names the program by its desktop entry; the path is the program's own.
constexpr QStringView EntryPath = u"/org/kivara/LauncherEntry";
constexpr QStringView EntryInterface = u"com.canonical.Unity.LauncherEntry";
constexpr QStringView UpdateSignal = u"Update";
constexpr QStringView AppUriScheme = u"application://";

class DesktopLauncherBadge : public LauncherBadge {
public:
    void setCount(const QString& desktopEntry, qint64 count) override
    {
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (!bus.isConnected()) return;
        QDBusMessage update = QDBusMessage::createSignal(EntryPath.toString(), EntryInterface.toString(),
                                                         UpdateSignal.toString());
        update << AppUriScheme.toString() + desktopEntry
               << QVariantMap{{u"count"_s, count}, {u"count-visible"_s, count > 0}};
        bus.send(update);
    }
};

std::unique_ptr<LauncherBadge>& Installed()
{
    static std::unique_ptr<LauncherBadge> badge;
    return badge;
}

} // namespace

LauncherBadge& LauncherBadge::current()
{
    std::unique_ptr<LauncherBadge>& badge = Installed();
    if (!badge) badge = std::make_unique<DesktopLauncherBadge>();
    return *badge;
}

void LauncherBadge::install(std::unique_ptr<LauncherBadge> badge)
{
    Installed() = std::move(badge);
}

} // namespace kv::platform
