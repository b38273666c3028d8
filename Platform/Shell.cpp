#include "Platform/Shell.h"
#include "filemanager1proxy.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusPendingCallWatcher>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QUrl>

using namespace Qt::StringLiterals;

namespace kv::platform {

namespace {

constexpr auto LogVariable = "KIVARA_SHELL_LOG";
constexpr auto DryRunVariable = "KIVARA_SHELL_DRYRUN";
constexpr QStringView FileManagerService = u"org.freedesktop.FileManager1";
constexpr QStringView FileManagerPath = u"/org/freedesktop/FileManager1";

// "scheme:..." with a scheme of two or more letters is a URL (one letter would be a drive).
QUrl TargetUrl(const QString& target)
{
    static const QRegularExpression scheme(u"^[A-Za-z][A-Za-z0-9+.\\-]+:"_s);
    if (scheme.match(target).hasMatch()) return QUrl(target);
    return QUrl::fromLocalFile(QDir::cleanPath(target));
}

class DesktopShell : public Shell {
public:
    DesktopShell(const QString& logFile, bool dryRun)
        : m_logFile(logFile), m_dryRun(dryRun && !logFile.isEmpty())
    {}

    bool open(const QString& target) override
    {
        log({u"open"_s, target, {}, {}});
        if (target.isEmpty()) return false;
        return m_dryRun || openUrl(TargetUrl(target));
    }

    bool showInFolder(const QString& path) override
    {
        log({u"show"_s, path, {}, {}});
        if (path.isEmpty()) return false;
        if (m_dryRun) return true;
        const QUrl file = QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath());
        const QUrl folder = QUrl::fromLocalFile(QFileInfo(path).absolutePath());
        QDBusConnection bus = QDBusConnection::sessionBus();
        QDBusConnectionInterface* names = bus.isConnected() ? bus.interface() : nullptr;
        const QString service = FileManagerService.toString();
        if (!names || (!names->isServiceRegistered(service) &&
                       !names->activatableServiceNames().value().contains(service)))
            return openUrl(folder);
        // Not awaited: a file manager started for this may take a while. Failing, it opens the folder.
        FileManager1Proxy manager(service, FileManagerPath.toString(), bus);
        auto* watcher =
            new QDBusPendingCallWatcher(manager.ShowItems({file.toString(QUrl::FullyEncoded)}, {}));
        QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                         [folder](QDBusPendingCallWatcher* call) {
                             if (call->isError()) openUrl(folder);
                             call->deleteLater();
                         });
        return true;
    }

    bool start(const QString& program, const QStringList& arguments, const QString& workingDir) override
    {
        log({u"start"_s, program, arguments, workingDir});
        return !program.isEmpty() && QProcess::startDetached(program, arguments, workingDir);
    }

private:
    // What the desktop's own "open" does, without needing a GUI in this process.
    static bool openUrl(const QUrl& url)
    {
        return url.isValid() && QProcess::startDetached(u"xdg-open"_s, {url.toString(QUrl::FullyEncoded)});
    }

    void log(const ShellCall& call) const
    {
        if (m_logFile.isEmpty()) return;
        QFile file(m_logFile);
        if (file.open(QIODevice::WriteOnly | QIODevice::Append)) file.write(call.toJson() + '\n');
    }

    QString m_logFile;
    bool m_dryRun;
};

std::unique_ptr<Shell>& Installed()
{
    static std::unique_ptr<Shell> shell;
    return shell;
}

} // namespace

QByteArray ShellCall::toJson() const
{
    QJsonObject o{{u"call"_s, kind}, {u"target"_s, target}};
    if (kind == u"start"_s) {
        o.insert(u"arguments"_s, QJsonArray::fromStringList(arguments));
        o.insert(u"workingDir"_s, workingDir);
    }
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

std::unique_ptr<Shell> Shell::createDefault()
{
    return std::make_unique<DesktopShell>(qEnvironmentVariable(LogVariable),
                                          qEnvironmentVariable(DryRunVariable) == u"1"_s);
}

Shell& Shell::current()
{
    std::unique_ptr<Shell>& shell = Installed();
    if (!shell) shell = createDefault();
    return *shell;
}

void RefreshDesktopDatabases(const QString& dataHome, bool entries, bool types)
{
    const auto refresh = [](const QString& tool, const QString& folder) {
        const QString program = QStandardPaths::findExecutable(tool);
        if (!program.isEmpty()) Shell::current().start(program, {folder});
    };
    if (entries) refresh(u"update-desktop-database"_s, dataHome + u"/applications"_s);
    if (types) refresh(u"update-mime-database"_s, dataHome + u"/mime"_s);
}

void Shell::install(std::unique_ptr<Shell> shell)
{
    Installed() = std::move(shell);
}

} // namespace kv::platform
