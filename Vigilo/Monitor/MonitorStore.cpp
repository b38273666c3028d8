#include "MonitorStore.h"
#include "modReg.h"

using namespace Qt::StringLiterals;

namespace kv::vigilo {

namespace ol = kv::outlook;

MonitorStore::MonitorStore()
    : m_service(ReadSetting(Deliverable::Vigilo, settings::Service))
    , m_folderName(ReadSetting(Deliverable::Vigilo, settings::Folder))
    , m_msgFolderName(ReadSetting(Deliverable::Vigilo, settings::MsgFolder))
{
}

qint32 MonitorStore::Connect()
{
    if (!m_app) {
        m_app = ol::Application::CreateObject();
        if (!m_app)
            return ol::Err().Number ? ol::Err().Number : -1;
    }
    const ol::MAPIFolder store = m_app.GetNamespace(u"MAPI"_s).Folders().Item(m_service);
    if (!store)
        return ol::Err().Number ? ol::Err().Number : -1;
    m_folder = store.Folders().Item(m_folderName);
    if (!m_folder)
        m_folder = store.Folders().Add(m_folderName, ol::olFolderContacts);
    if (!m_folder)
        return ol::Err().Number ? ol::Err().Number : -1;
    return 0;
}

int MonitorStore::OpenMessages()
{
    if (!m_folder && Connect() != 0)
        return -1;
    m_msgFolderName = ReadSetting(Deliverable::Vigilo, settings::MsgFolder);
    m_msgFolder = m_folder.Folders().Item(m_msgFolderName);
    return m_msgFolder ? 0 : -1;
}

int MonitorStore::CreateMessages()
{
    if (!m_folder && Connect() != 0)
        return -1;
    m_msgFolder = m_folder.Folders().Add(m_msgFolderName, ol::olFolderInbox);
    return m_msgFolder ? 0 : -1;
}

bool MonitorStore::RenameMessages(const QString& newName)
{
    if (!m_msgFolder && OpenMessages() != 0) {
        // No folder of the old name to rename: the new name is taken when the folder is made.
        if (!m_folder)
            return false;
        m_msgFolderName = newName;
        return true;
    }
    if (!m_msgFolder.setName(newName))
        return false;
    m_msgFolderName = newName;
    return true;
}

void MonitorStore::setFolderName(const QString& name)
{
    m_folderName = name;
    m_folder = {};
    m_msgFolder = {};
}

void MonitorStore::Release()
{
    m_msgFolder = {};
    m_folder = {};
    m_app = {};
}

} // namespace kv::vigilo
