#pragma once
// The monitor's hold on the mail store: the application, the product's
// contacts folder and the Messages folder inside it. Taken when needed,
// dropped after a failed hand-off and when the monitor ends.
#include "Outlook/Outlook.h"

#include <QString>

namespace kv::vigilo {

class MonitorStore {
public:
    MonitorStore();
    virtual ~MonitorStore() = default;

    // Connects to the application (attaching, or starting it) and resolves
    // the product's contacts folder. 0, or nonzero when either failed.
    virtual qint32 Connect();
    bool HoldsFolder() const { return bool(m_folder); }
    const outlook::Application& application() const { return m_app; }
    const outlook::MAPIFolder& contactsFolder() const { return m_folder; }

    // The Messages folder by its name; 0 when held.
    virtual int OpenMessages();
    // Creates the Messages folder (with its welcome message); 0 when held afterwards.
    virtual int CreateMessages();
    bool HoldsMessages() const { return bool(m_msgFolder); }
    const outlook::MAPIFolder& messagesFolder() const { return m_msgFolder; }
    QString msgFolderName() const { return m_msgFolderName; }
    // Renames the Messages folder; true when the store took the new name.
    virtual bool RenameMessages(const QString& newName);

    // The options dialog chose another product folder.
    void setFolderName(const QString& name);

    virtual void Release();

private:
    QString m_service;
    QString m_folderName;
    QString m_msgFolderName;
    outlook::Application m_app;
    outlook::MAPIFolder m_folder;
    outlook::MAPIFolder m_msgFolder;
};

} // namespace kv::vigilo
