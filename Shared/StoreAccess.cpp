#include "Shared/StoreAccess.h"

#include "Platform/Prompt.h"
#include "Shared/Log.h"

using namespace Qt::StringLiterals;

namespace kv {

using namespace outlook;
using platform::MsgBox;
using platform::MsgButtons;
using platform::MsgIcon;
using platform::MsgResult;

namespace {

constexpr QChar CR = u'\r';
// A store offered and accepted that then cannot be found either: stop asking
// after a few rounds rather than loop.
constexpr int MaxRelocationRounds = 4;

bool isNotFound(qint32 number)
{
    return number == ErrNo::Exception || number == ErrNo::NotFound;
}

void notice(const QString& text)
{
    MsgBox(text, MsgButtons::OK, MsgIcon::Information);
}

} // namespace

QString NoServiceText()
{
    return storetext::NoService.toString() + CR + CR + storetext::ReinstallProduct.toString();
}

QString ServiceGoneText(const QString& storeName)
{
    return storetext::ServiceGoneBefore.toString() + storeName + storetext::ServiceGoneAfter.toString() + CR +
           CR;
}

QString FolderNotFoundText(const QString& folderName)
{
    return storetext::FolderNotFoundBefore.toString() + folderName +
           storetext::FolderNotFoundAfter.toString();
}

QString OpenErrorText(const OlError& error, const QString& storeName)
{
    if (error.Number == ErrNo::StoreFailed) return error.Description + CR + CR + storeName;
    return storetext::ConnectError.toString() + CR + CR + QString::number(error.Number) + u" - "_s +
           error.Description;
}

StoreOps CarriedOperations(Deliverable who)
{
    const StoreOps all = StoreOp::GetOutlook | StoreOp::OpenFolder | StoreOp::ResolveService |
                         StoreOp::OpenMessagesFolder | StoreOp::CreateMessagesFolder |
                         StoreOp::CountStandardContacts | StoreOp::ConvertFolders |
                         StoreOp::ListContactFolders;
    switch (who) {
    case Deliverable::Vigilo:
        return all;
    case Deliverable::Quillon:
        return all & ~StoreOps(StoreOp::OpenMessagesFolder | StoreOp::CreateMessagesFolder);
    case Deliverable::Dorvan:
        return StoreOp::GetOutlook | StoreOp::OpenFolder | StoreOp::ResolveService |
               StoreOp::ListContactFolders;
    case Deliverable::Tallyo:
        return StoreOp::GetOutlook;
    }
    return {};
}

qint32 AttachOrStartOutlook(Application& app)
{
    app = Application::GetObject();
    if (app) return 0;
    if (Err().Number != ErrNo::CannotCreateObject) return 0;
    ClearErr();
    app = Application::CreateObject();
    return app ? 0 : Err().Number;
}

// ---------------------------------------------------------------- StoreAccess

StoreAccess::StoreAccess(Deliverable who) : StoreAccess(who, CarriedOperations(who)) {}

StoreAccess::StoreAccess(Deliverable who, StoreOps carried, OutlookConnector connect)
    : m_who(who), m_carried(carried),
      m_connect(connect ? std::move(connect) : OutlookConnector(AttachOrStartOutlook)),
      m_service(ReadSetting(who, settings::Service)), m_folderName(ReadSetting(who, settings::Folder)),
      m_msgFolderName(ReadSetting(who, settings::MsgFolder))
{}

StoreAccess::~StoreAccess()
{
    Release();
}

void StoreAccess::Release()
{
    m_msgFolder = {};
    m_folder = {};
    m_app = {};
}

bool StoreAccess::carries(StoreOp op, const char* name) const
{
    if (m_carried.testFlag(op)) return true;
    qCWarning(lcShared, "StoreAccess: %s is not an operation of this deliverable", name);
    return false;
}

NameSpace StoreAccess::mapi() const
{
    return m_app.GetNamespace(MapiNamespace.toString());
}

void StoreAccess::ShowOpenError(const OlError& error)
{
    ask(OpenErrorText(error, m_service), MsgButtons::OK, MsgIcon::Information);
}

qint32 StoreAccess::GetOutlook()
{
    if (!carries(StoreOp::GetOutlook, "GetOutlook")) return ErrNo::CannotCreateObject;
    if (m_app) return 0;
    Application app;
    const qint32 result = m_connect(app);
    if (app) m_app = app;
    return result;
}

int StoreAccess::OpenFolder(const QString& name)
{
    if (!carries(StoreOp::OpenFolder, "OpenFolder")) return -1;
    GetOutlook(); // a failure stays pending and is reported by the lookup below
    if (m_folder && m_folder.Name() == name) return 0;

    const MAPIFolder folder = mapi().Folders().Item(m_service).Folders().Item(name);
    if (folder) {
        m_folder = folder;
        return 0;
    }
    const OlError error = Err();
    if (!isNotFound(error.Number)) {
        ShowOpenError(error);
        return -1;
    }
    if (ResolveService() != 0) return -1;
    if (m_folder && m_folder.Name() == name) return 0;
    // The store is there and holds the product folder; the folder asked for
    // is another one, which must exist by itself.
    const MAPIFolder again = mapi().Folders().Item(m_service).Folders().Item(name);
    if (again) {
        m_folder = again;
        return 0;
    }
    if (isNotFound(Err().Number))
        notice(FolderNotFoundText(name));
    else
        ShowOpenError(Err());
    return -1;
}

StoreAccess::StoreCheckResult StoreAccess::CheckStore()
{
    StoreCheckResult result;
    for (int round = 0; round < MaxRelocationRounds; ++round) {
        const NameSpace ns = mapi();
        const MAPIFolder store = ns.Folders().Item(m_service);
        if (store) {
            result.outcome = StoreCheck::Present;
            result.store = store;
            return result;
        }
        result.error = Err();
        if (!isNotFound(result.error.Number)) {
            result.outcome = StoreCheck::Failed;
            return result;
        }

        // The store has gone: look for one to offer instead.
        QString personal;
        QString mailbox;
        const Folders stores = ns.Folders();
        const int count = stores.Count();
        for (int i = 1; i <= count; ++i) {
            const QString storeName = stores.Item(i).Name();
            if (storeName.isEmpty() || storeName == PublicFoldersName.toString()) continue;
            if (storeName == PersonalFoldersName.toString())
                personal = storeName;
            else if (storeName.contains(MailboxMarker.toString()))
                mailbox = storeName; // the last one wins
        }

        const QString gone = ServiceGoneText(m_service);
        QString offer;
        QString question;
        if (m_service == PersonalFoldersName.toString() && !mailbox.isEmpty()) {
            offer = mailbox;
            question = gone + storetext::ChangeLocationBefore.toString() + offer +
                       storetext::LocationQuestionAfter.toString();
        } else if (m_service.contains(MailboxMarker.toString()) && !personal.isEmpty()) {
            offer = personal;
            question = gone + storetext::SetLocationBefore.toString() + offer +
                       storetext::LocationQuestionAfter.toString();
        } else {
            ask(gone + storetext::ReinstallService.toString(), MsgButtons::OK, MsgIcon::Information);
            result.outcome = StoreCheck::Unavailable;
            return result;
        }
        if (ask(question, MsgButtons::YesNo, MsgIcon::Question) != MsgResult::Yes) {
            result.outcome = StoreCheck::Declined;
            return result;
        }
        m_service = offer;
        WriteSetting(settings::Service, offer);
        result.relocated = true;
    }
    result.outcome = StoreCheck::Failed;
    return result;
}

MsgResult StoreAccess::ask(const QString& text, MsgButtons buttons, MsgIcon icon)
{
    if (m_askOnce && m_lastAsked && m_lastAsked->first == text) return m_lastAsked->second;
    const MsgResult answer = MsgBox(text, buttons, icon);
    m_lastAsked.emplace(text, answer);
    return answer;
}

MAPIFolder StoreAccess::AddProductFolder(const MAPIFolder& store)
{
    const MAPIFolder added = store.Folders().Add(m_folderName, olFolderContacts);
    if (added) return added;
    // The addition fails when the folder exists; then the existing one is the product folder.
    return store.Folders().Item(m_folderName);
}

int StoreAccess::ResolveService()
{
    if (!carries(StoreOp::ResolveService, "ResolveService")) return -1;
    if (m_service.isEmpty()) {
        notice(NoServiceText());
        return -1;
    }
    GetOutlook();
    const StoreCheckResult check = CheckStore();
    switch (check.outcome) {
    case StoreCheck::Present:
        break;
    case StoreCheck::Failed:
        notice(ServiceGoneText(m_service) + storetext::ReinstallService.toString());
        return -1;
    case StoreCheck::Declined:
    case StoreCheck::Unavailable:
        return -1;
    }
    const MAPIFolder folder = AddProductFolder(check.store);
    if (!folder) {
        ShowOpenError(Err());
        return -1;
    }
    m_folder = folder;
    if (check.relocated) notice(storetext::LocationChanged.toString());
    return 0;
}

int StoreAccess::OpenMessagesFolder(const QString& name)
{
    if (!carries(StoreOp::OpenMessagesFolder, "OpenMessagesFolder")) return -1;
    GetOutlook();
    if (OpenFolder(m_folderName) != 0) return -1;
    const MAPIFolder folder = m_folder.Folders().Item(name);
    if (folder) {
        m_msgFolder = folder;
        return 0;
    }
    const OlError error = Err();
    if (isNotFound(error.Number) || error.Number == ErrNo::CantCallOut)
        return CreateMessagesFolder() == 0 ? 0 : -1;
    ShowOpenError(error);
    return -1;
}

int StoreAccess::CreateMessagesFolder()
{
    if (!carries(StoreOp::CreateMessagesFolder, "CreateMessagesFolder")) return -1;
    if (m_service.isEmpty()) {
        notice(NoServiceText());
        return -1;
    }
    GetOutlook();
    if (OpenFolder(m_folderName) != 0) return -1;
    MAPIFolder folder = m_folder.Folders().Add(m_msgFolderName, olFolderInbox);
    const bool created = bool(folder);
    if (!folder) folder = m_folder.Folders().Item(m_msgFolderName); // it existed already
    if (!folder) {
        ShowOpenError(Err());
        return -1;
    }
    m_msgFolder = folder;
    if (!created) return 0; // only a new folder gets the welcome message

    const Item item = folder.Items().Add(outlook::KivaraMessageClass.toString());
    item.setSentOnBehalfOfName(welcome::SenderName.toString());
    item.setSubject(welcome::Subject.toString());
    item.setBody(welcome::FirstLine.toString() + u"\r\n\r\n"_s + welcome::Description.toString());
    const UserProperties props = item.UserProperties();
    props.Find(msgprop::IPAddress.toString()).setValue(QString());
    props.Find(msgprop::ChatName.toString()).setValue(welcome::ChatName.toString());
    props.Find(msgprop::Availability.toString()).setValue(welcome::Availability.toString());
    props.Find(msgprop::MsgRead.toString()).setValue(false);
    item.Save();
    item.Move(folder);
    return 0;
}

int StoreAccess::CountStandardContacts(const QString& name)
{
    if (!carries(StoreOp::CountStandardContacts, "CountStandardContacts")) return 0;
    GetOutlook();
    const MAPIFolder folder = mapi().Folders().Item(m_service).Folders().Item(name);
    if (!folder) {
        const OlError error = Err();
        if (error.Number == ErrNo::Exception)
            notice(FolderNotFoundText(name));
        else if (error.Number != ErrNo::StoreFailed)
            ShowOpenError(error);
        return 0;
    }
    const Items standard =
        folder.Items().Restrict(u"[MessageClass] = '"_s + StandardContactClass.toString() + u"'"_s);
    return standard ? standard.Count() : 0;
}

int StoreAccess::ConvertItems(const MAPIFolder& folder, const QString& messageClass)
{
    int changed = 0;
    const Items items = folder.Items();
    if (!items) return 0;
    const QString contact = StandardContactClass.toString();
    for (const Item item : items) {
        if (!item || item.MessageClass() == messageClass) continue;
        // Only contacts change form; a note or a list kept in a contacts folder keeps its own.
        const QString cls = item.MessageClass();
        if (cls.compare(contact, Qt::CaseInsensitive) != 0 && !cls.startsWith(contact + u'.', Qt::CaseInsensitive))
            continue;
        if (item.setMessageClass(messageClass) && item.Save()) ++changed;
    }
    return changed;
}

int StoreAccess::ConvertFolders(const QString& newFolder, const QString& oldFolder)
{
    if (!carries(StoreOp::ConvertFolders, "ConvertFolders")) return -1;
    if (OpenFolder(oldFolder) == 0) ConvertItems(m_folder, StandardContactClass.toString());
    if (OpenFolder(newFolder) != 0) return -1;
    ConvertItems(m_folder, outlook::KivaraContactClass.toString());
    return 0;
}

QStringList StoreAccess::ListContactFolders(const QString& productFolder)
{
    QStringList entries;
    if (!carries(StoreOp::ListContactFolders, "ListContactFolders")) return entries;
    GetOutlook();
    const MAPIFolder store = mapi().Folders().Item(m_service);
    if (!store) return entries;
    const Folders folders = store.Folders();
    const int count = folders.Count();
    for (int i = 1; i <= count; ++i) {
        const MAPIFolder folder = folders.Item(i);
        if (!folder || folder.DefaultMessageClass() != StandardContactClass.toString()) continue;
        const QString name = folder.Name();
        const QString entry = u"'"_s + name + u"' folder"_s;
        if (name == productFolder)
            entries.prepend(entry);
        else
            entries.append(entry);
    }
    return entries;
}

} // namespace kv
