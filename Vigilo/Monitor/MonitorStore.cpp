#include "Vigilo/Monitor/MonitorStore.h"

#include "Platform/Outlook/WindowSide.h"

namespace kv::vigilo {

namespace ol = kv::outlook;
using namespace Qt::StringLiterals;

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

int MonitorStore::CountUnread(int& count)
{
    count = 0;
    // Without the product folder there is no store to count in (its error was reported when connecting).
    if (!HoldsFolder()) return -1;
    if (!HoldsMessages()) OpenMessages();
    if (!HoldsMessages()) {
        CreateMessages();
        count = 1;
        return 0;
    }
    const ol::Items unread = messagesFolder().Items().Restrict(u"[MsgRead] = False"_s);
    const int n = unread.Count();
    if (ol::Err()) {
        // The folder may have gone; resolve it again at the next poll.
        Release();
        return -1;
    }
    count = n;
    return 0;
}

void MonitorStore::setFolderName(const QString& name)
{
    m_access.Release();
    m_access.setFolderName(name);
}

} // namespace kv::vigilo
