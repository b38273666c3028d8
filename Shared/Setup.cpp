#include "Shared/Setup.h"

#include "Platform/Outlook/Outlook.h"
#include "Platform/Outlook/Store.h"
#include "Platform/Shell.h"
#include "Shared/Installed.h"
#include "Shared/Log.h"
#include "Shared/modReg.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QStandardPaths>

using namespace Qt::StringLiterals;

namespace kv::setup {

namespace {

// A new installation identifier: "KV-" and twelve hexadecimal digits in three groups.
QString NewSerialNum()
{
    auto* rng = QRandomGenerator::system();
    return u"KV-%1-%2-%3"_s.arg(rng->bounded(0x10000), 4, 16, QChar(u'0'))
        .arg(rng->bounded(0x10000), 4, 16, QChar(u'0'))
        .arg(rng->bounded(0x10000), 4, 16, QChar(u'0'))
        .toUpper();
}

QString Setting(const SettingSpec& spec)
{
    return ReadSetting(spec.subkey.toString(), spec.name.toString(), QString());
}

// Files of a folder (not its subfolders) into another; returns how many.
int CopyFiles(const QString& from, const QString& to, const QStringList& only = {})
{
    int copied = 0;
    const QDir source(from);
    for (const QString& name : source.entryList(QDir::Files, QDir::Name)) {
        if (!only.isEmpty() && !only.contains(name)) continue;
        QFile::remove(to + name);
        if (QFile::copy(source.filePath(name), to + name)) ++copied;
    }
    return copied;
}

bool WriteText(const QString& path, const QString& text)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return false;
    file.write(text.toUtf8());
    return file.commit();
}

// A desktop entry's Exec field: the program quoted, then its arguments.
QString Exec(const QString& program, const QString& arguments = {})
{
    return u"\""_s + program + u"\""_s + (arguments.isEmpty() ? QString() : u" "_s + arguments);
}

void WriteDesktopEntries(const QString& sys, const QString& installDir)
{
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    const QString icon = installDir + installed::ProductIcon.toString();
    const QString monitor = sys + u'/' + installed::MonitorProgram.toString();
    const QString opener = sys + u'/' + installed::OpenerProgram.toString();
    // The monitor opens a Peerslip handed to it as one argument.
    WriteText(data + u"/applications/"_s + installed::MonitorEntry.toString(),
              u"[Desktop Entry]\nType=Application\nName=Kivara Monitor\nComment=Calls and messages for your "
              u"Kivara contacts\nExec="_s +
                  Exec(monitor, u"%f"_s) + u"\nIcon="_s + icon + u"\nMimeType="_s +
                  installed::PeerslipMimeType.toString() + u";\nCategories=Network;Chat;\n"_s);
    WriteText(data + u"/applications/"_s + installed::OpenerEntry.toString(),
              u"[Desktop Entry]\nType=Application\nName=Kivara Contact Forms\nExec="_s + Exec(opener) +
                  u"\nIcon="_s + icon +
                  u"\nCategories=Network;\nActions=Uninstall;\n\n[Desktop Action Uninstall]\nName=Uninstall "
                  u"Kivara\nExec="_s +
                  Exec(opener, u"uninstall"_s) + u"\n"_s);
    WriteText(data + u"/mime/packages/"_s + installed::MimePackage.toString(),
              u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
              u"<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n"
              u"  <mime-type type=\""_s +
                  installed::PeerslipMimeType.toString() +
                  u"\">\n    <comment>Kivara Peerslip</comment>\n    <glob pattern=\"*.kvp\"/>\n"
                  u"  </mime-type>\n</mime-info>\n"_s);
    const QString autostart = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                              u"/autostart/"_s + installed::AutostartEntry.toString();
    WriteText(autostart, u"[Desktop Entry]\nType=Application\nName=Kivara Monitor\nExec="_s + Exec(monitor) +
                             u"\nX-GNOME-Autostart-enabled=true\nNoDisplay=true\n"_s);
    // Without this the desktop knows neither ".kvp" nor its handler until something else refreshes.
    platform::RefreshDesktopDatabases(data, true, true);
}

// A key's unnamed value, as the registry's export files name it.
constexpr QStringView DefaultValue = u"@";

void WriteRegistrations(const QString& sys, const QString& installDir)
{
    const QString monitor = sys + u'/' + installed::MonitorProgram.toString();
    WriteKeyValue(RegRoot::CurrentUser, RunKey.toString(), RunValue.toString(), monitor);
    WriteKeyValue(RegRoot::ClassesRoot, PeerslipExtensionKey.toString(), DefaultValue.toString(),
                  PeerslipClassKey.toString());
    WriteKeyValue(RegRoot::ClassesRoot, PeerslipClassKey.toString() + u"\\shell\\open\\command"_s,
                  DefaultValue.toString(), Exec(monitor, u"\"%1\""_s));
    WriteKeyValue(RegRoot::LocalMachine, UninstallKey.toString(), u"DisplayName"_s,
                  u"Kivara for Microsoft Outlook"_s);
    WriteKeyValue(RegRoot::LocalMachine, UninstallKey.toString(), u"UninstallString"_s,
                  Exec(sys + u'/' + installed::OpenerProgram.toString(), u"uninstall"_s));
    WriteKeyValue(RegRoot::LocalMachine, AppPathsKey.toString(), DefaultValue.toString(), monitor);
    WriteKeyValue(RegRoot::LocalMachine, AppPathsKey.toString(), u"Path"_s, sys);
    WriteKeyValue(RegRoot::CurrentUser, TodayKey.toString(), TodayUrlValue.toString(),
                  TodayPageUrl(installDir));
}

// The forms, the product folder and its welcome contact.
bool PrepareStore(QString* error)
{
    using namespace kv::outlook;
    if (!RegisterProductForms(DefaultStorePath())) {
        *error = Err().Description;
        return false;
    }
    const Application app(DefaultStorePath());
    const MAPIFolder store = app.GetNamespace(u"MAPI"_s).Folders().Item(Setting(settings::Service));
    MAPIFolder product = store.Folders().Item(Setting(settings::Folder));
    if (!product) product = store.Folders().Add(Setting(settings::Folder), olFolderContacts);
    if (!product) {
        *error = Err().Description;
        return false;
    }
    for (const Item item : product.Items())
        if (item && item.FullName() == WelcomeContactName.toString()) return true;
    const Item welcome = product.Items().Add(u"IPM.Contact.Kivara Contact"_s);
    if (!welcome || !welcome.setFullName(WelcomeContactName.toString()) || !welcome.Save()) {
        *error = Err().Description;
        return false;
    }
    return true;
}

} // namespace

QString DefaultInstallDir()
{
    // A folder of its own beside the mail store and the signatures, which share the data root:
    // the uninstaller keeps an installation folder's subfolders, and with them the folder.
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + u"/kivara/program/"_s;
}

QString InstalledShare(const QString& systemFolder)
{
    const QString share = QDir::cleanPath(systemFolder + u'/' + QStringLiteral(KIVARA_DATA_DIR));
    return QFileInfo(share + u"/sounds"_s).isDir() ? share : QString();
}

Result Install(const Options& options)
{
    Result result;
    result.installDir = Setting(settings::InstallDir);
    if (result.installDir.isEmpty()) result.installDir = DefaultInstallDir();
    if (!result.installDir.endsWith(u'/')) result.installDir += u'/';
    WriteSetting(settings::InstallDir, result.installDir);
    QDir().mkpath(result.installDir);
    result.serialNum = Setting(settings::SerialNum);
    if (result.serialNum.isEmpty()) {
        result.serialNum = NewSerialNum();
        WriteSetting(settings::SerialNum, result.serialNum);
    }
    // The opener reads the store and folder without defaults of its own.
    for (const SettingSpec* spec : {&settings::Service, &settings::Folder})
        if (Setting(*spec).isEmpty()) WriteSetting(*spec, SettingDefault(Deliverable::Vigilo, *spec));

    // Sounds, the help page and the product's icon sit directly in InstallDir, where the
    // settings' defaults name them (InstallDir + "trillo.wav"); the uninstaller removes
    // the folder's files and keeps its subfolders, which hold the user's own.
    if (!options.share.isEmpty()) {
        result.files += CopyFiles(options.share + u"/sounds/"_s, result.installDir);
        result.files += CopyFiles(options.share + u"/help/"_s, result.installDir);
        result.files +=
            CopyFiles(options.share + u"/icons/"_s, result.installDir, {installed::ProductIcon.toString()});
    }

    if (!options.systemFolder.isEmpty()) {
        const QString link = result.installDir + installed::MonitorLink.toString();
        QFile::remove(link);
        QFile::link(options.systemFolder + u'/' + installed::MonitorProgram.toString(), link);
        WriteDesktopEntries(options.systemFolder, result.installDir);
        WriteRegistrations(options.systemFolder, result.installDir);
    }

    result.forms = PrepareStore(&result.error);
    return result;
}

void FirstStart(const QString& systemFolder)
{
    if (!Setting(settings::InstallDir).isEmpty()) return;
    const QString share = InstalledShare(systemFolder);
    if (share.isEmpty()) return;
    const Result result = Install({systemFolder, share});
    if (!result.forms) qCWarning(lcShared, "first-start set-up: %s", qPrintable(result.error));
}

} // namespace kv::setup
