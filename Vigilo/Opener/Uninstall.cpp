// The uninstaller and the folder conversion of Dorvan's main window.
#include "Platform/ControlPlugin.h"
#include "Platform/Events.h"
#include "Platform/Outlook/Outlook.h"
#include "Platform/Prompt.h"
#include "Platform/Shell.h"
#include "Platform/Window.h"
#include "Shared/StoreAccess.h"
#include "Shared/modMisc.h"
#include "Shared/modReg.h"
#include "Vigilo/Opener/frmOpen.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace kv::dorvan {

namespace {

using namespace kv::outlook;
using platform::MsgButtons;
using platform::MsgIcon;
using platform::MsgResult;

constexpr QChar CR = u'\r';

void Notice(const QString& message)
{
    platform::MsgBox(message, MsgButtons::OK, MsgIcon::Information);
}

// Folders of the operating system: never an installation folder, nor anything inside them.
constexpr std::array<QStringView, 16> SystemFolders{
    u"/bin",  u"/boot", u"/dev", u"/etc",  u"/lib", u"/lib32", u"/lib64", u"/libx32",
    u"/proc", u"/root", u"/run", u"/sbin", u"/srv", u"/sys",   u"/usr",   u"/var"};
// Folders that hold other people's or other programs' files: refused themselves, not their subfolders.
constexpr std::array<QStringView, 5> SharedFolders{u"/home", u"/tmp", u"/media", u"/mnt", u"/opt"};

bool IsSameOrInside(const QString& path, const QString& folder)
{
    return path == folder || path.startsWith(folder + u'/');
}

bool HoldsMonitorLink(const QString& installDir)
{
    const QFileInfo link(installDir + installed::MonitorLink.toString());
    return link.isSymLink() || link.exists();
}

// Deletes the folder's files, hidden ones included, and symbolic links (never
// what they point to); subfolders are left. Failures are ignored.
QStringList DeleteFolderFiles(const QString& folder)
{
    QStringList subfolders;
    const QDir dir(folder);
    const QFileInfoList entries =
        dir.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo& entry : entries) {
        if (entry.isSymLink() || !entry.isDir())
            QFile::remove(entry.absoluteFilePath()); // unlink: a link goes, its target stays
        else
            subfolders << entry.fileName();
    }
    return subfolders;
}

// The folder without its trailing separators, with every link resolved when it exists.
QString ResolvedFolder(const QString& folder)
{
    const QString canonical = QFileInfo(folder).canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(folder) : canonical;
}

// A program folder that is the user's own (a build or a private installation),
// not a system-wide one that other accounts run the product from: owned by the
// user and outside the operating system's folders. Its control libraries are
// the user's to remove.
bool IsOwnProgramFolder(const QString& folder)
{
    const QString path = ResolvedFolder(folder);
    for (QStringView system : SystemFolders)
        if (IsSameOrInside(path, system.toString())) return false;
    if (IsSameOrInside(path, u"/opt"_s)) return false; // add-on packages for every account
    return QFileInfo(path).ownerId() == ::getuid();
}

// The product's settings and registrations, and its autostart entry.
void RemoveSettings()
{
    DeleteKeyValue(RegRoot::CurrentUser, RunKey.toString(), RunValue.toString());
    QFile::remove(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + u"/autostart/"_s +
                  installed::AutostartEntry.toString());
    DeleteKey(RegRoot::CurrentUser, CompanyKey.toString());
    DeleteKey(RegRoot::ClassesRoot, PeerslipExtensionKey.toString());
    DeleteKey(RegRoot::ClassesRoot, PeerslipClassKey.toString());
    DeleteKey(RegRoot::LocalMachine, UninstallKey.toString());
    DeleteKey(RegRoot::LocalMachine, AppPathsKey.toString());
    DeleteKeyValue(RegRoot::CurrentUser, TodayKey.toString(), TodayUrlValue.toString());
}

} // namespace

bool IsRemovableInstallFolder(const QString& folder)
{
    if (folder.trimmed().isEmpty() || QDir::isRelativePath(folder)) return false;
    const QString home = ResolvedFolder(QDir::homePath());
    // Both the folder as named and where its links lead must pass.
    for (const QString& path : {QDir::cleanPath(folder), ResolvedFolder(folder)}) {
        if (path == u"/"_s) return false;
        // The home folder, or one above it.
        if (IsSameOrInside(home, path) || IsSameOrInside(QDir::cleanPath(QDir::homePath()), path))
            return false;
        for (QStringView system : SystemFolders)
            if (IsSameOrInside(path, system.toString())) return false;
        for (QStringView shared : SharedFolders)
            if (path == shared.toString()) return false;
    }
    return true;
}

void frmOpen::Uninstall(const QString& store, const QString& folder, const QString& installDir)
{
    const QString product = platform::ProductTitle.toString();
    // A mistaken InstallDir must not turn the uninstaller against the user's files: check before anything
    // changes.
    if (!IsRemovableInstallFolder(installDir)) {
        Notice(text::UnsafeFolderHead.toString() + installDir + text::UnsafeFolderTail.toString());
        Notice(product + text::NotUninstalled.toString());
        Unload();
        return;
    }

    // 1. Confirm. No is the default: only a deliberate Yes removes the product.
    platform::MsgBoxRequest confirm;
    confirm.text = text::UninstallQuestion.toString();
    confirm.buttons = MsgButtons::YesNo;
    confirm.icon = MsgIcon::Question;
    confirm.defaultButton = 2;
    if (platform::Prompt::current().msgBox(confirm) != MsgResult::Yes) {
        Unload();
        return;
    }

    // 2-3. The monitor must be closed first.
    const platform::BusWindow monitor{
        installed::MonitorBusName.toString(), installed::MonitorBusPath.toString(),
        installed::MonitorBusInterface.toString(), installed::MonitorCloseMember.toString()};
    if (platform::WindowExists(monitor)) {
        const MsgResult answer = platform::MsgBox(text::CloseMonitorQuestion.toString(),
                                                  MsgButtons::YesNoCancel, MsgIcon::Question);
        if (answer == MsgResult::Cancel) {
            Notice(product + text::NotUninstalled.toString());
            Unload();
            return;
        }
        if (answer == MsgResult::Yes) platform::CloseWindow(monitor);
    }
    if (!platform::WaitUntil([&] { return !platform::WindowExists(monitor); }, m_monitorWaitMs)) {
        // Files of a running monitor are not taken from under it.
        Notice(product + text::NotUninstalled.toString());
        Unload();
        return;
    }

    // 4. The installation folder's files, only where the monitor was installed; subfolders stay.
    if (HoldsMonitorLink(installDir)) {
        const QStringList subfolders = DeleteFolderFiles(installDir);
        for (const QString& name : subfolders)
            Notice(text::SubfolderKeptHead.toString() + name + text::SubfolderKeptMiddle.toString() + CR +
                   CR + installDir + name + CR + CR + text::SubfolderKeptTail.toString());
        QDir().rmdir(installDir);
    }

    // 5. The program group and the Peerslip type.
    RemoveDesktopEntries();

    // 6-7. The product's contacts become standard contacts again.
    RestoreContacts(store, folder);
    if (folder != text::StandardContactsFolder.toString())
        Notice(text::ContactsRestoredHead.toString() + folder + text::ContactsRestoredTail.toString());

    // 8. Settings and registrations, and the conversation history.
    RemoveSettings();
    QDir(HistoryFolder()).removeRecursively();

    // 9. The two control libraries: a plugin that is gone is no longer registered. A shared
    // installation keeps them: other accounts still use the product.
    const QString controls = platform::ControlFolder(m_sysDir.isEmpty() ? GetSysDir() : m_sysDir);
    if (IsOwnProgramFolder(controls))
        for (QStringView library : installed::ControlLibraries)
            if (QFileInfo(controls + u'/' + library.toString()).ownerId() == ::getuid())
                QFile::remove(controls + u'/' + library.toString());

    // 10. Anything written meanwhile.
    if (HoldsMonitorLink(installDir)) DeleteFolderFiles(installDir);

    Notice(text::Uninstalled.toString()); // 11.
    Unload();
}

void frmOpen::RemoveDesktopEntries()
{
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    const QString applications = data + u"/applications"_s;
    const QString mime = data + u"/mime"_s;
    bool entriesRemoved = false;
    for (QStringView entry : installed::DesktopEntries)
        entriesRemoved |= QFile::remove(applications + u'/' + entry.toString());
    const bool typeRemoved = QFile::remove(mime + u"/packages/"_s + installed::MimePackage.toString());

    platform::RefreshDesktopDatabases(data, entriesRemoved, typeRemoved);
}

void frmOpen::RestoreContacts(const QString& store, const QString& folder)
{
    Application app;
    const qint32 started = AttachOrStartOutlook(app);
    MAPIFolder product;
    if (app)
        product = app.GetNamespace(MapiNamespace.toString()).Folders().Item(store).Folders().Item(folder);
    if (!product) {
        OlError error = Err();
        if (!error && started) error.Number = started;
        Notice(OpenErrorText(error, store));
        return;
    }
    // Collected first: deleting while walking the folder would skip items.
    QList<Item> welcome;
    QList<Item> contacts;
    for (const Item item : product.Items()) {
        if (!item) continue;
        if (item.FullName() == text::WelcomeContactName.toString())
            welcome << item;
        else if (item.MessageClass() == KivaraContactClass.toString())
            contacts << item;
    }
    for (const Item& item : welcome)
        item.Delete();
    for (const Item& item : contacts)
        if (item.setMessageClass(StandardContactClass.toString())) item.Save();
}

int frmOpen::UpdateFormsToKV(const QString& folder, const QString& store)
{
    return UpdateForms(folder, store, KivaraContactClass.toString());
}

int frmOpen::UpdateFormsToMO(const QString& folder, const QString& store)
{
    return UpdateForms(folder, store, StandardContactClass.toString());
}

int frmOpen::UpdateForms(const QString& folder, const QString& store, const QString& messageClass)
{
    Application app;
    const qint32 started = AttachOrStartOutlook(app);
    MAPIFolder target;
    if (app) target = app.GetNamespace(MapiNamespace.toString()).Folders().Item(store).Folders().Item(folder);
    if (!target) {
        OlError error = Err();
        if (!error && started) error.Number = started;
        if (error.Number == ErrNo::Exception || error.Number == ErrNo::NotFound)
            Notice(FolderNotFoundText(folder));
        else
            Notice(OpenErrorText(error, store));
        return error.Number ? error.Number : -1;
    }
    StoreAccess::ConvertItems(target, messageClass);
    return 0;
}

} // namespace kv::dorvan
