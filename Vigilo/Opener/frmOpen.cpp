#include "frmOpen.h"

#include "Events.h"
#include "frmFile.h"
#include "modMisc.h"
#include "modReg.h"

using namespace Qt::StringLiterals;

namespace kv::dorvan {

namespace {
QString T(const char16_t* s)
{
    return QString::fromUtf16(s);
}
} // namespace

Route Classify(const QString& commandLine)
{
    if (commandLine == T(command::Uninstall)) return Route::Uninstall;
    if (commandLine == T(command::OpenKVFolder)) return Route::OpenKVFolder;
    if (commandLine == T(command::OpenKVMessages)) return Route::OpenKVMessages;
    if (commandLine.isEmpty()) return Route::Conversion;
    if (commandLine.contains(T(command::ShowUser))) return Route::ShowUser;
    if (commandLine.contains(T(command::FilePrep))) return Route::FilePrep;
    return Route::Nothing;
}

QStringList SplitPieces(const QString& commandLine)
{
    return commandLine.split(u'|', Qt::KeepEmptyParts);
}

QString CommandLineOf(const QStringList& arguments)
{
    return arguments.join(u' ');
}

frmOpen::frmOpen(QWidget* parent) : QWidget(parent) {}

frmOpen::~frmOpen()
{
    delete m_file;
}

Route frmOpen::Start(const QString& commandLine)
{
    m_installDir = ReadSetting(Deliverable::Dorvan, settings::InstallDir);
    m_service = ReadSetting(Deliverable::Dorvan, settings::Service);
    m_folder = ReadSetting(Deliverable::Dorvan, settings::Folder);
    if (m_installDir.isEmpty() || m_service.isEmpty() || m_folder.isEmpty()) {
        Unload();
        return Route::EarlyEnd;
    }

    const Route route = Classify(commandLine);
    switch (route) {
    case Route::Uninstall:
        // The uninstaller is not part of this program yet: Uninstall(m_service, m_folder, m_installDir).
        Unload();
        break;
    case Route::OpenKVFolder:
        OpenKVFolder(m_service, m_folder);
        Unload();
        break;
    case Route::OpenKVMessages:
        OpenKVMessages(m_service, m_folder);
        Unload();
        break;
    case Route::Conversion:
        // The folder-conversion window is not part of this program yet; without it there is nothing to show.
        Unload();
        break;
    case Route::ShowUser:
        // The Peerslip viewer is not part of this program yet: it takes SplitPieces(commandLine) as its User.
        Unload();
        break;
    case Route::FilePrep:
        m_file = new frmFile;
        connect(m_file, &frmFile::Unloaded, this, &frmOpen::Unload);
        m_file->setInfo(SplitPieces(commandLine));
        break;
    case Route::Nothing:
    case Route::EarlyEnd:
        Unload();
        break;
    }
    return route;
}

int frmOpen::OpenKVFolder(const QString& store, const QString& folder)
{
    Q_UNUSED(store)
    Q_UNUSED(folder)
    return -1;
}

int frmOpen::OpenKVMessages(const QString& store, const QString& folder)
{
    Q_UNUSED(store)
    Q_UNUSED(folder)
    return -1;
}

QString frmOpen::GetSysDir() const
{
    return SystemFolder();
}

void frmOpen::Unload()
{
    if (m_unloaded) return;
    m_unloaded = true;
    platform::DoEvents();
    if (m_file && !m_file->isUnloaded()) m_file->cmdFileClick(1);
    hide();
    Q_EMIT Unloaded();
}

} // namespace kv::dorvan
