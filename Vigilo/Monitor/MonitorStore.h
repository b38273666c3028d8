#pragma once
// The monitor's hold on the mail store: the application, the product's
// contacts folder and the Messages folder inside it, through the shared store
// access. Taken when needed, dropped after a failed hand-off and when the
// monitor ends.
#include "Platform/Outlook/Outlook.h"
#include "Shared/StoreAccess.h"

#include <QString>

namespace kv::vigilo {

class MonitorStore {
public:
    MonitorStore() : m_access(Deliverable::Vigilo) {}

    // Connects to the application (attaching, or starting it) and resolves
    // the product's contacts folder. 0, or nonzero when either failed.
    qint32 Connect();
    bool HoldsFolder() const { return bool(m_access.currentFolder()); }
    // The folder is held but the mail host it was taken from has gone. The
    // store file outlives the host, so the held objects still read; the
    // connection does not, and the host's windows with it.
    bool HostGone() const;
    const outlook::Application& application() const { return m_access.application(); }
    const outlook::MAPIFolder& contactsFolder() const { return m_access.currentFolder(); }

    // The Messages folder by its name (made, with its welcome message, when
    // missing); 0 when held.
    int OpenMessages();
    int CreateMessages();
    // The unread messages: 0 and the count, or -1 without the product folder
    // or when the count failed (the folders are looked up again next time).
    // A Messages folder made here counts as one unread (its welcome message).
    int CountUnread(int& count);
    bool HoldsMessages() const { return bool(m_access.messagesFolder()); }
    const outlook::MAPIFolder& messagesFolder() const { return m_access.messagesFolder(); }
    QString msgFolderName() const { return m_access.msgFolderName(); }
    // Renames the Messages folder; true when the store took the new name (or
    // there was no folder yet, which is then made under the new name).
    bool RenameMessages(const QString& newName);

    // The options dialog chose another product folder.
    void setFolderName(const QString& name);

    StoreAccess& access() { return m_access; }
    void Release() { m_access.Release(); }

private:
    StoreAccess m_access;
};

} // namespace kv::vigilo
