#pragma once
// Desktop notices through the freedesktop notification service on the session
// bus, for programs that have no tray icon to show them from. Sending is
// asynchronous; no service, no notice, no error.
#include <QString>
#include <QStringList>
#include <memory>

namespace kv::platform {

class Notifier {
public:
    virtual ~Notifier() = default;
    virtual void notify(const QString& title, const QString& text) = 0;

    // The process's notifier: the desktop's service unless one was installed.
    static Notifier& current();
    static void install(std::unique_ptr<Notifier> notifier);
};

// Records instead of sending, for tests: "<title>: <text>", in order.
class RecordingNotifier : public Notifier {
public:
    void notify(const QString& title, const QString& text) override { m_notices << title + QStringLiteral(": ") + text; }
    const QStringList& notices() const { return m_notices; }

private:
    QStringList m_notices;
};

} // namespace kv::platform
