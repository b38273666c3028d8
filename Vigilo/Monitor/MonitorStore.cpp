#include "Vigilo/Monitor/MonitorStore.h"

#include "Platform/Outlook/WindowSide.h"

namespace kv::vigilo {

namespace ol = kv::outlook;

bool MonitorStore::HostGone() const
{
    return HoldsFolder() && !ol::WindowSide::current()->IsRunning();
}

qint32 MonitorStore::Connect()
{
    if (const qint32 error = m_access.GetOutlook(); error != 0) return error;
    return m_access.OpenFolder(m_access.folderName());
}

int MonitorStore::OpenMessages()
{
    if (!HoldsFolder() && Connect() != 0) return -1;
    return m_access.OpenMessagesFolder(m_access.msgFolderName());
}

int MonitorStore::CreateMessages()
{
    if (!HoldsFolder() && Connect() != 0) return -1;
    return m_access.CreateMessagesFolder();
}

bool MonitorStore::RenameMessages(const QString& newName)
{
    if (!HoldsFolder() && Connect() != 0) return false;
    if (!HoldsMessages()) {
        const ol::MAPIFolder existing = contactsFolder().Folders().Item(m_access.msgFolderName());
        if (!existing) {
            m_access.setMsgFolderName(newName);
            return true;
        }
        if (!existing.setName(newName)) return false;
        m_access.setMsgFolderName(newName);
        return true;
    }
    if (!messagesFolder().setName(newName)) return false;
    m_access.setMsgFolderName(newName);
    return true;
}

void MonitorStore::setFolderName(const QString& name)
{
    m_access.Release();
    m_access.setFolderName(name);
}

} // namespace kv::vigilo
