#pragma once
// The count a program's launcher shows on its icon, through the launcher-entry
// signal that docks and task managers follow on the session bus. Sent, never
// waited for; without a bus or a launcher that listens, nothing shows.
#include <QString>
#include <QStringList>
#include <memory>

namespace kv::platform {

class LauncherBadge {
public:
    virtual ~LauncherBadge() = default;
    // The count on the launcher of the desktop entry (its file name); 0 takes the badge away.
    virtual void setCount(const QString& desktopEntry, qint64 count) = 0;

    // The process's badge: the desktop's launcher unless one was installed.
    static LauncherBadge& current();
    static void install(std::unique_ptr<LauncherBadge> badge);
};

// Records instead of sending, for tests: "<desktop entry> <count>", in order.
class RecordingLauncherBadge : public LauncherBadge {
public:
    void setCount(const QString& desktopEntry, qint64 count) override
    {
        m_counts << desktopEntry + u' ' + QString::number(count);
    }
    const QStringList& counts() const { return m_counts; }

private:
    QStringList m_counts;
};

} // namespace kv::platform
