#pragma once
// The request channel of a child program in a multi-process test: requests
// are lines on standard input, answers lines on standard output.
#include <QByteArray>
#include <QObject>
#include <QSocketNotifier>
#include <QString>
#include <cstdio>
#include <functional>
#include <unistd.h>
#include <utility>

namespace kv::test {

// One line on standard output, flushed at once so that the test reads it now.
inline void WriteLine(const QString& line)
{
    std::fputs(qPrintable(line + u'\n'), stdout);
    std::fflush(stdout);
}

// Hands each line of standard input to a handler, one at a time: a handler
// that pumps events does not get the next line before it returns. A handler
// returns false to end the requests.
class StdinLines {
public:
    explicit StdinLines(std::function<bool(const QString&)> onLine) : m_onLine(std::move(onLine))
    {
        QObject::connect(&m_notifier, &QSocketNotifier::activated, &m_notifier, [this] { read(); });
    }
    // True once standard input ended or a handler asked to end.
    bool ended() const { return m_ended; }

private:
    void read()
    {
        char buffer[4096];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) {
            m_notifier.setEnabled(false);
            m_ended = true;
            return;
        }
        m_pending.append(buffer, qsizetype(n));
        if (m_busy) return;
        m_busy = true;
        qsizetype end;
        while (!m_ended && (end = m_pending.indexOf('\n')) >= 0) {
            const QString line = QString::fromUtf8(m_pending.left(end));
            m_pending.remove(0, end + 1);
            if (!m_onLine(line)) m_ended = true;
        }
        m_busy = false;
    }

    QSocketNotifier m_notifier{STDIN_FILENO, QSocketNotifier::Read};
    std::function<bool(const QString&)> m_onLine;
    QByteArray m_pending;
    bool m_busy = false;
    bool m_ended = false;
};

} // namespace kv::test
