#include "Platform/ControlPlugin.h"

#include "Platform/Outlook/WindowSide.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QLibrary>
#include <QPluginLoader>
#include <QWidget>

using namespace Qt::StringLiterals;

namespace kv::platform {

namespace {
bool provides(const QJsonObject& meta, const QString& className)
{
    if (meta.value(u"IID"_s).toString() != QLatin1StringView(KivaraControlFactory_iid)) return false;
    const QJsonArray classes =
        meta.value(u"MetaData"_s).toObject().value(ControlClassesKey.toString()).toArray();
    for (const QJsonValueConstRef c : classes)
        if (c.toString().compare(className, Qt::CaseInsensitive) == 0) return true;
    return false;
}
} // namespace

QString ControlFolder(const QString& systemFolder)
{
    const QString programs = systemFolder.isEmpty() ? QCoreApplication::applicationDirPath() : systemFolder;
    const QString installed = QDir::cleanPath(programs + u'/' + QStringLiteral(KIVARA_CONTROL_DIR));
    return QFileInfo(installed).isDir() ? installed : programs;
}

QString FindControlLibrary(const QString& className, const QString& folder)
{
    const QDir dir(folder.isEmpty() ? ControlFolder() : folder);
    const QStringList files = dir.entryList(QDir::Files, QDir::Name);
    for (const QString& f : files) {
        const QString path = dir.filePath(f);
        if (!QLibrary::isLibrary(path)) continue;
        // Reads the metadata only; the library is loaded when it is the one.
        QPluginLoader loader(path);
        if (provides(loader.metaData(), className)) return path;
    }
    return {};
}

QWidget* CreateControl(const QString& className, QWidget* parent, QString* error, const QString& folder)
{
    const QString path = FindControlLibrary(className, folder);
    if (path.isEmpty()) {
        if (error) *error = u"No control library provides the class \"%1\"."_s.arg(className);
        return nullptr;
    }
    QPluginLoader loader(path);
    auto* factory = qobject_cast<ControlFactory*>(loader.instance());
    if (!factory) {
        if (error) *error = loader.errorString();
        return nullptr;
    }
    factory->attachHost(kv::outlook::WindowSide::current());
    QWidget* control = factory->create(className, parent);
    if (!control && error) *error = u"The library \"%1\" did not create \"%2\"."_s.arg(path, className);
    return control;
}

} // namespace kv::platform
