#include "Platform/SessionEnd.h"

#include <QGuiApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace kv::platform {

namespace {
// A signal handler may only do async-signal-safe work: it writes one byte into
// a pipe whose other end the event loop watches.
int g_pipe[2] = {-1, -1};
constexpr int Signals[] = {SIGTERM, SIGINT};

void onSignal(int sig)
{
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_pipe[1], &byte, 1);
    // A second signal while the closing path runs ends the process at once.
    struct sigaction dfl = {};
    dfl.sa_handler = SIG_DFL;
    ::sigaction(sig, &dfl, nullptr);
    errno = saved;
}

void setHandler(void (*handler)(int))
{
    struct sigaction sa = {};
    sa.sa_handler = handler;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (const int sig : Signals)
        ::sigaction(sig, &sa, nullptr);
}
} // namespace

SessionEnd::SessionEnd(QObject* parent) : QObject(parent)
{
    if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        connect(app, &QGuiApplication::commitDataRequest, this, &SessionEnd::raiseOnce);
    if (g_pipe[0] >= 0 || ::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    m_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] {
        char buffer[16];
        while (::read(g_pipe[0], buffer, sizeof buffer) > 0) {
        }
        raiseOnce();
    });
    setHandler(onSignal);
}

SessionEnd::~SessionEnd()
{
    if (!m_notifier) return;
    setHandler(SIG_DFL);
    delete m_notifier;
    ::close(g_pipe[0]);
    ::close(g_pipe[1]);
    g_pipe[0] = g_pipe[1] = -1;
}

void SessionEnd::raiseOnce()
{
    if (m_raised) return;
    m_raised = true;
    Q_EMIT ending();
}

} // namespace kv::platform
