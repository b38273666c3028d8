#include "Vigilo/Opener/ReceivedFiles.h"

#include "Shared/modMisc.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLockFile>
#include <QSaveFile>

#include <algorithm>
#include <optional>

using namespace Qt::StringLiterals;

namespace kv::dorvan {

namespace {

constexpr QStringView FileName = u"/received-files.jsonl";
constexpr QStringView LockSuffix = u".lock";
// How long a window waits for another one that is writing the list.
constexpr int LockWaitMs = 5000;
// More than the kept entries can take with long paths: a larger file is read from its tail.
constexpr qint64 MaxReadBytes = qint64(4) * 1024 * 1024;

constexpr QStringView KeyName = u"name", KeySender = u"sender", KeyTime = u"time", KeySize = u"size",
                      KeyPath = u"path", KeyFailure = u"failure";

QByteArray ToLine(const ReceivedFile& e)
{
    QJsonObject o{{KeyName.toString(), e.name},
                  {KeySender.toString(), e.sender},
                  {KeyTime.toString(), e.time.toUTC().toString(Qt::ISODateWithMs)},
                  {KeySize.toString(), e.size}};
    if (!e.path.isEmpty()) o.insert(KeyPath.toString(), e.path);
    if (!e.failure.isEmpty()) o.insert(KeyFailure.toString(), e.failure);
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

// An entry has a valid time and size, and is either saved or failed.
std::optional<ReceivedFile> FromLine(const QByteArray& line)
{
    const QJsonObject o = QJsonDocument::fromJson(line).object();
    ReceivedFile e;
    e.name = o.value(KeyName).toString();
    e.sender = o.value(KeySender).toString();
    e.time = QDateTime::fromString(o.value(KeyTime).toString(), Qt::ISODateWithMs);
    e.size = o.value(KeySize).toInt(-1);
    e.path = o.value(KeyPath).toString();
    e.failure = o.value(KeyFailure).toString();
    if (!e.time.isValid() || e.size < 0 || e.path.isEmpty() == e.failure.isEmpty()) return std::nullopt;
    return e;
}

// The readable entries in the file's order, oldest first.
QList<ReceivedFile> ReadInOrder(const QString& path)
{
    QList<ReceivedFile> entries;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return entries;
    const qint64 start = std::max<qint64>(0, file.size() - MaxReadBytes);
    file.seek(start);
    QList<QByteArray> lines = file.readAll().split('\n');
    if (start > 0 && !lines.isEmpty()) lines.removeFirst(); // begun mid-line
    for (const QByteArray& line : std::as_const(lines))
        if (const std::optional<ReceivedFile> e = FromLine(line)) entries.append(*e);
    if (entries.size() > MaxReceivedFiles) entries.remove(0, entries.size() - MaxReceivedFiles);
    return entries;
}

} // namespace

QString ReceivedFilesPath()
{
    return WindowsFolder() + FileName.toString();
}

QList<ReceivedFile> ReadReceivedFiles(const QString& path)
{
    QList<ReceivedFile> entries = ReadInOrder(path);
    std::reverse(entries.begin(), entries.end());
    return entries;
}

bool AddReceivedFile(const ReceivedFile& entry, const QString& path)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QLockFile lock(path + LockSuffix.toString());
    // Not taken in time: written all the same; at worst another window's entry is lost, never this one.
    lock.tryLock(LockWaitMs);
    QList<ReceivedFile> entries = ReadInOrder(path);
    entries.append(entry);
    if (entries.size() > MaxReceivedFiles) entries.remove(0, entries.size() - MaxReceivedFiles);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return false;
    for (const ReceivedFile& e : std::as_const(entries))
        file.write(ToLine(e) + '\n');
    return file.commit();
}

} // namespace kv::dorvan
