#pragma once
// The desktop session of one simulated computer: a private session bus, and on
// it the shipped mail host and tray monitor started as that computer's
// programs, with scripted prompts and observable sound and shell. Stopping
// (also on destruction) ends every process it started, through each
// program's own closing path first; should the test process die, its
// children are sent SIGTERM, so nothing outlives the test.
#include "testing/SimComputer.h"

#include <QDBusConnection>
#include <QProcess>
#include <QString>
#include <memory>

namespace kv::test {

class HostDriver;

class SimSession {
public:
    // Generous: the sanitizer build on a loaded machine starts programs slowly.
    static constexpr int StartWaitMs = 60000;
    static constexpr int StopWaitMs = 30000;

    // rules: the scripted prompt rules of this computer's programs.
    SimSession(const SimComputer& computer, const QString& rules);
    ~SimSession();
    SimSession(const SimSession&) = delete;
    SimSession& operator=(const SimSession&) = delete;

    // Replaces the prompt rules; running programs read them at their next prompt.
    void setRules(const QString& rules);

    // Each start returns false (with the reason in lastError()) when the
    // program did not come up, its bus name included, within StartWaitMs.
    bool startBus();
    bool startHost();    // outlook-standin, started for automation (no explorer window)
    bool startMonitor(); // vigilo
    // Runs the shipped set-up (kvsetup) in this computer and waits for it to end.
    bool install();
    // A child program in this computer that drives the host's forms and controls.
    std::unique_ptr<HostDriver> startDriver();

    // The host's Quit over the bus; the monitor's Close (its closing
    // question must be answered by a rule). Both wait for the process to end.
    bool quitHost();
    bool closeMonitor();
    // Ends everything still running: monitor, host, then the bus.
    void stop();

    const SimComputer& computer() const { return m_computer; }
    QDBusConnection bus() const;
    // The environment of this computer's programs: the computer's own, its
    // bus, the prompt rules and logs, dry-run shell (on a computer of its own
    // network a real one), offscreen windows. Each
    // program logs its sounds apart, so the monitor's ring can be told from the form's.
    QProcessEnvironment environment(const QString& program = QString()) const;
    QProcess& host() { return m_host; }
    QProcess& monitor() { return m_monitor; }
    QString lastError() const { return m_error; }

    QString promptLogPath() const { return m_computer.root() + QStringLiteral("/prompts.jsonl"); }
    QString soundLogPath(const QString& program) const;
    QString shellLogPath() const { return m_computer.root() + QStringLiteral("/shell.log"); }
    QString promptLog() const;
    QString soundLog(const QString& program) const;

    // The folder of the shipped programs (the "system folder").
    static QString binDir();

private:
    bool startProgram(QProcess& process, const QString& program, const QStringList& arguments,
                      const QString& busName);
    bool hasOwner(const QString& busName) const;
    bool callAndWaitForEnd(QProcess& process, const QString& busName, const QString& path,
                           const QString& interface, const QString& member);

    const SimComputer& m_computer;
    QString m_rulesPath;
    QString m_connectionName;
    QString m_busAddress;
    QString m_error;
    std::unique_ptr<SessionBus> m_bus;
    QProcess m_host;
    QProcess m_monitor;
};

// The driver's requests are lines of tab-separated fields; each answer is
// one line, "ok" + tab + value, or "err" + tab + error number in hex + tab + text.
//   open <identifier> <chat name> <address>  opens that user's Kivara contact
//                                            (found, or added and saved) on its "Kivara" page
//   active                                   takes the control of the active inspector
//   close                                    closes the form taken last, saving its item
//   calllist <member> <fields...>            calls a method whose one argument is the list of fields
//   call <member> <arguments...>             calls a method of the control by name
//   get <property> / let <property> <value>  reads or writes one of its properties
//   stored <identifier> <user property> [<value>]
//                                            a user property of that user's contact as stored
//                                            (first stored as value, as a user typing it and saving)
//   quit
class HostDriver {
public:
    explicit HostDriver(const SimSession& session);
    ~HostDriver();
    HostDriver(const HostDriver&) = delete;
    HostDriver& operator=(const HostDriver&) = delete;

    bool isRunning() const { return m_process.state() == QProcess::Running; }
    // Sends one request and waits (bounded) for its answer; "" on time-out or when the driver ended.
    QString request(const QStringList& fields, int waitMs = SimSession::StartWaitMs * 2)
    {
        post(fields);
        return answer(waitMs);
    }
    // The same in two steps, so that the test can act while a long request
    // (a call being placed) runs: post() sends, answer() waits for its answer.
    void post(const QStringList& fields);
    QString answer(int waitMs = SimSession::StartWaitMs * 2);
    // The value of an "ok" answer; empty otherwise (see lastAnswer()).
    QString value(const QStringList& fields, int waitMs = SimSession::StartWaitMs * 2);
    bool ok(const QStringList& fields, int waitMs = SimSession::StartWaitMs * 2);
    QString lastAnswer() const { return m_last; }

    // What the control taken last shows in its current room, saved through its
    // own transcript member into a new file in folder.
    QString transcript(const QString& folder);
    // Waits (bounded) until the current room's transcript holds line.
    bool transcriptShows(const QString& folder, const QString& line);
    // Waits (bounded) until Alone(0) of the control taken last answers alone.
    bool waitAlone(bool alone);

private:
    QProcess m_process;
    QByteArray m_buffer;
    QString m_last;
    int m_saved = 0;
};

} // namespace kv::test
