#pragma once
// Desktop notices through the freedesktop notification service on the session
// bus. Sending is asynchronous; no service, no notice, no error. A notice may
// offer actions and stay until its program closes it; the action the user
// chooses comes back to the handler given with it.
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <utility>

namespace kv::platform {

struct Notice {
    enum class Urgency { Low, Normal, Critical };
    QString title;
    QString text;
    // (key, label) pairs, in the order shown.
    QList<std::pair<QString, QString>> actions;
    Urgency urgency = Urgency::Normal;
    // Shown until closed rather than for the service's own display time.
    bool persistent = false;
    // Left out of the service's history once gone.
    bool transient = false;
};

class Notifier {
public:
    using ActionHandler = std::function<void(const QString& key)>;
    virtual ~Notifier() = default;
    // Shows a notice; the id closes it. onAction gets the key of the action chosen.
    virtual int show(const Notice& notice, ActionHandler onAction = {}) = 0;
    virtual void close(int id) = 0;
    // Whether the desktop asks not to be disturbed: the service's "Inhibited" as last
    // read, false where the service has no such property or there is no service.
    virtual bool inhibited() const = 0;
    // Whether a service takes notices: false once the bus said there is none
    // (until one appears), so a program can show its notices another way.
    virtual bool available() const = 0;
    // A notice for the service's display time, without actions.
    void notify(const QString& title, const QString& text)
    {
        Notice notice;
        notice.title = title;
        notice.text = text;
        show(notice);
    }

    // The process's notifier: the desktop's service unless one was installed.
    static Notifier& current();
    static void install(std::unique_ptr<Notifier> notifier);
    // A notifier on the desktop's service, as current() makes it.
    static std::unique_ptr<Notifier> desktop();
};

// Records instead of sending, for tests: notices() as "<title>: <text>", in
// order; shown() with their actions and whether they are still open.
class RecordingNotifier : public Notifier {
public:
    struct Shown {
        Notice notice;
        ActionHandler onAction;
        bool open = true;
    };
    int show(const Notice& notice, ActionHandler onAction = {}) override
    {
        m_notices << notice.title + QStringLiteral(": ") + notice.text;
        m_shown.append({notice, std::move(onAction)});
        return int(m_shown.size());
    }
    void close(int id) override
    {
        if (id > 0 && id <= m_shown.size()) m_shown[id - 1].open = false;
    }
    bool inhibited() const override { return m_inhibited; }
    void setInhibited(bool on) { m_inhibited = on; }
    bool available() const override { return true; }
    // The user chooses the action key of the last notice shown.
    void invoke(const QString& key)
    {
        const ActionHandler handler = m_shown.isEmpty() ? ActionHandler() : m_shown.last().onAction;
        if (handler) handler(key);
    }
    const QStringList& notices() const { return m_notices; }
    const QList<Shown>& shown() const { return m_shown; }

private:
    QStringList m_notices;
    QList<Shown> m_shown;
    bool m_inhibited = false;
};

} // namespace kv::platform
