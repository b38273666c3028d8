#include "Platform/Events.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

namespace kv::platform {

namespace {
constexpr int WaitSliceMs = 5; // how often a bounded wait re-checks its condition
}

void DoEvents()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

bool WaitUntil(const std::function<bool()>& done, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired()) return done();
        // Sleep inside an event loop so that socket and timer events are handled as they come.
        QEventLoop loop;
        QTimer::singleShot(static_cast<int>(qBound(qint64(0), deadline.remainingTime(), qint64(WaitSliceMs))),
                           &loop, &QEventLoop::quit);
        // Once the application is quitting, event loops return at once: give up
        // rather than spin until the deadline.
        if (loop.exec() < 0) return done();
    }
    return true;
}

} // namespace kv::platform
