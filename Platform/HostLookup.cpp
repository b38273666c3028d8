#include "Platform/HostLookup.h"

#include "Platform/Events.h"

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QUrl>

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace kv::platform::HostLookup {

namespace {

// The system's resolver, for IPv4 only: the product's addresses are IPv4.
Answer systemResolver(const QString& name)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* list = nullptr;
    if (::getaddrinfo(name.toLatin1().constData(), nullptr, &hints, &list) != 0 || !list) return std::nullopt;
    Answer address;
    for (const addrinfo* a = list; a && !address; a = a->ai_next)
        if (a->ai_family == AF_INET) address = QHostAddress(a->ai_addr);
    ::freeaddrinfo(list);
    return address;
}

// How a worker reaches the lookups it answers: through this link only, which the
// lookups cut when they end, so a worker outliving them touches nothing freed.
struct Link {
    std::mutex mutex;
    QObject* receiver = nullptr;
};

class Lookups : public QObject {
public:
    Lookups() : m_link(std::make_shared<Link>()) { m_link->receiver = this; }
    ~Lookups() override
    {
        const std::lock_guard lock(m_link->mutex);
        m_link->receiver = nullptr;
    }

    Answer known(const QString& key) const { return m_entries.value(key).address; }

    void request(const QString& key, QObject* context, std::function<void(const Answer&)> done)
    {
        const auto answerLater = [context, done](const Answer& a) {
            QTimer::singleShot(0, context, [done, a] { done(a); });
        };
        Entry& e = m_entries[key];
        if (e.address) return answerLater(e.address);
        // One worker per name: while an overdue one still waits on the resolver, the name has no answer.
        if (e.running && e.overdue) return answerLater(std::nullopt);
        e.waiters.push_back({context, std::move(done)});
        if (!e.running) start(key, e);
    }

    void setResolver(std::function<Answer(const QString&)> resolver) { m_resolver = std::move(resolver); }
    void forgetAll() { m_entries.clear(); }

private:
    struct Waiter {
        QPointer<QObject> context;
        std::function<void(const Answer&)> done;
    };
    struct Entry {
        Answer address;
        bool running = false;
        bool overdue = false;
        quint64 worker = 0;
        std::vector<Waiter> waiters;
    };

    void start(const QString& key, Entry& e)
    {
        e.running = true;
        e.overdue = false;
        e.worker = ++m_lastWorker;
        const quint64 worker = e.worker;
        QTimer::singleShot(LookupBoundMs, this,
                           [this, key, worker] { finish(key, worker, std::nullopt, true); });
        // The name in the form the resolver takes (international names in ASCII), made here, not on the
        // worker.
        const QString name = QString::fromLatin1(QUrl::toAce(key));
        std::thread([link = m_link, resolver = m_resolver, name, key, worker] {
            const Answer address = resolver ? resolver(name) : systemResolver(name);
            const std::lock_guard lock(link->mutex);
            if (auto* lookups = static_cast<Lookups*>(link->receiver))
                QMetaObject::invokeMethod(
                    lookups,
                    [lookups, key, worker, address] { lookups->finish(key, worker, address, false); },
                    Qt::QueuedConnection);
        }).detach();
    }

    // A worker's answer, or its bound running out (overdue).
    void finish(const QString& key, quint64 worker, const Answer& address, bool overdue)
    {
        const auto it = m_entries.find(key);
        if (it == m_entries.end() || it->worker != worker || !it->running) return;
        if (overdue) {
            it->overdue = true;
        } else {
            it->running = false;
            it->address = address;
        }
        const std::vector<Waiter> waiters = std::exchange(it->waiters, {});
        // A name without an answer is asked again next time.
        if (!it->running && !it->address) m_entries.erase(it);
        for (const Waiter& w : waiters)
            if (w.context) w.done(address);
    }

    std::shared_ptr<Link> m_link;
    std::function<Answer(const QString&)> m_resolver;
    QHash<QString, Entry> m_entries;
    quint64 m_lastWorker = 0;
};

Lookups& lookups()
{
    static Lookups instance;
    return instance;
}

QString keyOf(const QString& host)
{
    return host.trimmed().toLower();
}

Answer dotted(const QString& host)
{
    QHostAddress address;
    if (address.setAddress(host.trimmed())) return address;
    return std::nullopt;
}

} // namespace

Answer known(const QString& host)
{
    if (const Answer address = dotted(host)) return address;
    const QString key = keyOf(host);
    return key.isEmpty() ? std::nullopt : lookups().known(key);
}

void request(const QString& host, QObject* context, std::function<void(const Answer&)> done)
{
    const QString key = keyOf(host);
    const Answer address = dotted(host);
    if (address || key.isEmpty()) {
        QTimer::singleShot(0, context, [done = std::move(done), address] { done(address); });
        return;
    }
    lookups().request(key, context, std::move(done));
}

Answer resolveNow(const QString& host)
{
    if (const Answer address = known(host)) return address;
    QObject waiting;
    bool answered = false;
    Answer result;
    request(host, &waiting, [&](const Answer& a) {
        answered = true;
        result = a;
    });
    // The bound is the lookup's own; the margin only lets its answer arrive.
    WaitUntil([&] { return answered; }, LookupBoundMs + 500);
    return result;
}

void setResolver(std::function<Answer(const QString& name)> resolver)
{
    lookups().setResolver(std::move(resolver));
}

void forgetAll()
{
    lookups().forgetAll();
}

} // namespace kv::platform::HostLookup
