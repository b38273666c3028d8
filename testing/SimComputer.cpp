#include "testing/SimComputer.h"

#include "Platform/Events.h"
#include "Platform/Outlook/Outlook.h"
#include "Platform/Outlook/Store.h"
#include "Shared/Installed.h"
#include "Shared/modReg.h"
#include "Shared/Setup.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUuid>
#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace kv::test {

namespace {
const QStringList SubDirs = {u"home"_s, u"config"_s, u"data"_s, u"runtime"_s, u"tmp"_s, u"install"_s};
constexpr int BusWaitMs = 15000;

// Every computer is made under the temporary folder the process started in,
// never inside another computer's folders, which go when that computer does.
QString baseTempPath()
{
    static const QString base = QDir::tempPath();
    return base;
}
} // namespace

SimComputer::SimComputer(const QString& localIp, const QString& serialNum)
    : m_dir(baseTempPath() + u"/kvsim-XXXXXX"_s), m_localIp(localIp), m_serialNum(serialNum)
{
    for (const QString& d : SubDirs)
        QDir(m_dir.path()).mkpath(d);
    QFile::setPermissions(m_dir.path() + u"/runtime"_s,
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

SimComputer::SimComputer(const OwnNetwork& network) : SimComputer(QString(), QString())
{
    m_netns = network.netns;
}

QProcessEnvironment SimComputer::environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"HOME"_s, home());
    env.insert(u"XDG_CONFIG_HOME"_s, m_dir.path() + u"/config"_s);
    env.insert(u"XDG_DATA_HOME"_s, m_dir.path() + u"/data"_s);
    env.insert(u"XDG_RUNTIME_DIR"_s, m_dir.path() + u"/runtime"_s);
    env.insert(u"TMPDIR"_s, m_dir.path() + u"/tmp"_s);
    // The machine's own services (its firewall) are never asked: the system bus is the test's session bus.
    if (env.contains(u"DBUS_SESSION_BUS_ADDRESS"_s))
        env.insert(u"DBUS_SYSTEM_BUS_ADDRESS"_s, env.value(u"DBUS_SESSION_BUS_ADDRESS"_s));
    if (!ownNetwork()) {
        env.insert(u"KIVARA_LOCAL_IP"_s, m_localIp);
        return env;
    }
    // The test process may carry another computer's address, or other test switches.
    for (const QString& key : env.keys())
        if (key.startsWith(u"KIVARA_"_s)) env.remove(key);
    return env;
}

QStringList SimComputer::command(const QString& program, const QStringList& arguments) const
{
    const QStringList line = QStringList{program} + arguments;
    return ownNetwork() ? QStringList{u"ip"_s, u"netns"_s, u"exec"_s, m_netns} + line : line;
}

void SimComputer::activate()
{
    const QProcessEnvironment env = environment();
    for (const QString& key : env.keys())
        qputenv(key.toLocal8Bit().constData(), env.value(key).toLocal8Bit());
    if (ownNetwork()) {
        qunsetenv("KIVARA_LOCAL_IP");
        return;
    }
    setUp();
}

void SimComputer::setUp() const
{
    // Before anything else: the network check probes loopback, never a real host.
    WriteKeyValue(RegRoot::LocalMachine, NameServerKey.toString(), NameServerValue.toString(), u"127.0.0.1"_s);
    WriteSetting(u"Settings"_s, u"InstallDir"_s, installDir());
    WriteSetting(u"Settings"_s, u"SerialNum"_s, m_serialNum);
    // The store's driver needs an application object; before it exists the
    // test main registers the forms itself.
    if (QCoreApplication::instance()) installForms();
}

void SimComputer::installForms() const
{
    outlook::RegisterProductForms(outlook::DefaultStorePath());
}

bool SimComputer::installProduct() const
{
    const QString from = qEnvironmentVariable("KIVARA_BIN_DIR");
    const QString to = systemFolder();
    QDir().mkpath(to);
    QStringList files{installed::MonitorProgram.toString(),
                      installed::OpenerProgram.toString(),
                      installed::HostProgram.toString()};
    for (QStringView library : installed::ControlLibraries)
        files << library.toString();
    for (const QString& name : files) {
        const QString source = from + u'/' + name;
        const QString target = to + u'/' + name;
        QFile::remove(target);
        // A hard link costs nothing and is a file of its own: removing it leaves the build's.
        if (::link(QFile::encodeName(source).constData(), QFile::encodeName(target).constData()) != 0 &&
            !QFile::copy(source, target))
            return false;
    }
    kv::setup::Options options;
    options.systemFolder = to;
    options.share = QStringLiteral(KV_SHARE_DIR);
    return kv::setup::Install(options).forms;
}

SessionBus::SessionBus(const QString& connectionName, const QString& listenPath)
    : m_connection(connectionName.isEmpty() ? u"kvtest-bus-"_s + QUuid::createUuid().toString(QUuid::Id128)
                                            : connectionName)
{
    // Should the test process die, the daemon goes with it.
    m_daemon.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    QStringList arguments{u"--session"_s, u"--nofork"_s, u"--print-address=1"_s};
    if (!listenPath.isEmpty()) arguments << u"--address=unix:path="_s + listenPath;
    m_daemon.start(u"dbus-daemon"_s, arguments);
    if (!m_daemon.waitForStarted(BusWaitMs)) {
        m_error = u"dbus-daemon did not start"_s;
        return;
    }
    if (!platform::WaitUntil(
            [this] { return m_daemon.canReadLine() || m_daemon.state() == QProcess::NotRunning; },
            BusWaitMs) ||
        !m_daemon.canReadLine()) {
        m_error = u"dbus-daemon printed no address"_s;
        return;
    }
    const QString address = QString::fromUtf8(m_daemon.readLine()).trimmed();
    if (!QDBusConnection::connectToBus(address, m_connection).isConnected()) {
        m_error = u"cannot connect to "_s + address;
        return;
    }
    m_address = address;
}

SessionBus::~SessionBus()
{
    QDBusConnection::disconnectFromBus(m_connection);
    if (m_daemon.state() == QProcess::NotRunning) return;
    m_daemon.terminate();
    if (!m_daemon.waitForFinished(BusWaitMs)) m_daemon.kill();
    m_daemon.waitForFinished(BusWaitMs);
}

bool SessionBus::hasOwner(const QString& name) const
{
    if (m_address.isEmpty()) return false;
    const QDBusConnection bus(m_connection);
    return bus.isConnected() && bus.interface() && bus.interface()->isServiceRegistered(name).value();
}

bool SessionBus::call(const QString& service, const QString& path, const QString& interface,
                      const QString& member) const
{
    if (m_address.isEmpty()) return false;
    QDBusConnection bus(m_connection);
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, member);
    message.setAutoStartService(false);
    return bus.call(message, QDBus::Block, BusWaitMs).type() == QDBusMessage::ReplyMessage;
}

outlook::MAPIFolder ProductFolder()
{
    return outlook::Application(outlook::DefaultStorePath())
        .GetNamespace(u"MAPI"_s)
        .Folders()
        .Item(u"Personal Folders"_s)
        .Folders()
        .Item(u"Kivara"_s);
}

QStringList ProductItemNames(const QString& messageClass)
{
    QStringList names;
    for (const outlook::Item item : ProductFolder().Items())
        if (item && item.MessageClass() == messageClass) names << item.FullName();
    names.sort();
    return names;
}

QStringList LoggedPromptTexts(const QString& logFile)
{
    QStringList texts;
    QFile f(logFile);
    if (!f.open(QIODevice::ReadOnly)) return texts;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (!line.trimmed().isEmpty())
            texts << QJsonDocument::fromJson(line).object().value(u"text"_s).toString();
    return texts;
}

QByteArray FileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArrayLiteral("<missing>");
}

QString FileText(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

bool WriteBytes(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

} // namespace kv::test
