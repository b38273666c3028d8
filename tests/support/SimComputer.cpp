#include "SimComputer.h"

#include "Outlook/Outlook.h"
#include "Outlook/Store.h"
#include "modReg.h"

#include <QCoreApplication>

#include <QDir>
#include <QFile>

using namespace Qt::StringLiterals;

namespace kv::test {

namespace {
const QStringList SubDirs = {u"home"_s, u"config"_s, u"data"_s, u"runtime"_s, u"tmp"_s, u"install"_s};

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

QString SimComputer::home() const
{
    return m_dir.path() + u"/home"_s;
}
QString SimComputer::installDir() const
{
    return m_dir.path() + u"/install/"_s;
}

QProcessEnvironment SimComputer::environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"HOME"_s, home());
    env.insert(u"XDG_CONFIG_HOME"_s, m_dir.path() + u"/config"_s);
    env.insert(u"XDG_DATA_HOME"_s, m_dir.path() + u"/data"_s);
    env.insert(u"XDG_RUNTIME_DIR"_s, m_dir.path() + u"/runtime"_s);
    env.insert(u"TMPDIR"_s, m_dir.path() + u"/tmp"_s);
    env.insert(u"KIVARA_LOCAL_IP"_s, m_localIp);
    return env;
}

void SimComputer::activate()
{
    const QProcessEnvironment env = environment();
    for (const QString& key : env.keys())
        qputenv(key.toLocal8Bit().constData(), env.value(key).toLocal8Bit());
    setUp();
}

void SimComputer::setUp() const
{
    // Before anything else: the network check probes loopback, never a real host.
    WriteKeyValue(RegRoot::LocalMachine, qs(NameServerKey), qs(NameServerValue), u"127.0.0.1"_s);
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

} // namespace kv::test
