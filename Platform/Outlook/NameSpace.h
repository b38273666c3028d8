#pragma once
// The MAPI namespace: the information stores, and objects found by their EntryID.
#include "Platform/Outlook/OlError.h"
#include "Platform/Outlook/OlTypes.h"

#include <QString>
#include <memory>

namespace kv::outlook {

class NameSpace {
public:
    NameSpace() = default;
    explicit operator bool() const { return d != nullptr; }

    // The information stores (top-level folders).
    kv::outlook::Folders Folders() const;
    // The user's full name from the system, or "Unknown".
    QString CurrentUser() const;
    kv::outlook::Application Application() const;
    // An item or folder by the EntryID it was handed across with; not found: 8004010F.
    Item GetItemFromID(const QString& entryId) const;
    MAPIFolder GetFolderFromID(const QString& entryId) const;

    // Store administration for the set-up and tests: a new store holds the
    // standard folders; an existing name fails with 80040604.
    MAPIFolder AddStore(const QString& name) const;
    bool RemoveStore(const QString& name) const;
    // An offline store is listed but fails to open with 8004011D, as a mailbox
    // without its server does.
    bool SetStoreOnline(const QString& name, bool online) const;

private:
    friend class Application;
    std::shared_ptr<detail::AppData> d;
};

// The user's full name from a passwd comment field ("Ann Smith,,,"), or "Unknown".
QString FullNameFromGecos(const QString& gecos);

} // namespace kv::outlook
