#include "testing/SimSession.h"

#include "Platform/Events.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QFile>
#include <csignal>
#include <sys/prctl.h>

using namespace Qt::StringLiterals;

namespace kv::test {

namespace {
const QString HostBusName = u"Outlook.Application"_s;
const QString MonitorBusName = u"Kivara.Vigilo"_s;

bool waitForEnd(QProcess& process, int ms)
{
    return platform::WaitUntil([&] { return process.state() == QProcess::NotRunning; }, ms);
}

// The last resort for a program that did not close: terminate, then kill.
void forceEnd(QProcess& process)
{
    if (process.state() == QProcess::NotRunning) return;
    process.terminate();
    if (waitForEnd(process, 5000)) return;
    process.kill();
    process.waitForFinished(5000);
}
// A test that crashes leaves no program behind: the child ends with its parent.
void endWithParent(QProcess& process)
{
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
}
} // namespace

SimSession::SimSession(const SimComputer& computer, const QString& rules)
    : m_computer(computer), m_rulesPath(computer.root() + u"/prompts.rules"_s),
      m_connectionName(u"kvsim-"_s + computer.root().section(u'/', -1))
{
    setRules(rules);
}

void SimSession::setRules(const QString& rules)
{
    QFile f(m_rulesPath);
    if (f.open(QIODevice::WriteOnly)) f.write(rules.toUtf8());
}

SimSession::~SimSession()
{
    stop();
}

QString SimSession::binDir()
{
    return qEnvironmentVariable("KIVARA_BIN_DIR", QCoreApplication::applicationDirPath());
}

QString SimSession::soundLogPath(const QString& program) const
{
    return m_computer.root() + u"/sounds-"_s + (program.isEmpty() ? u"other"_s : program) + u".log"_s;
}
QString SimSession::promptLog() const
{
    return FileText(promptLogPath());
}
QString SimSession::soundLog(const QString& program) const
{
    return FileText(soundLogPath(program));
}

QProcessEnvironment SimSession::environment(const QString& program) const
{
    QProcessEnvironment env = m_computer.environment();
    env.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, m_busAddress);
    env.insert(u"KIVARA_PROMPTS"_s, m_rulesPath);
    env.insert(u"KIVARA_PROMPT_LOG"_s, promptLogPath());
    env.insert(u"KIVARA_SOUND_LOG"_s, soundLogPath(program));
    if (!m_computer.ownNetwork()) {
        env.insert(u"KIVARA_SHELL_LOG"_s, shellLogPath());
        env.insert(u"KIVARA_SHELL_DRYRUN"_s, u"1"_s);
    }
    env.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
    return env;
}

QDBusConnection SimSession::bus() const
{
    return QDBusConnection(m_connectionName);
}

bool SimSession::startBus()
{
    // The programs of a computer of its own network sit in another network
    // namespace, where the daemon's abstract socket cannot be seen: a socket file can.
    m_bus = std::make_unique<SessionBus>(m_connectionName,
                                         m_computer.ownNetwork() ? m_computer.root() + u"/bus"_s : QString());
    m_busAddress = m_bus->address();
    m_error = m_bus->error();
    return !m_busAddress.isEmpty();
}

bool SimSession::hasOwner(const QString& busName) const
{
    return m_bus && m_bus->hasOwner(busName);
}

bool SimSession::startProgram(QProcess& process, const QString& program, const QStringList& arguments,
                              const QString& busName)
{
    if (m_busAddress.isEmpty() && !startBus()) return false;
    process.setProcessEnvironment(environment(program));
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    endWithParent(process);
    const QStringList line = m_computer.command(binDir() + u'/' + program, arguments);
    process.start(line.first(), line.mid(1));
    if (!process.waitForStarted()) {
        m_error = program + u" did not start: "_s + process.errorString();
        return false;
    }
    if (!platform::WaitUntil([&] { return hasOwner(busName) || process.state() == QProcess::NotRunning; },
                             StartWaitMs) ||
        process.state() == QProcess::NotRunning) {
        m_error = program + u" did not take the bus name "_s + busName;
        return false;
    }
    return true;
}

bool SimSession::startHost()
{
    return startProgram(m_host, u"outlook-standin"_s, {u"--embedding"_s}, HostBusName);
}

bool SimSession::startMonitor()
{
    return startProgram(m_monitor, u"vigilo"_s, {}, MonitorBusName);
}

bool SimSession::install()
{
    QProcess setup;
    setup.setProcessEnvironment(environment(u"kvsetup"_s));
    setup.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    endWithParent(setup);
    const QStringList line =
        m_computer.command(binDir() + u"/kvsetup"_s, {u"--share"_s, QStringLiteral(KV_SHARE_DIR)});
    setup.start(line.first(), line.mid(1));
    if (!waitForEnd(setup, StartWaitMs)) forceEnd(setup);
    if (setup.exitStatus() == QProcess::NormalExit && setup.exitCode() == 0) return true;
    m_error = u"kvsetup failed ("_s + setup.errorString() + u"): "_s +
              QString::fromUtf8(setup.readAllStandardOutput());
    return false;
}

std::unique_ptr<HostDriver> SimSession::startDriver()
{
    auto driver = std::make_unique<HostDriver>(*this);
    if (!driver->isRunning()) {
        m_error = u"the host driver did not start"_s;
        return nullptr;
    }
    return driver;
}

bool SimSession::callAndWaitForEnd(QProcess& process, const QString& busName, const QString& path,
                                   const QString& interface, const QString& member)
{
    const bool ours = process.state() != QProcess::NotRunning;
    if (!ours && !hasOwner(busName)) return true;
    // No wait for the reply: the program may end before it sends one.
    bus().send(QDBusMessage::createMethodCall(busName, path, interface, member));
    const bool ended = platform::WaitUntil(
        [&] { return ours ? process.state() == QProcess::NotRunning : !hasOwner(busName); }, StopWaitMs);
    if (!ended) {
        m_error = busName + u" did not end after "_s + member;
        forceEnd(process);
    }
    return ended;
}

bool SimSession::quitHost()
{
    return callAndWaitForEnd(m_host, HostBusName, u"/Application"_s, u"org.kivara.Outlook.Application"_s,
                             u"Quit"_s);
}

bool SimSession::closeMonitor()
{
    return callAndWaitForEnd(m_monitor, MonitorBusName, u"/Vigilo"_s, u"Kivara.Vigilo"_s, u"Close"_s);
}

void SimSession::stop()
{
    if (!m_busAddress.isEmpty()) {
        // The monitor first: it would otherwise restart a host that has gone.
        closeMonitor();
        quitHost();
        m_busAddress.clear();
    }
    forceEnd(m_monitor);
    forceEnd(m_host);
    m_bus.reset();
}

// ---- HostDriver ----------------------------------------------------------------

HostDriver::HostDriver(const SimSession& session)
{
    m_process.setProcessEnvironment(session.environment());
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QObject::connect(&m_process, &QProcess::readyReadStandardOutput, &m_process,
                     [this] { m_buffer += m_process.readAllStandardOutput(); });
    endWithParent(m_process);
    const QStringList line = session.computer().command(SimSession::binDir() + u"/kvhostdriver"_s);
    m_process.start(line.first(), line.mid(1));
    m_process.waitForStarted();
}

HostDriver::~HostDriver()
{
    if (m_process.state() == QProcess::NotRunning) return;
    m_process.write("quit\n");
    if (!waitForEnd(m_process, SimSession::StopWaitMs)) forceEnd(m_process);
}

void HostDriver::post(const QStringList& fields)
{
    m_last.clear();
    m_buffer.clear();
    if (isRunning()) m_process.write((fields.join(u'\t') + u'\n').toUtf8());
}

QString HostDriver::answer(int waitMs)
{
    m_last.clear();
    if (!isRunning() && !m_buffer.contains('\n')) return m_last;
    platform::WaitUntil([this] { return m_buffer.contains('\n') || !isRunning(); }, waitMs);
    const qsizetype end = m_buffer.indexOf('\n');
    if (end >= 0) m_last = QString::fromUtf8(m_buffer.left(end));
    return m_last;
}

QString HostDriver::value(const QStringList& fields, int waitMs)
{
    const QString answer = request(fields, waitMs);
    return answer.startsWith(u"ok\t"_s) ? answer.mid(3) : QString();
}

bool HostDriver::ok(const QStringList& fields, int waitMs)
{
    return request(fields, waitMs).startsWith(u"ok\t"_s);
}

QString HostDriver::transcript(const QString& folder)
{
    const QString path = folder + u"/transcript-%1-%2.txt"_s.arg(m_process.processId()).arg(++m_saved);
    if (!ok({u"call"_s, u"SaveSession"_s, path, u"false"_s})) return {};
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

bool HostDriver::transcriptShows(const QString& folder, const QString& line)
{
    return platform::WaitUntil([&] { return transcript(folder).contains(line); }, SimSession::StartWaitMs);
}

bool HostDriver::waitAlone(bool alone)
{
    const QString expected = alone ? u"true"_s : u"false"_s;
    return platform::WaitUntil(
        [&] {
            return value({u"call"_s, u"Alone"_s, u"0"_s}) == expected;
        },
        SimSession::StartWaitMs);
}

} // namespace kv::test
