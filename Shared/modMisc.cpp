#include "Shared/modMisc.h"

#include "Platform/Events.h"
#include "Platform/HostLookup.h"
#include "Platform/Socket.h"
#include "Shared/modReg.h"
#include "Shared/modUser.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStandardPaths>

#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace kv {

namespace {

void closeAndWait(platform::Socket& socket)
{
    socket.Close();
    platform::WaitUntil([&] { return socket.State() == platform::Socket::sckClosed; }, SocketCloseWaitMs);
}

// Spaces only, as the design's Trim.
QString trimSpaces(const QString& s)
{
    qsizetype from = 0, to = s.size();
    while (from < to && s.at(from) == u' ')
        ++from;
    while (to > from && s.at(to - 1) == u' ')
        --to;
    return s.mid(from, to - from);
}

constexpr int TempNameAttempts = 1000;

} // namespace

QString ProbeHost(const QString& nameServerValue)
{
    const QString webHost = ProductWebHost.toString();
    if (nameServerValue == webHost)
        return webHost;
    const qsizetype comma = nameServerValue.indexOf(u',');
    if (comma >= 0)
        return trimSpaces(nameServerValue.left(comma));
    return nameServerValue;
}

short NetworkAbsent(platform::Socket& socket)
{
    closeAndWait(socket);
    const QString value = ReadKeyValue(RegRoot::LocalMachine, NameServerKey.toString(),
                                       NameServerValue.toString(), ProductWebHost.toString());
    // The probe host's lookup is bounded and lets the interface run; no answer in time counts
    // as a name that cannot be resolved at once.
    const std::optional<QHostAddress> probe = platform::HostLookup::resolveNow(ProbeHost(value));
    short absent = 1;
    if (probe) {
        socket.setRemoteHost(probe->toString());
        socket.setRemotePort(NetworkProbePort);
        absent = socket.Connect() != 0 ? 1 : 0;
    }
    closeAndWait(socket);
    return absent;
}

QString PrivateTempFolder()
{
    // Prefer the per-user runtime folder; fall back to a per-user folder in the temp location.
    QString base = qEnvironmentVariable("XDG_RUNTIME_DIR");
    QString dir;
    if (!base.isEmpty() && QFileInfo(base).isDir())
        dir = base + u"/kivara"_s;
    else
        dir = QDir::tempPath() + u"/kivara-"_s + QString::number(::getuid());
    const QByteArray native = QFile::encodeName(dir);
    if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST)
        return dir;
    // Refuse a folder someone else made or opened up: tighten it if it is ours.
    struct stat st {};
    if (::lstat(native.constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid()
        && (st.st_mode & 0077) != 0)
        ::chmod(native.constData(), 0700);
    return dir;
}

QString MakeTempFileName(const QString& suffix)
{
    const QString folder = PrivateTempFolder();
    QString path;
    for (int attempt = 0; attempt < TempNameAttempts; ++attempt) {
        const quint32 n = QRandomGenerator::global()->bounded(1u, 0x10000u);
        // Only the file name is lower case: the folder part is a real path on this system.
        const QString candidate = folder + u"/~"_s + QString::number(n, 16).toLower() + u".tmp"_s;
        QFile f(candidate);
        if (f.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
            f.close();
            path = candidate;
            // The name is handed out; the file itself is not kept.
            QFile::remove(candidate);
            break;
        }
    }
    if (path.isEmpty())
        return {};
    if (suffix.isEmpty())
        return path;
    // The folder with its separator, "~" and the first hex digit.
    return path.left(folder.size() + 3) + suffix;
}

QString SystemFolder()
{
    return QCoreApplication::applicationDirPath();
}

QString WindowsFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + u"/kivara"_s;
}

QString HistoryFolder()
{
    return WindowsFolder() + u"/history"_s;
}

QString JoinNonEmpty(const QString& first, const QString& second)
{
    if (!first.isEmpty() && !second.isEmpty())
        return first + u", "_s + second;
    return first.isEmpty() ? second : first;
}

QString FileNameOfPath(const QString& path)
{
    const qsizetype cut = std::max(path.lastIndexOf(u'\\'), path.lastIndexOf(u'/'));
    if (cut < 0 || cut == path.size() - 1)
        return path;
    return path.mid(cut + 1);
}

SplitName SplitUserName(const QString& name)
{
    SplitName out;
    const qsizetype comma = name.indexOf(u',');
    if (comma >= 0) {
        out.first = trimSpaces(name.left(comma));
        out.second = trimSpaces(name.mid(comma + 1));
        return out;
    }
    QString rest = name;
    qsizetype space;
    while ((space = rest.indexOf(u' ')) >= 0) {
        out.first += rest.left(space + 1);
        rest = rest.mid(space + 1);
    }
    out.second = rest;
    return out;
}

} // namespace kv
