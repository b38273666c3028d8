#include "Platform/Registry.h"

#include "Platform/Ansi.h"
#include "Platform/Log.h"

#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QSettings>
#include <QStandardPaths>

using namespace Qt::StringLiterals;

namespace kv::platform::Registry {

namespace {

QString rootName(RegRoot root)
{
    switch (root) {
    case RegRoot::CurrentUser:
        return u"HKEY_CURRENT_USER"_s;
    case RegRoot::LocalMachine:
        return u"HKEY_LOCAL_MACHINE"_s;
    case RegRoot::ClassesRoot:
        return u"HKEY_CLASSES_ROOT"_s;
    }
    return {};
}

// Registry paths use backslashes; the INI file nests groups with "/".
QString groupOf(const QString& keyPath)
{
    QString g = keyPath;
    g.replace(u'\\', u'/');
    while (g.startsWith(u'/'))
        g.remove(0, 1);
    while (g.endsWith(u'/'))
        g.chop(1);
    return g;
}

const char* statusText(QSettings::Status status)
{
    return status == QSettings::AccessError ? "cannot access the file" : "not a settings file";
}

// A fresh QSettings per call, synced first, so another process's write is seen.
// A file that cannot be read reads as empty: every value is missing.
std::unique_ptr<QSettings> open(RegRoot root)
{
    auto s = std::make_unique<QSettings>(rootFile(root), QSettings::IniFormat);
    s->sync();
    if (s->status() != QSettings::NoError)
        qCDebug(lcRegistry, "%s not read: %s", qUtf8Printable(s->fileName()), statusText(s->status()));
    return s;
}

// Writes the changes; false (and a line on why) when the file did not take them.
bool written(QSettings& s)
{
    s.sync();
    if (s.status() == QSettings::NoError) return true;
    qCDebug(lcRegistry, "%s not written: %s", qUtf8Printable(s.fileName()), statusText(s.status()));
    return false;
}

QString ansi(const QString& text)
{
    return FromAnsi(ToAnsi(text));
}

// A resolver configuration is a few lines; more than this is not one.
constexpr qint64 ResolverFileBytes = qint64(64) * 1024;

QString& resolverFile()
{
    static QString path = SystemResolverFile.toString();
    return path;
}

bool isNameServerValue(RegRoot root, const QString& keyPath, const QString& name)
{
    return root == RegRoot::LocalMachine &&
           groupOf(keyPath).compare(groupOf(NameServerKey.toString()), Qt::CaseInsensitive) == 0 &&
           name.compare(NameServerValue.toString(), Qt::CaseInsensitive) == 0;
}

} // namespace

QString rootFile(RegRoot root)
{
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return base + u"/kivara/registry/"_s + rootName(root) + u".ini"_s;
}

bool keyExists(RegRoot root, const QString& keyPath)
{
    auto s = open(root);
    s->beginGroup(groupOf(keyPath));
    return !s->childKeys().isEmpty() || !s->childGroups().isEmpty();
}

void setResolverFile(const QString& path)
{
    resolverFile() = path;
}

std::optional<QString> nameServersOf(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray text = file.read(ResolverFileBytes);
    if (!file.atEnd())
        return std::nullopt; // not a resolver configuration
    QStringList servers;
    for (const QByteArray& line : text.split('\n')) {
        // "nameserver <address>"; "#" or ";" starts a comment, anything after the address is ignored.
        const QList<QByteArray> words = line.simplified().split(' ');
        if (words.size() < 2 || words[0] != "nameserver")
            continue;
        const QString candidate = QString::fromLatin1(words[1]);
        if (!QHostAddress(candidate).isNull())
            servers.append(candidate);
    }
    if (servers.isEmpty())
        return std::nullopt;
    return servers.join(u',');
}

std::optional<QString> queryValue(RegRoot root, const QString& keyPath, const QString& name)
{
    auto s = open(root);
    s->beginGroup(groupOf(keyPath));
    const QVariant v = s->value(name);
    if (!v.isValid())
        return isNameServerValue(root, keyPath, name) ? nameServersOf(resolverFile()) : std::nullopt;
    return v.toString();
}

bool setValue(RegRoot root, const QString& keyPath, const QString& name, const QString& value)
{
    QDir().mkpath(QFileInfo(rootFile(root)).absolutePath());
    auto s = open(root);
    s->beginGroup(groupOf(keyPath));
    s->setValue(name, ansi(value));
    s->endGroup();
    return written(*s);
}

bool deleteValue(RegRoot root, const QString& keyPath, const QString& name)
{
    auto s = open(root);
    s->beginGroup(groupOf(keyPath));
    if (!s->contains(name))
        return false;
    s->remove(name);
    s->endGroup();
    return written(*s);
}

bool deleteKey(RegRoot root, const QString& keyPath)
{
    if (!keyExists(root, keyPath))
        return false;
    auto s = open(root);
    s->remove(groupOf(keyPath));
    return written(*s);
}

} // namespace kv::platform::Registry
