#include "Vigilo/Opener/frmOpen.h"

#include "Platform/Events.h"
#include "Platform/Outlook/Outlook.h"
#include "Platform/Outlook/WindowSide.h"
#include "Platform/Prompt.h"
#include "Shared/modMisc.h"
#include "Shared/modReg.h"
#include "Vigilo/Opener/Log.h"
#include "Vigilo/Opener/frmConvert.h"
#include "Vigilo/Opener/frmFile.h"
#include "Vigilo/Opener/frmProp.h"
#include "Vigilo/Opener/frmReceived.h"

using namespace Qt::StringLiterals;

namespace kv::dorvan {

namespace {

using namespace kv::outlook;

constexpr QChar CR = u'\r';

void Notice(const QString& message)
{
    platform::MsgBox(message, platform::MsgButtons::OK, platform::MsgIcon::Information);
}

// The store's error text with the store's name, for a store that cannot be opened.
void ReportStoreFailed(const OlError& error, const QString& store)
{
    Notice(error.Description + CR + CR + store);
}

// Object-model failures in hexadecimal ("80020009"), automation errors in decimal ("429").
QString ErrorNumberText(const OlError& error)
{
    return error.Number < 0 ? error.hex() : QString::number(error.Number);
}

// Attaches to the running host program, or starts one.
Application AttachOrStart(bool* startedNow)
{
    *startedNow = false;
    Application app = Application::GetObject();
    if (!app && Err().Number == ErrNo::CannotCreateObject) {
        app = Application::CreateObject();
        *startedNow = static_cast<bool>(app);
    }
    return app;
}

// A subfolder by name, made with the given type when it is not there.
MAPIFolder OpenOrCreate(const MAPIFolder& parent, const QString& name, int type)
{
    MAPIFolder folder = parent.Folders().Item(name);
    if (folder || Err().Number != ErrNo::Exception || !parent) return folder;
    folder = parent.Folders().Add(name, type);
    if (!folder && (Err().Number == ErrNo::Collision || Err().Number == ErrNo::Exception)) {
        // Made by someone else in the meantime.
        const OlError failed = Err();
        folder = parent.Folders().Item(name);
        if (!folder) detail::SetErr(failed.Number, failed.Description);
    }
    return folder;
}

// Shows the folder: a window started now gets a new window on it; a running one
// brings forward its active window when that already shows a folder of this name,
// and otherwise switches that window to it.
void ShowFolder(const Application& app, const MAPIFolder& folder, bool startedNow)
{
    if (!startedNow) {
        if (const std::shared_ptr<Explorer> active = app.ActiveExplorer()) {
            const MAPIFolder shown = active->CurrentFolder();
            if (shown && shown.Name() == folder.Name())
                active->Activate();
            else
                active->setCurrentFolder(folder);
            return;
        }
    }
    if (const std::shared_ptr<Explorer> window = folder.GetExplorer(0)) window->Display();
}

} // namespace

Route Classify(const QString& commandLine)
{
    if (commandLine == command::Uninstall.toString()) return Route::Uninstall;
    if (commandLine == command::OpenKVFolder.toString()) return Route::OpenKVFolder;
    if (commandLine == command::OpenKVMessages.toString()) return Route::OpenKVMessages;
    if (commandLine == command::ReceivedFiles.toString()) return Route::ReceivedFiles;
    if (commandLine.isEmpty()) return Route::Conversion;
    // By the message's first word: a file title or a name may hold the other word.
    const QString word = commandLine.section(u'|', 0, 0);
    if (word == command::ShowUser.toString()) return Route::ShowUser;
    if (word == command::FilePrep.toString()) return Route::FilePrep;
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
    delete m_prop;
    delete m_convert;
    delete m_received;
}

Route frmOpen::Start(const QString& commandLine)
{
    m_installDir = ReadSetting(Deliverable::Dorvan, settings::InstallDir);
    m_service = ReadSetting(Deliverable::Dorvan, settings::Service);
    m_folder = ReadSetting(Deliverable::Dorvan, settings::Folder);
    if (m_installDir.isEmpty() || m_service.isEmpty() || m_folder.isEmpty()) {
        qCDebug(lcOpener,
                "nothing done: the product is not set up (no install folder, store or folder setting)");
        Unload();
        return Route::EarlyEnd;
    }

    const Route route = Classify(commandLine);
    switch (route) {
    case Route::Uninstall:
        Uninstall(m_service, m_folder, m_installDir);
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
        m_convert = new frmConvert(this, m_service, m_folder);
        connect(m_convert, &frmConvert::Unloaded, this, &frmOpen::Unload);
        m_convert->Load();
        break;
    case Route::ShowUser:
        m_prop = new frmProp;
        connect(m_prop, &frmProp::Unloaded, this, &frmOpen::Unload);
        m_prop->setUser(SplitPieces(commandLine));
        m_prop->show();
        break;
    case Route::FilePrep:
        m_file = new frmFile;
        connect(m_file, &frmFile::Unloaded, this, &frmOpen::Unload);
        m_file->setInfo(SplitPieces(commandLine));
        break;
    case Route::ReceivedFiles:
        m_received = new frmReceived;
        connect(m_received, &frmReceived::Unloaded, this, &frmOpen::Unload);
        m_received->show();
        break;
    case Route::Nothing:
        qCDebug(lcOpener, "nothing done: the command line names no task");
        [[fallthrough]];
    case Route::EarlyEnd:
        Unload();
        break;
    }
    return route;
}

int frmOpen::OpenKVFolder(const QString& store, const QString& folder)
{
    bool startedNow = false;
    const Application app = AttachOrStart(&startedNow);
    MAPIFolder product;
    if (app) {
        const MAPIFolder storeFolder = app.GetNamespace(u"MAPI"_s).Folders().Item(store);
        product = OpenOrCreate(storeFolder, folder, olFolderContacts);
    }
    if (!product) {
        const OlError error = Err();
        if (error.Number == ErrNo::StoreFailed)
            ReportStoreFailed(error, store);
        else
            Notice(text::OutlookError.toString() + CR + CR + ErrorNumberText(error) + u" - "_s +
                   error.Description);
        return error.Number ? error.Number : -1;
    }
    ShowFolder(app, product, startedNow);
    return 0;
}

int frmOpen::OpenKVMessages(const QString& store, const QString& folder)
{
    bool startedNow = false;
    const Application app = AttachOrStart(&startedNow);
    MAPIFolder messages;
    if (app) {
        const MAPIFolder storeFolder = app.GetNamespace(u"MAPI"_s).Folders().Item(store);
        const MAPIFolder product = OpenOrCreate(storeFolder, folder, olFolderContacts);
        if (product)
            messages = OpenOrCreate(product, ReadSetting(Deliverable::Dorvan, settings::MsgFolder), olFolderInbox);
    }
    if (!messages) {
        const OlError error = Err();
        if (error.Number == ErrNo::StoreFailed)
            ReportStoreFailed(error, store);
        else
            Notice(text::MessagesFolderError.toString());
        return error.Number ? error.Number : -1;
    }
    ShowFolder(app, messages, startedNow);
    return 0;
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
    if (m_prop) m_prop->Unload();
    if (m_convert) m_convert->Unload();
    if (m_received) m_received->Unload();
    hide();
    Q_EMIT Unloaded();
}

} // namespace kv::dorvan
